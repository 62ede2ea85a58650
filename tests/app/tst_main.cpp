#include "app/Main.h"
#include "app/ViewPort.h"
#include "app/shell/Layer.h"
#include "data/FlowData.h"
#include "data/FlowDataWriter.h"

#include <QAction>
#include <QComboBox>
#include <QDockWidget>
#include <QErrorMessage>
#include <QFile>
#include <QImageReader>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {

const char* const saveFailedText = "The Image couldn't saved!";

// A grid of `columns` x `rows` points, one scalar set.
bool writeFixture(const QString& dataName, int columns, int rows)
{
    QList<float> xs;
    QList<float> ys;
    for (int i = 0; i < columns; ++i)
        xs.append(float(i));
    for (int j = 0; j < rows; ++j)
        ys.append(float(j));
    FlowDataWriter writer;
    if (!writer.setGrid(xs, ys))
        return false;
    writer.setVectors(QList<Vector3>(columns * rows, Vector3(1.0f, -1.0f, 0.0f)));
    writer.addScalarSet(QList<float>(columns * rows, 1.0f));
    return writer.write(dataName);
}

bool writeBytes(const QString& fileName, const QByteArray& bytes)
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Fixture names: "wide" (4 x 2 points), "tall" (2 x 4), "truncated data"
// (a .dat shorter than the grid), "garbage header", "missing" (no files).
QString fixturePath(const QTemporaryDir& dir, const QString& fixture)
{
    return dir.filePath(QString(fixture).replace(' ', '_') + ".gri");
}

bool writeFixtures(const QTemporaryDir& dir)
{
    if (!writeFixture(dir.filePath("wide"), 4, 2) || !writeFixture(dir.filePath("tall"), 2, 4))
        return false;
    if (!writeFixture(dir.filePath("truncated_data"), 3, 3))
        return false;
    QFile data(dir.filePath("truncated_data.dat"));
    if (!data.resize(data.size() / 2))
        return false;
    QByteArray header = QByteArray("\0\0\0\0\0\0", 6) + "not a header";
    header.append(QByteArray(40 - header.size(), ' '));
    return writeBytes(dir.filePath("garbage_header.gri"), header + QByteArray(64, '\x01')) &&
           writeBytes(dir.filePath("garbage_header.dat"), QByteArray(64, '\x01'));
}

// Answers the window's file questions the way a user answers the dialogs,
// and records what each question looked like.
struct FileAnswers
{
    struct Question
    {
        QString caption;
        QString startPath;
        QString filter;
        bool save;
    };

    explicit FileAnswers(Main& window)
    {
        window.setFileNameAsker([this](const QString& caption, const QString& startPath,
                                       const QString& filter, bool save) {
            questions.append({caption, startPath, filter, save});
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
    }

    QStringList answers;
    QList<Question> questions;
};

} // namespace

class TestMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void destructionWhileWorkersRun();
    void loadSequence_data();
    void loadSequence();
    void saveImage_data();
    void saveImage();
    void fileDialogs_data();
    void fileDialogs();

private:
    QTemporaryDir fixtures;
};

void TestMain::initTestCase()
{
    QVERIFY(fixtures.isValid());
    QVERIFY(writeFixtures(fixtures));
}

// The window ends while the layers' workers still sample the data set: the
// layers must go before the data set they read (AddressSanitizer watches).
void TestMain::destructionWhileWorkersRun()
{
    const QString sample = qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/dat/vortex_street.gri";
    bool caughtRunning = false;
    for (int attempt = 0; attempt < 20 && !caughtRunning; ++attempt) {
        auto* window = new Main;
        QTest::ignoreMessage(QtDebugMsg, "loadFlowData loaded");
        QVERIFY(window->loadFlowData(sample));
        for (Layer* layer : window->viewPort()->layerList())
            caughtRunning = caughtRunning || layer->isRendering();
        delete window;
    }
    QVERIFY2(caughtRunning, "no worker was running when the window went");
}

void TestMain::loadSequence_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("secondLoads");
    QTest::addColumn<QSize>("imageSize");

    QTest::newRow("a second data set replaces the first") << "tall" << true << QSize(500, 1000);
    QTest::newRow("missing files keep the first") << "missing" << false << QSize(1000, 500);
    QTest::newRow("data file shorter than the grid keeps the first")
        << "truncated data" << false << QSize(1000, 500);
}

