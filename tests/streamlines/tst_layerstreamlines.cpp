#include "streamlines/LayerStreamlines.h"
#include "streamlines/StreamlineRenderer.h"
#include "tests/common/FakeFlowData.h"
#include "transfer/ColorTable.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <cmath>
#include <limits>
#include <memory>

namespace {

bool sameLines(const std::vector<Streamline>& a, const std::vector<Streamline>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Streamline& p, const Streamline& q) {
                          return std::equal(p.begin(), p.end(), q.begin(), q.end(),
                                            [](const StreamlinePoint& s, const StreamlinePoint& t) {
                                                return s.x == t.x && s.y == t.y &&
                                                       s.texture == t.texture && s.taper == t.taper;
                                            });
                      });
}

// Sets a control as a user would.
void operate(QWidget* control, const QVariant& input)
{
    if (auto* slider = qobject_cast<QSlider*>(control))
        slider->setValue(input.toInt());
    else if (auto* spinBox = qobject_cast<QDoubleSpinBox*>(control))
        spinBox->setValue(input.toDouble());
    else if (auto* groupBox = qobject_cast<QGroupBox*>(control))
        groupBox->setChecked(input.toBool());
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->click();
}

} // namespace

using Change = std::function<void(StreamlineParameters&)>;
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(TransferFunction)

class TestLayerStreamlines : public QObject
{
    Q_OBJECT

private slots:
    void settingsReachTheTracer_data();
    void settingsReachTheTracer();
    void reportsIncompleteTracing();
    void segmentColour_data();
    void segmentColour();
    void glyphInterval_data();
    void glyphInterval();
};

void TestLayerStreamlines::settingsReachTheTracer_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("look"); // changes the picture, not the lines

    QTest::newRow("midpoint method")
        << "streamlinesRungeKuttaRadioButton" << QVariant()
        << Change([](auto& p) { p.method = RungeKuttaMethod; }) << false;
    QTest::newRow("dSep") << "streamlinesDsep" << QVariant(0.05)
                          << Change([](auto& p) { p.dSep = 0.05; }) << false;
    QTest::newRow("dTest") << "streamlinesDTest" << QVariant(0.8)
                           << Change([](auto& p) { p.dTest = 0.8; }) << false;
    QTest::newRow("step size") << "streamlinesStepSize" << QVariant(0.005)
                               << Change([](auto& p) { p.stepSize = 0.005; }) << false;
    QTest::newRow("texture length") << "streamlinesTextureLengthSlider" << QVariant(60)
                                    << Change([](auto& p) { p.textureLength = 60; }) << false;
    QTest::newRow("glyphs") << "streamlinesGlyphGroupBox" << QVariant(true) << Change() << true;
    QTest::newRow("transfer function") << "" << QVariant() << Change() << true;
}

// With auto update a tracing control retraces at once and a look control only
// redraws; without it the lines wait for the update button. The lines must be
// those of a tracer given the form's values with the one setting changed.
void TestLayerStreamlines::settingsReachTheTracer()
{
    QFETCH(QString, control);
    QFETCH(QVariant, input);
    QFETCH(Change, change);
    QFETCH(bool, look);

    FakeFlowData field(1.0f, Fields::rotation(0.4, 0.5));
    for (const bool autoUpdate : {true, false}) {
        QWidget panel;
        LayerStreamlines layer(true);
        layer.setupControls(&panel);
        layer.setFlowData(&field);
        layer.setSize(QSize(80, 80));
        layer.toggleAutoUpdate(autoUpdate);
        StreamlineParameters expected = layer.parameters();
        const std::vector<Streamline> before = layer.currentStreamlines();
        QVERIFY(sameLines(before, StreamlineTracer(expected).placeStreamlines(field)));
        const QImage picture = layer.currentImage();

        QSignalSpy changed(&layer, &Layer::layerChanged);
        if (control.isEmpty()) {
            layer.setTransferFunction(
                TransferFunction(QPolygonF({{0, 0}, {1, 0}}), {QColor(Qt::red), QColor(Qt::blue)}));
        } else {
            QWidget* widget = panel.findChild<QWidget*>(control);
            QVERIFY2(widget, qPrintable(control));
            operate(widget, input);
        }
        if (change)
            change(expected);
        const std::vector<Streamline> traced = StreamlineTracer(expected).placeStreamlines(field);
        if (!look)
            QVERIFY(!sameLines(traced, before));
        QCOMPARE(sameLines(layer.currentStreamlines(), traced), autoUpdate || look);
        if (look || !autoUpdate)
            QCOMPARE(layer.currentImage() != picture, look);
        if (!autoUpdate && !look) {
            operate(panel.findChild<QWidget*>("streamlinesDrawButton"), QVariant());
            QVERIFY(sameLines(layer.currentStreamlines(), traced));
            QVERIFY(changed.count() > 0);
        }
    }
}

