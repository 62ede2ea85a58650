// The whole program as a user drives it: the main window with its six layers,
// a data set loaded through it, transfer functions edited with the mouse,
// zoom and pan on the view port, and the headless renderer.

#include "tests/common/TestEnvironment.h"
#include "tests/transfer/MouseScript.h"

#include "app/Main.h"
#include "app/shell/CollapseableWidget.h"
#include "app/shell/Layer.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"
#include "transfer/HoverPoints.h"
#include "transfer/TransferFunctionWidget.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// As a user would: double-click both end points to give them the colour,
// then drag the left one (transparent at start) to the top, so the whole
// function is opaque `color`.
void makeOpaque(TransferFunctionWidget* function, const QColor& color)
{
    function->editor()->setColorPicker([color](const QColor&) { return color; });
    const int w = function->width();
    const int h = function->height();
    play(function, fullDoubleClick(w - 2, 2));
    play(function, fullDoubleClick(2, h - 2));
    play(function, {press(2, h - 2), move(2, h / 2), move(2, 0), release(2, 0)});
}

// Pure colours that no blend of blue, red and green at the edges reaches.
bool isSaturatedMix(const QColor& c)
{
    const int high = (c.red() > 200) + (c.green() > 200) + (c.blue() > 200);
    const int low = (c.red() < 60) + (c.green() < 60) + (c.blue() < 60);
    return high == 2 && low == 1; // yellow, magenta or cyan
}

class Window
{
public:
    Window()
    {
        window.resize(1100, 800);
        window.show();
    }
    Main window;
    ViewPort& viewPort() { return *window.viewPort(); }
    Layer* layer(int i) { return viewPort().layerList().at(i); }
    // The picture layer i holds; the stack holds each kind's pair in turn.
    QImage image(int i)
    {
        const LayerStack stack = viewPort().layerStack();
        QList<QImage> images;
        for (const LayerColorCoding* coding : stack.colorCodings())
            images << coding->currentImage();
        for (const LayerStreamlines* lines : stack.streamlines())
            images << lines->currentImage();
        for (const LayerArrows* arrows : stack.arrows())
            images << arrows->currentImage();
        return images.at(i);
    }
    bool finishRendering() { return viewPort().layerStack().finishRendering(60000); }
};

const int colorCodingHidden = 0;
const int colorCodingShown = 1;
const int streamlinesHidden = 2;
const int streamlinesShown = 3;
const int arrowsHidden = 4;
const int arrowsShown = 5;

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropDebugLines(); }
    void stackOrderAndOpacity();
    void zoomRendersAndPanDoesNot();
    void render_data();
    void render();
};

void TestEndToEnd::stackOrderAndOpacity()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(w.window.loadFlowData(samplePath("vortex_street")));
    QVERIFY(w.finishRendering());

    // Distinct opaque colours per layer; the hidden ones get colours that
    // must not appear anywhere in the picture.
    const QList<QColor> colors = {Qt::yellow, Qt::blue, Qt::magenta, Qt::red, Qt::cyan, Qt::green};
    const QList<CollapseableWidget*> panels =
        w.window.findChild<QWidget*>("scrollAreaWidgetContents")
            ->findChildren<CollapseableWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(panels.size(), 6);
    for (int i = 0; i < panels.size(); ++i) {
        if (panels[i]->maximumHeight() <= 24)
            panels[i]->toggleCollapsed();
    }
    QCoreApplication::processEvents();
    // Lines four pixels wide, so that their cores are fully opaque.
    panels[streamlinesShown]->findChild<QSlider*>("streamlinesWidthSlider")->setValue(20);
    for (int i = 0; i < panels.size(); ++i)
        makeOpaque(panels[i]->findChild<TransferFunctionWidget*>(), colors[i]);

    const QSize size = w.viewPort().imageSize();
    const QImage picture = w.viewPort().renderImage();
    QCOMPARE(picture.size(), size);
    const QImage arrows = w.image(arrowsShown);
    const QImage lines = w.image(streamlinesShown);
    QCOMPARE(arrows.size(), size);
    QCOMPARE(lines.size(), size);

    int arrowPixels = 0;
    int linePixels = 0;
    int fieldPixels = 0;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QColor c = QColor::fromRgba(picture.pixel(x, y));
            QVERIFY2(!isSaturatedMix(c),
                     qPrintable(QString("a hidden layer shows at pixel (%1, %2)").arg(x).arg(y)));
            // The picture shows y up: layer image row 0 is its bottom row.
            const int row = size.height() - 1 - y;
            const int arrowAlpha = qAlpha(arrows.pixel(x, row));
            const int lineAlpha = qAlpha(lines.pixel(x, row));
            QColor expected;
            if (arrowAlpha == 255) {
                expected = Qt::green;
                ++arrowPixels;
            } else if (arrowAlpha == 0 && lineAlpha == 255) {
                expected = Qt::red;
                ++linePixels;
            } else if (arrowAlpha == 0 && lineAlpha == 0) {
                expected = Qt::blue;
                ++fieldPixels;
            } else {
                continue; // antialiased edges
            }
            QVERIFY2(std::abs(c.red() - expected.red()) <= 2 &&
                         std::abs(c.green() - expected.green()) <= 2 &&
                         std::abs(c.blue() - expected.blue()) <= 2,
                     qPrintable(QString("pixel (%1, %2)").arg(x).arg(y)));
        }
    }
    QVERIFY2(arrowPixels > 1000, qPrintable(QString::number(arrowPixels)));
    QVERIFY2(linePixels > 1000, qPrintable(QString::number(linePixels)));
    QVERIFY2(fieldPixels > size.width() * size.height() / 2,
             qPrintable(QString::number(fieldPixels)));

    // What Save Image writes is that picture, whatever the window size.
    QTemporaryDir out;
    const QString file = out.filePath("street.png");
    QVERIFY(w.window.saveImage(file));
    QCOMPARE(QImage(file), picture.convertToFormat(QImage::Format_ARGB32));
}

