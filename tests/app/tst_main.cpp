#include "app/CommandLine.h"
#include "app/Main.h"
#include "app/shell/Layer.h"
#include "app/ViewPort.h"
#include "streamlines/LayerStreamlines.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"

#include <QCommandLineParser>
#include <QDropEvent>
#include <QErrorMessage>
#include <QImageReader>
#include <QMimeData>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

namespace {

const char* const saveFailedText = "The Image couldn't saved!";

// A grid of `columns` x `rows` points, one scalar set.
bool writeFixture(const QString& dataName, int columns, int rows)
{
    const int points = columns * rows;
    return FlowFiles::Grid{FlowFiles::axis(columns, 0, columns - 1),
                           FlowFiles::axis(rows, 0, rows - 1),
                           QList<Vector3>(points, Vector3(1.0f, -1.0f, 0.0f)),
                           {QList<float>(points, 1.0f)}}
        .write(dataName);
}

// "wide" (4 x 2 points), "tall" (2 x 4), "cut" (a .dat shorter than the grid).
QString fixturePath(const QTemporaryDir& dir, const QString& fixture)
{
    return dir.filePath(fixture + ".gri");
}

bool writeFixtures(const QTemporaryDir& dir)
{
    if (!writeFixture(dir.filePath("wide"), 4, 2) || !writeFixture(dir.filePath("tall"), 2, 4) ||
        !writeFixture(dir.filePath("cut"), 3, 3))
        return false;
    QFile data(dir.filePath("cut.dat"));
    return data.resize(data.size() / 2);
}

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
    void openFile_data();
    void openFile();

private:
    QTemporaryDir fixtures;
};

void TestMain::initTestCase()
{
    QVERIFY(fixtures.isValid());
    QVERIFY(writeFixtures(fixtures));
}

// A data set is replaced, and then the window ends, while the layers' workers
// still sample: the layers must let go of a data set before it goes
// (AddressSanitizer watches).
void TestMain::destructionWhileWorkersRun()
{
    const QString sample = samplePath("vortex_street");
    bool caughtRunning = false;
    for (int attempt = 0; attempt < 20 && !caughtRunning; ++attempt) {
        auto* window = new Main;
        // The largest pictures keep the workers busy for a while; without the
        // streamlines, drawn on this thread, the check comes before they finish.
        window->viewPort()->setScale(ViewPort::maximumScale);
        for (LayerStreamlines* lines : window->viewPort()->layerStack().streamlines())
            lines->setVisibility(false);
        QVERIFY(window->loadFlowData(sample));
        for (Layer* layer : window->viewPort()->layerList())
            caughtRunning = caughtRunning || layer->isRendering();
        QVERIFY(window->loadFlowData(fixturePath(fixtures, "tall")));
        delete window;
    }
    QVERIFY2(caughtRunning, "no worker was running when the window went");
}

void TestMain::loadSequence_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("secondLoads");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<bool>("moving");

    QTest::newRow("a second data set replaces the first")
        << "tall" << true << QSize(500, 1000) << false;
    QTest::newRow("data file shorter than the grid keeps the first")
        << "cut" << false << QSize(1000, 500) << false;
    // The layers show the moving frame's copy; the file's data set stays the
    // window's and goes only after the view has switched.
    QTest::newRow("a second data set, seen moving with the mean")
        << "tall" << true << QSize(500, 1000) << true;
}

void TestMain::loadSequence()
{
    QFETCH(QString, second);
    QFETCH(bool, secondLoads);
    QFETCH(QSize, imageSize);
    QFETCH(bool, moving);

    auto* window = new Main;
    ViewPort* viewPort = window->viewPort();
    QVERIFY(window->loadFlowData(fixturePath(fixtures, "wide")));
    FlowData* first = window->currentFlowData();
    QVERIFY(first);
    if (moving)
        window->setReferenceFrame(ReferenceFrame::withMean());
    QCOMPARE(viewPort->currentFlowData(), window->shownFlowData());
    QCOMPARE(viewPort->currentFlowData() != first, moving);
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
    QCOMPARE(window->loadFlowData(fixturePath(fixtures, second)), secondLoads);
    QCOMPARE(emissions, secondLoads ? 1 : 0);
    if (secondLoads) {
        QVERIFY(window->currentFlowData() != first);
    } else {
        QCOMPARE(window->currentFlowData(), first);
        QCOMPARE(first->resolutionXValue(), 4);
        QCOMPARE(window->statusBar()->currentMessage(),
                 QString("Could not load cut.gri: data file shorter than the header promises"));
    }
    QCOMPARE(viewPort->currentFlowData(), window->shownFlowData());
    QCOMPARE(viewPort->currentFlowData() != window->currentFlowData(), moving);
    QCOMPARE(viewPort->imageSize(), imageSize);
    delete window;
}