void TestMain::loadSequence()
{
    QFETCH(QString, second);
    QFETCH(bool, secondLoads);
    QFETCH(QSize, imageSize);

    auto* window = new Main;
    ViewPort* viewPort = window->viewPort();
    QTest::ignoreMessage(QtDebugMsg, "loadFlowData loaded");
    QVERIFY(window->loadFlowData(fixturePath(fixtures, "wide")));
    FlowData* first = window->currentFlowData();
    QVERIFY(first);
    QCOMPARE(viewPort->currentFlowData(), first);
    QCOMPARE(viewPort->imageSize(), QSize(1000, 500));

    // Inside the emission the view port has switched while the previous data
    // set is still alive and still owned by the window.
    int emissions = 0;
    connect(window, &Main::flowDataLoaded, this, [&](FlowData* loaded) {
        ++emissions;
        QCOMPARE(viewPort->currentFlowData(), loaded);
        QCOMPARE(window->currentFlowData(), first);
        QVERIFY(first->aspectRatio() > 0.0f);
    });
    QTest::ignoreMessage(QtDebugMsg, secondLoads ? "loadFlowData loaded" : "loadFlowData failed");
    QCOMPARE(window->loadFlowData(fixturePath(fixtures, second)), secondLoads);
    QCOMPARE(emissions, secondLoads ? 1 : 0);
    if (secondLoads) {
        QVERIFY(window->currentFlowData() != first);
    } else {
        QCOMPARE(window->currentFlowData(), first);
        QCOMPARE(first->resolutionXValue(), 4);
    }
    QCOMPARE(viewPort->currentFlowData(), window->currentFlowData());
    QCOMPARE(viewPort->imageSize(), imageSize);
    delete window;
}

void TestMain::saveImage_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saved");

    QTest::newRow("png extension still writes a JPEG") << true << "picture.png" << true;
    QTest::newRow("nothing loaded yet") << false << "picture.jpg" << false;
    QTest::newRow("directory does not exist") << true << "absent/picture.jpg" << false;
}

void TestMain::saveImage()
{
    QFETCH(bool, loaded);
    QFETCH(QString, name);
    QFETCH(bool, saved);

    Main window;
    if (loaded)
        QVERIFY(window.loadFlowData(fixturePath(fixtures, "wide")));
    QTemporaryDir out;
    const QString fileName = out.filePath(name);
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Pfad vom File: " + fileName));
    if (saved)
        QTest::ignoreMessage(QtDebugMsg, "saved");
    QCOMPARE(window.saveImage(fileName), saved);

    auto* dialog = window.findChild<QErrorMessage*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->isVisible(), !saved);
    if (!saved) {
        QVERIFY(dialog->findChild<QTextEdit*>()->toPlainText().contains(saveFailedText));
        QVERIFY(!QFile::exists(fileName));
        // A second failure reuses the dialog.
        QVERIFY(!window.saveImage(fileName));
        QCOMPARE(window.findChildren<QErrorMessage*>().size(), 1);
        return;
    }
    QFile file(fileName);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.read(3), QByteArray("\xFF\xD8\xFF", 3));
    file.close();
    QImageReader reader(fileName);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(1000, 500));
}

void TestMain::fileDialogs_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("answer"); // fixture or output name; empty cancels
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<bool>("nextOpensAtAnswer");

    const QString load("actionLoad_Flow_Data");
    const QString save("actionSave_Image");
    QTest::newRow("load accepted") << load << QString("wide") << true << true;
    QTest::newRow("load cancelled") << load << QString() << false << false;
    QTest::newRow("failed load still moves the dialog")
        << load << QString("garbage header") << false << true;
    QTest::newRow("save accepted") << save << QString("dialog.jpg") << true << true;
    QTest::newRow("save cancelled") << save << QString() << true << false;
}

void TestMain::fileDialogs()
{
    QFETCH(QString, action);
    QFETCH(QString, answer);
    QFETCH(bool, loaded);
    QFETCH(bool, nextOpensAtAnswer);

    const bool saving = action == "actionSave_Image";
    QTemporaryDir out;
    Main window;
    FileAnswers user(window);
    if (saving)
        QVERIFY(window.loadFlowData(fixturePath(fixtures, "wide")));
    const QString fileName = answer.isEmpty() ? QString()
                             : saving         ? out.filePath(answer)
                                              : fixturePath(fixtures, answer);

    user.answers = {fileName, QString()};
    window.findChild<QAction*>(action)->trigger();
    QCOMPARE(user.questions.size(), 1);
    const FileAnswers::Question first = user.questions.at(0);
    QCOMPARE(first.save, saving);
    QCOMPARE(first.caption, saving ? QString("Save Image") : QString("Load Flow Data"));
    QCOMPARE(first.startPath, saving ? QString("pictures") : QString("dat"));
    QCOMPARE(first.filter, saving ? QString("jpg (*.jpeg *.jpg *.jpe);;All Files (*)")
                                  : QString("Flow Data (*.gri);;All Files (*)"));
    QCOMPARE(window.currentFlowData() != nullptr, loaded);
    if (saving && !answer.isEmpty())
        QCOMPARE(QImageReader(fileName).size(), QSize(1000, 500));

    // The next dialog opens where the last accepted one ended; a cancelled
    // one moves nothing.
    window.findChild<QAction*>(action)->trigger();
    QCOMPARE(user.questions.size(), 2);
    QCOMPARE(user.questions.at(1).startPath, nextOpensAtAnswer ? fileName : first.startPath);
}

QTEST_MAIN(TestMain)
#include "tst_main.moc"
