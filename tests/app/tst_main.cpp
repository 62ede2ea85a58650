#include "app/Main.h"
#include "app/Version.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/FlowFileReader.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QErrorMessage>
#include <QFile>
#include <QImageReader>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
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

QMenu* menuNamed(Main& window, const QString& name)
{
    return window.findChild<QMenu*>(name);
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
    void actions_data();
    void actions();
    void formStructure();
    void actionsAreWired();
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

void TestMain::actions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shortcut");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<int>("position"); // separators count as entries

    const auto row = [](const char* tag, const char* name, const char* text, const char* shortcut,
                        const char* menu, int position) {
        QTest::newRow(tag) << QString(name) << QString(text) << QString(shortcut) << QString(menu)
                           << position;
    };
    row("load", "actionLoad_Flow_Data", "Load Flow Data", "Ctrl+L", "menuFile", 0);
    row("save", "actionSave_Image", "Save Image", "Ctrl+S", "menuFile", 2);
    row("quit", "actionQuit", "Quit", "Ctrl+Q", "menuFile", 4);
    row("fit", "actionFit_to_Screen", "Fit to Screen", "Ctrl+F", "menuView", 0);
    row("about", "actionAbout", "About Velmora", "", "menuHelp", 0);
    row("save properties", "actionSave_Properties", "Save Properties", "", "", -1);
    row("load properties", "actionLoad_Properties", "Load Properties", "", "", -1);
}

void TestMain::actions()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, shortcut);
    QFETCH(QString, menu);
    QFETCH(int, position);

    Main window;
    auto* action = window.findChild<QAction*>(name);
    QVERIFY(action);
    QCOMPARE(action->parent(), &window);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->shortcut(), QKeySequence(shortcut));

    const QStringList menus{"menuFile", "menuView", "menuHelp"};
    for (const QString& menuName : menus) {
        const QList<QAction*> entries = menuNamed(window, menuName)->actions();
        if (menuName == menu) {
            QVERIFY(position < entries.size());
            QCOMPARE(entries.at(position), action);
        } else {
            QVERIFY2(!entries.contains(action), qPrintable(menuName));
        }
    }
}

void TestMain::formStructure()
{
    Main window;
    QCOMPARE(window.objectName(), QString("MainWindow"));
    QCOMPARE(window.windowTitle(), QString("Velmora"));

    auto* central = window.findChild<QWidget*>("centralwidget");
    QCOMPARE(window.centralWidget(), central);
    auto* viewPort = window.findChild<ViewPort*>("viewPort");
    QCOMPARE(window.viewPort(), viewPort);
    QCOMPARE(viewPort->parentWidget(), central);

    QCOMPARE(window.menuBar()->objectName(), QString("menubar"));
    const QList<QAction*> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus.at(0)->menu(), menuNamed(window, "menuFile"));
    QCOMPARE(menus.at(0)->text(), QString("File"));
    QCOMPARE(menus.at(1)->menu(), menuNamed(window, "menuView"));
    QCOMPARE(menus.at(1)->text(), QString("View"));
    QCOMPARE(menus.at(2)->menu(), menuNamed(window, "menuHelp"));
    QCOMPARE(menus.at(2)->text(), QString("Help"));
    const QList<QAction*> fileEntries = menuNamed(window, "menuFile")->actions();
    QCOMPARE(fileEntries.size(), 5);
    QVERIFY(fileEntries.at(1)->isSeparator());
    QVERIFY(fileEntries.at(3)->isSeparator());
    QCOMPARE(window.statusBar()->objectName(), QString("statusbar"));

    auto* dock = window.findChild<QDockWidget*>("dockWidget");
    QVERIFY(dock);
    QCOMPARE(dock->windowTitle(), QString("Properties"));
    QCOMPARE(window.dockWidgetArea(dock), Qt::LeftDockWidgetArea);
    QCOMPARE(dock->widget()->objectName(), QString("dockWidgetContents"));
    auto* dockLayout = qobject_cast<QVBoxLayout*>(dock->widget()->layout());
    QVERIFY(dockLayout);
    QCOMPARE(dockLayout->count(), 2);

    auto* propertiesRow = window.findChild<QWidget*>("loadSaveProperties");
    QCOMPARE(dockLayout->itemAt(0)->widget(), propertiesRow);
    auto* combo = window.findChild<QComboBox*>("propertiesComboBox");
    QVERIFY(combo->isEditable());
    QCOMPARE(combo->parentWidget(), propertiesRow);
    auto* saveButton = window.findChild<QPushButton*>("saveProperties");
    QCOMPARE(saveButton->text(), QString("Save"));
    QCOMPARE(saveButton->parentWidget(), propertiesRow);

    auto* scrollArea = window.findChild<QScrollArea*>("scrollArea");
    QCOMPARE(dockLayout->itemAt(1)->widget(), scrollArea);
    QVERIFY(scrollArea->widgetResizable());
    QCOMPARE(scrollArea->widget()->objectName(), QString("scrollAreaWidgetContents"));
    // The panels of the view port's layers, then the spacer that packs them.
    const QLayout* column = scrollArea->widget()->layout();
    QCOMPARE(column->count(), viewPort->layerList().size() + 1);
    QVERIFY(column->itemAt(column->count() - 1)->spacerItem());
}