void TestLayerStreamlines::segmentColour_data()
{
    QTest::addColumn<double>("texture"); // NaN: texture off
    QTest::addColumn<QColor>("expected");

    // The renderer's own test draws opaque colours; the default function is
    // half transparent white at magnitude 0.5.
    QTest::newRow("not premultiplied twice") << qQNaN() << QColor(255, 255, 255, 127);
    QTest::newRow("texture 0: black with the table's alpha") << 0.0 << QColor(0, 0, 0, 127);
}

void TestLayerStreamlines::segmentColour()
{
    QFETCH(double, texture);
    QFETCH(QColor, expected);

    StreamlineParameters look;
    look.lineWidth = 0.5; // 10 pixels: the centre row is fully covered
    look.texture = !std::isnan(texture);
    const Streamline line{{0.1, 0.25, 0.5f, look.texture ? texture : 0.5, 1.0},
                          {0.9, 0.25, 0.5f, look.texture ? texture : 0.5, 1.0}};
    const QImage image = StreamlineRenderer::render({line}, TransferFunction().colorTable(256),
                                                    QSize(200, 100), look, 0.004);
    const QColor got = QColor::fromRgba(image.pixel(100, 50));
    QVERIFY2(std::abs(got.red() - expected.red()) <= 3 &&
                 std::abs(got.green() - expected.green()) <= 3 &&
                 std::abs(got.blue() - expected.blue()) <= 3 &&
                 std::abs(got.alpha() - expected.alpha()) <= 3,
             qPrintable(QString("got %1").arg(got.name(QColor::HexArgb))));
}

void TestLayerStreamlines::glyphInterval_data()
{
    QTest::addColumn<double>("tracedStep");
    QTest::addColumn<int>("segments");
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<int>("glyphs");

    // Glyph size 0.5: interval trunc(0.04 / traced step); a glyph's base is
    // 10 pixels at 1000 pixels across.
    QTest::newRow("every fourth point") << 0.009 << 20 << false << 5;
    QTest::newRow("interval 0 means every point") << 0.05 << 8 << false << 8;
    QTest::newRow("incomplete glyph at the end is dropped") << 0.009 << 22 << false << 5;
    // Every point twice: repeats count towards the interval.
    QTest::newRow("repeated points count") << 0.009 << 20 << true << 9;
}

void TestLayerStreamlines::glyphInterval()
{
    QFETCH(double, tracedStep);
    QFETCH(int, segments);
    QFETCH(bool, stalled);
    QFETCH(int, glyphs);

    Streamline line;
    for (int k = 0; k <= segments; ++k)
        line.push_back({0.1 + tracedStep * k, 0.25, 1.0f, 0.5, 1.0});
    if (stalled)
        for (auto at = line.begin(); at != line.end(); at += 2)
            at = line.insert(at, *at);
    StreamlineParameters look;
    look.glyphs = true;
    look.glyphSize = 0.5;
    look.stepSize = 0.04; // changed after tracing: the traced step rules
    const QImage image =
        StreamlineRenderer::render({line, Streamline()}, TransferFunction().colorTable(256),
                                   QSize(1000, 500), look, tracedStep);
    int runs = 0;
    bool inside = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool painted = qAlpha(image.pixel(x, 244)) > 128; // inside the base, above the line
        runs += painted && !inside;
        inside = painted;
    }
    QCOMPARE(runs, glyphs);
    QCOMPARE(qAlpha(image.pixel(500, 256)), 0); // glyphs lie left of the travel direction
}

// A domain 100 widths tall at the start values needs some 500 000 points:
// the placement stops at its budget, the layer keeps and draws what was
// traced and says why, once per retrace, and clears the reason once a
// retrace is complete again.
void TestLayerStreamlines::reportsIncompleteTracing()
{
    FakeFlowData tall(0.01f, Fields::uniform(90.0));
    FakeFlowData square(1.0f, Fields::uniform(90.0));
    LayerStreamlines layer(true);
    layer.setSize(QSize(100, 100));
    QSignalSpy incomplete(&layer, &LayerStreamlines::tracingIncomplete);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("stopped at the point budget"));
    layer.setFlowData(&tall);
    QCOMPARE(incomplete.count(), 1);
    QVERIFY(!incomplete.takeFirst().at(0).toString().isEmpty());
    QVERIFY(!layer.incompleteReason().isEmpty());
    QVERIFY(!layer.currentStreamlines().empty());
    QVERIFY(!layer.currentImage().isNull());

    layer.setFlowData(&square);
    QCOMPARE(incomplete.count(), 1);
    QVERIFY(incomplete.takeFirst().at(0).toString().isEmpty());
    QVERIFY(layer.incompleteReason().isEmpty());
    layer.updateImage();
    QCOMPARE(incomplete.count(), 0);
}

QTEST_MAIN(TestLayerStreamlines)
#include "tst_layerstreamlines.moc"
