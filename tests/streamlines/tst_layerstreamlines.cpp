#include "streamlines/LayerStreamlines.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
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
    void seedsMatchVelmoraTrace_data();
    void seedsMatchVelmoraTrace();
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
            layer.setTransferFunction(TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                                                       {QColor(Qt::red), QColor(Qt::blue)}));
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

void TestLayerStreamlines::seedsMatchVelmoraTrace_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QPointF>("from");
    QTest::addColumn<QPointF>("to");
    QTest::addColumn<QPointF>("low");  // the grid's lowest x and y
    QTest::addColumn<double>("width"); // its extent along x

    // From the floor up to below the main vortex: its closed lines cross the
    // rake once.
    QTest::newRow("rake across the cavity")
        << "cavity" << QPointF(0.5, 0.05) << QPointF(0.5, 0.6) << QPointF(0, 0) << 1.0;
    QTest::newRow("rake across the vortex street wake")
        << "vortex_street" << QPointF(9, -4) << QPointF(9, 4) << QPointF(-3, -5) << 20.0;
}

// The layer places the seeds of a file's coordinates on the data, a line
// through each, and velmora-trace --seeds traces the same lines bit for bit.
void TestLayerStreamlines::seedsMatchVelmoraTrace()
{
    QFETCH(QString, sample);
    QFETCH(QPointF, from);
    QFETCH(QPointF, to);
    QFETCH(QPointF, low);
    QFETCH(double, width);
    const int count = 10;
    QList<QPointF> seeds;
    QTemporaryDir folder;
    QFile list(folder.filePath("rake.csv"));
    QVERIFY(list.open(QIODevice::WriteOnly | QIODevice::Text));
    list.write("x,y\n");
    for (int k = 0; k < count; ++k) {
        seeds.append(from + (to - from) * (double(k) / (count - 1)));
        list.write(QByteArray::number(seeds.last().x(), 'g', 17) + ',' +
                   QByteArray::number(seeds.last().y(), 'g', 17) + '\n');
    }
    list.close();

    std::unique_ptr<FlowData> data(FlowData::fromFile(samplePath(sample)));
    QVERIFY(data);
    LayerStreamlines layer(true);
    layer.setSeeds(seeds, true);
    layer.setFlowData(data.get());
    const std::vector<Streamline>& lines = layer.currentStreamlines();
    QVERIFY(int(lines.size()) > count);
    for (int k = 0; k < count; ++k) {
        const double x = (seeds[k].x() - low.x()) / width, y = (seeds[k].y() - low.y()) / width;
        QVERIFY(std::any_of(lines[k].begin(), lines[k].end(), [&](const StreamlinePoint& p) {
            return std::hypot(p.x - x, p.y - y) < 1e-12;
        }));
    }

    QProcess trace;
    const StreamlineParameters& params = layer.parameters();
    trace.start(VELMORA_TRACE_PROGRAM, {samplePath(sample), "--seeds", list.fileName(), "--step",
                                        QString::number(params.stepSize, 'g', 17), "--dsep",
                                        QString::number(params.dSep, 'g', 17), "--dtest",
                                        QString::number(params.dTest, 'g', 17)});
    QVERIFY(trace.waitForFinished(60000));
    QCOMPARE(trace.exitCode(), 0);
    const QList<QByteArray> rows = trace.readAllStandardOutput().trimmed().split('\n');
    std::size_t row = 1;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        for (const StreamlinePoint& p : lines[l]) {
            QVERIFY(row < std::size_t(rows.size()));
            const QList<QByteArray> fields = rows[qsizetype(row++)].split(',');
            QCOMPARE(fields[0].toULongLong(), l);
            QCOMPARE(fields[1].toDouble(), p.x);
            QCOMPARE(fields[2].toDouble(), p.y);
        }
    }
    QCOMPARE(row, std::size_t(rows.size()));
}

QTEST_MAIN(TestLayerStreamlines)
#include "tst_layerstreamlines.moc"