void TestEndToEnd::zoomRendersAndPanDoesNot()
{
    Window w;
    QVERIFY(QTest::qWaitForWindowExposed(&w.window));
    QVERIFY(w.window.loadFlowData(samplePath("double_gyre")));
    QVERIFY(w.finishRendering());
    const QSize before = w.viewPort().imageSize();

    QVERIFY(w.viewPort().setScale(1.25f));
    QVERIFY(w.finishRendering());
    const QSize after = w.viewPort().imageSize();
    QVERIFY(after.width() > before.width());
    QList<QImage> images;
    for (int i = 0; i < 6; ++i)
        images << w.image(i);
    // Hidden layers render nothing; shown, they render what they would have.
    for (int i = 0; i < images.size(); ++i)
        QVERIFY2((images[i].size() == after) == w.layer(i)->isVisible(),
                 qPrintable(QString("layer %1").arg(i)));
    for (const int i : {colorCodingHidden, streamlinesHidden, arrowsHidden})
        w.layer(i)->setVisibility(true);
    QVERIFY(w.finishRendering());
    QCOMPARE(w.image(colorCodingHidden).size(), after);
    QCOMPARE(w.image(streamlinesHidden), images[streamlinesShown]);
    QCOMPARE(w.image(arrowsHidden), images[arrowsShown]);
    for (const int i : {colorCodingHidden, streamlinesHidden, arrowsHidden})
        w.layer(i)->setVisibility(false);

    // A pan moves the view only: no layer renders or announces a change.
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (Layer* layer : w.viewPort().layerList())
        spies.push_back(std::make_unique<QSignalSpy>(layer, &Layer::layerChanged));
    const double centerXBefore = w.viewPort().centerFractionX();
    play(&w.viewPort(), {press(400, 300), move(420, 300), move(460, 310), release(460, 310)});
    QVERIFY(w.viewPort().centerFractionX() < centerXBefore);
    for (const auto& spy : spies)
        QCOMPARE(spy->count(), 0);
    for (const int i : {colorCodingShown, streamlinesShown})
        QCOMPARE(w.image(i).cacheKey(), images[i].cacheKey());
}

void TestEndToEnd::render_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<double>("scale");

    QTest::newRow("double gyre, half scale")
        << samplePath("double_gyre") << QStringList{"--scale", "0.5"} << "b.jpg" << 0 << 0.5;
    QTest::newRow("not a colour") << samplePath("vortex_street")
                                  << QStringList{"--background", "nocolour"} << "j.png" << 2 << 1.0;
    QTest::newRow("missing file") << samplePath("missing") << QStringList() << "f.png" << 1 << 1.0;
}

void TestEndToEnd::render()
{
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(int, exitCode);
    QFETCH(double, scale);

    QTemporaryDir dir;
    const QString outputPath = dir.filePath(output);

    QProcess process;
    process.start(VELMORA_RENDER_PROGRAM, QStringList{input, outputPath} + options);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    if (exitCode != 0) {
        QVERIFY(!process.readAllStandardError().isEmpty());
        QVERIFY(!QFile::exists(outputPath));
        return;
    }
    const QImage picture(outputPath);
    QVERIFY(!picture.isNull());
    const std::unique_ptr<FlowData> data(FlowData::fromFile(input));
    QVERIFY(data);
    QCOMPARE(picture.size(), ViewPort::imageSizeFor(data->aspectRatio(), float(scale)));
    // The default functions are white ramps over the view's background: the
    // layers must have left more than a few shades of it.
    QSet<QRgb> colors;
    for (int y = 0; y < picture.height(); y += 3)
        for (int x = 0; x < picture.width(); x += 3)
            colors.insert(picture.pixel(x, y));
    QVERIFY2(colors.size() > 10, qPrintable(QString::number(colors.size())));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