void TestMain::actionsAreWired()
{
    Main window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFlowData(fixturePath(fixtures, "wide")));
    ViewPort* viewPort = window.viewPort();
    const QSize fitted = viewPort->size();
    QVERIFY(!fitted.isEmpty());

    window.findChild<QAction*>("actionFit_to_Screen")->trigger();
    const QSize image = viewPort->imageSize();
    // Aspect 2: the whole image fits, touching the view in one direction.
    QVERIFY(image.width() <= fitted.width() && image.height() <= fitted.height());
    QVERIFY(image.width() >= fitted.width() - 1 || image.height() >= fitted.height() - 1);

    // Help > About opens a modal box naming the program's and Qt's versions;
    // the timer answers it as a user would.
    QString aboutText;
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&aboutText] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            aboutText = box->text();
            box->accept();
        }
    });
    closer.start(10);
    window.findChild<QAction*>("actionAbout")->trigger();
    closer.stop();
    QVERIFY2(aboutText.contains(QLatin1String(velmoraVersion)), qPrintable(aboutText));
    QVERIFY2(aboutText.contains(QLatin1String(qVersion())), qPrintable(aboutText));

    window.findChild<QAction*>("actionQuit")->trigger();
    QVERIFY(!window.isVisible());
}

void TestMain::loadSequence_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("secondLoads");
    QTest::addColumn<QSize>("imageSize");

    QTest::newRow("a second data set replaces the first") << "tall" << true << QSize(500, 1000);
    QTest::newRow("missing files keep the first") << "missing" << false << QSize(1000, 500);
    QTest::newRow("unparsable header keeps the first")
        << "garbage header" << false << QSize(1000, 500);
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
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("format");

    QTest::newRow("jpg") << true << "picture.jpg" << true << "picture.jpg" << QByteArray("jpeg");
    QTest::newRow("png extension writes a PNG")
        << true << "picture.png" << true << "picture.png" << QByteArray("png");
    QTest::newRow("other extension writes a JPEG")
        << true << "picture.tif" << true << "picture.tif" << QByteArray("jpeg");
    QTest::newRow("no extension gets .jpg")
        << true << "picture" << true << "picture.jpg" << QByteArray("jpeg");
    QTest::newRow("nothing loaded yet")
        << false << "picture.jpg" << false << "picture.jpg" << QByteArray();
    QTest::newRow("directory does not exist")
        << true << "absent/picture.jpg" << false << "absent/picture.jpg" << QByteArray();
}

void TestMain::saveImage()
{
    QFETCH(bool, loaded);
    QFETCH(QString, name);
    QFETCH(bool, saved);
    QFETCH(QString, written);
    QFETCH(QByteArray, format);

    Main window;
    if (loaded)
        QVERIFY(window.loadFlowData(fixturePath(fixtures, "wide")));
    QTemporaryDir out;
    const QString fileName = out.filePath(written);
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Pfad vom File: " + fileName));
    if (saved)
        QTest::ignoreMessage(QtDebugMsg, "saved");
    if (!saved)
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("Main/saveImage: The Image couldn't saved! " + fileName));
    QCOMPARE(window.saveImage(out.filePath(name)), saved);

    auto* dialog = window.findChild<QErrorMessage*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->isVisible(), !saved);
    if (!saved) {
        QVERIFY(dialog->findChild<QTextEdit*>()->toPlainText().contains(saveFailedText));
        QVERIFY(!QFile::exists(fileName));
        // A second failure reuses the dialog and still writes its line.
        QTest::ignoreMessage(QtDebugMsg, qPrintable("Pfad vom File: " + fileName));
        QTest::ignoreMessage(QtDebugMsg,
                             qPrintable("Main/saveImage: The Image couldn't saved! " + fileName));
        QVERIFY(!window.saveImage(fileName));
        QCOMPARE(window.findChildren<QErrorMessage*>().size(), 1);
        return;
    }
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), format);
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
    QCOMPARE(first.filter, saving ? QString("jpg (*.jpeg *.jpg *.jpe);;png (*.png);;All Files (*)")
                                  : FlowFileReader::fileDialogFilters().join(";;"));
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
