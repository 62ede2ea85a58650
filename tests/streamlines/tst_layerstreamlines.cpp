#include "streamlines/LayerStreamlines.h"
#include "tests/common/FakeFlowData.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

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