void TestMain::saveImage_data()
{
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QString>("written");

    // A .png is written as PNG (the end-to-end test reads it back exactly);
    // every other name as JPEG.
    QTest::newRow("other extension writes a JPEG")
        << true << "picture.tif" << true << "picture.tif";
    QTest::newRow("no extension gets .jpg") << true << "picture" << true << "picture.jpg";
    QTest::newRow("nothing loaded yet") << false << "picture.jpg" << false << "picture.jpg";
    QTest::newRow("directory does not exist")
        << true << "absent/picture.jpg" << false << "absent/picture.jpg";
}

void TestMain::saveImage()
{
    QFETCH(bool, loaded);
    QFETCH(QString, name);
    QFETCH(bool, saved);
    QFETCH(QString, written);

    Main window;
    if (loaded)
        QVERIFY(window.loadFlowData(fixturePath(fixtures, "wide")));
    QTemporaryDir out;
    const QString fileName = out.filePath(written);
    QCOMPARE(window.saveImage(out.filePath(name)), saved);

    auto* dialog = window.findChild<QErrorMessage*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->isVisible(), !saved);
    if (!saved) {
        QVERIFY(dialog->findChild<QTextEdit*>()->toPlainText().contains(saveFailedText));
        QVERIFY(!QFile::exists(fileName));
        // A second failure reuses the dialog and still writes its line, which
        // stays when the dialog has been told to keep quiet.
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("Main/saveImage: The Image couldn't saved! " + fileName));
        QVERIFY(!window.saveImage(fileName));
        QCOMPARE(window.findChildren<QErrorMessage*>().size(), 1);
        return;
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.size(), QSize(1000, 500));
}

// A file named on the command line (with its load options) or dropped on the
// window opens as the Load dialog's choice; "" for `dropped` is a command line.
void TestMain::openFile_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<QString>("message");

    QTest::newRow("command line: a pair opens")
        << QStringList{"wide.gri"} << QStringList() << "wide: 4 × 2 grid";
    QTest::newRow("command line: of several files the first opens")
        << QStringList{"tall.dat", "wide.gri"} << QStringList() << "tall: 2 × 4 grid";
    QTest::newRow("command line: a bad file says why, the window stays")
        << QStringList{"cut.gri"} << QStringList()
        << "Could not load cut.gri: data file shorter than the header promises";
    QTest::newRow("drop: the first local file opens")
        << QStringList() << QStringList{"https://example.org/wide.gri", "tall.dat", "wide.gri"}
        << "tall: 2 × 4 grid";
    QTest::newRow("drop: no local file is refused")
        << QStringList() << QStringList{"https://example.org/wide.gri"} << "";
}

void TestMain::openFile()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, dropped);
    QFETCH(QString, message);

    Main window;
    window.show();
    if (dropped.isEmpty()) {
        QCommandLineParser parser;
        CommandLine::describe(parser);
        QVERIFY(parser.parse(QStringList{"velmora"} + arguments));
        QString problem;
        std::optional<CommandLine> line = CommandLine::read(parser, &problem);
        QVERIFY2(line, qPrintable(problem));
        window.openFlowData(fixtures.filePath(line->fileName), line->options);
    } else {
        QMimeData mimeData;
        QList<QUrl> urls;
        for (const QString& name : dropped)
            urls << (name.contains(':') ? QUrl(name)
                                        : QUrl::fromLocalFile(fixtures.filePath(name)));
        mimeData.setUrls(urls);
        const QPoint centre = window.rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QCOMPARE(enter.isAccepted(), !message.isEmpty());
        QDropEvent drop(QPointF(centre), Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
    }
    if (message.isEmpty())
        QCoreApplication::processEvents();
    else
        QTRY_VERIFY(window.statusBar()->currentMessage().startsWith(message));
    QCOMPARE(window.currentFlowData() != nullptr, message.contains("grid"));
    QVERIFY(window.isVisible());
}

QTEST_MAIN(TestMain)
#include "tst_main.moc"
