#include "data/FlowData.h"
#include "streamlines/LayerStreamlines.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunctionWidget.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

// A data set with one vector everywhere over a domain 1 wide and 1 / aspect high.
class UniformFlow : public FlowData
{
public:
    UniformFlow(float aspectRatio, Vector3 velocity) : velocity(velocity)
    {
        aspect = aspectRatio;
        resolutionX = 2;
        resolutionY = 2;
    }
    Vector3 vectorAt(double, double) const override { return velocity; }

private:
    Vector3 velocity;
};

// Counts the timer lines of retracing and redrawing; everything else passes on.
struct TimerLines
{
    static inline int traces = 0;
    static inline int draws = 0;
    static inline QtMessageHandler previous = nullptr;

    static void reset() { traces = draws = 0; }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const bool timed = text.contains(QLatin1String("time:"));
        if (timed && text.startsWith(QLatin1String("LayerStreamlines/genStreamline")))
            ++traces;
        else if (timed && text.startsWith(QLatin1String("LayerStreamlines/drawImage")))
            ++draws;
        else if (previous)
            previous(type, context, text);
    }
};

class ProbedLayer : public LayerStreamlines
{
public:
    ProbedLayer() : LayerStreamlines(true) {}

    using LayerStreamlines::image;
    using LayerStreamlines::replaceStreamlines;
    using LayerStreamlines::streamlines;

    double field(const QString& name) const
    {
        const QHash<QString, double> values{
            {"stepSize", settings.stepSize},
            {"lineWidth", settings.lineWidth},
            {"dSep", settings.dSep},
            {"dTest", settings.dTest},
            {"glyphSize", settings.glyphSize},
            {"textureLength", settings.textureLength},
            {"method", double(settings.method)},
            {"autoUpdate", double(autoUpdate)},
            {"glyphMappingEnabled", double(settings.glyphs)},
            {"textureEnabled", double(settings.texture)},
            {"taperingEnabled", double(settings.tapering)},
        };
        return values.value(name, std::numeric_limits<double>::quiet_NaN());
    }
};

StreamlinePoint point(double x, double y, float magnitude = 1.0f, double texture = 0.5,
                      double taper = 1.0)
{
    return {x, y, magnitude, texture, taper};
}

// A horizontal line at height y from x0 to x1 in `segments` equal steps.
Streamline horizontalLine(double y, double x0, double x1, int segments)
{
    Streamline line;
    for (int k = 0; k <= segments; ++k)
        line.push_back(point(x0 + (x1 - x0) * k / segments, y));
    return line;
}

// Alpha summed down one column over [top, bottom), in opaque pixels.
double columnCoverage(const QImage& image, int x, int top, int bottom)
{
    double sum = 0.0;
    for (int y = top; y < bottom; ++y)
        sum += qAlpha(image.pixel(x, y)) / 255.0;
    return sum;
}

// Alpha-weighted centre rows of the separate runs of painted pixels in column x.
QList<double> lineCentres(const QImage& image, int x)
{
    QList<double> centres;
    double weight = 0.0, moment = 0.0;
    for (int y = 0; y <= image.height(); ++y) {
        const int alpha = y < image.height() ? qAlpha(image.pixel(x, y)) : 0;
        if (alpha > 0) {
            weight += alpha;
            moment += alpha * (y + 0.5);
        } else if (weight > 0.0) {
            centres << moment / weight;
            weight = moment = 0.0;
        }
    }
    return centres;
}

// Separate runs of painted pixels along row y.
int runsAlongRow(const QImage& image, int y, int threshold)
{
    int runs = 0;
    bool inside = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool painted = qAlpha(image.pixel(x, y)) > threshold;
        if (painted && !inside)
            ++runs;
        inside = painted;
    }
    return runs;
}

} // namespace

class TestLayerStreamlines : public QObject
{
    Q_OBJECT

private:
    QWidget* panel = nullptr;
    ProbedLayer* layer = nullptr;
    // A layer with its controls, ready to draw; tracing at the form's values.
    void buildLayer(FlowData* data, QSize size);

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void reportsIncompleteTracing();

    void startValues();
    void setFlowData_data();
    void setFlowData();
    void setSize_data();
    void setSize();
    void formControls_data();
    void formControls();
    void controlsReachTheirSlots_data();
    void controlsReachTheirSlots();

    void uniformFieldGivesEvenlySpacedHorizontalLines();
    void taperingNarrowsTheSegment();
    void segmentColour_data();
    void segmentColour();
    void glyphInterval_data();
    void glyphInterval();
    void degenerateLinesDrawNothing();
};

void TestLayerStreamlines::initTestCase()
{
    TimerLines::previous = qInstallMessageHandler(TimerLines::handler);
}

void TestLayerStreamlines::cleanupTestCase()
{
    qInstallMessageHandler(TimerLines::previous);
}

void TestLayerStreamlines::cleanup()
{
    delete layer;
    layer = nullptr;
    delete panel;
    panel = nullptr;
}

void TestLayerStreamlines::buildLayer(FlowData* data, QSize size)
{
    panel = new QWidget;
    layer = new ProbedLayer;
    layer->setupControls(panel);
    if (data)
        layer->setFlowData(data);
    if (size.isValid())
        layer->setSize(size);
    TimerLines::reset();
}

void TestLayerStreamlines::startValues()
{
    ProbedLayer fresh;
    QCOMPARE(fresh.field("stepSize"), 0.004000000189989805);
    QCOMPARE(fresh.field("lineWidth"), 0.05000000074505806);
    QCOMPARE(fresh.field("dSep"), 0.05);
    QCOMPARE(fresh.field("dTest"), 0.5);
    QCOMPARE(fresh.field("glyphSize"), 0.5);
    QCOMPARE(fresh.field("textureLength"), 30.0);
    QCOMPARE(fresh.field("method"), double(EulerMethod));
    QCOMPARE(fresh.field("autoUpdate"), 1.0);
    QCOMPARE(fresh.field("glyphMappingEnabled"), 0.0);
    QCOMPARE(fresh.field("textureEnabled"), 0.0);
    QCOMPARE(fresh.field("taperingEnabled"), 0.0);
    QVERIFY(fresh.image.isNull());
    QVERIFY(fresh.streamlines.empty());
}

void TestLayerStreamlines::setFlowData_data()
{
    QTest::addColumn<bool>("withData");
    QTest::addColumn<bool>("autoUpdate");
    QTest::addColumn<int>("traces");

    QTest::newRow("data set, auto update on") << true << true << 1;
    QTest::newRow("data set, auto update off") << true << false << 1;
    QTest::newRow("no data set") << false << true << 0;
}

void TestLayerStreamlines::setFlowData()
{
    QFETCH(bool, withData);
    QFETCH(bool, autoUpdate);
    QFETCH(int, traces);

    UniformFlow first(1.0f, Vector3(1.0f, 0.0f, 0.0f));
    buildLayer(&first, QSize(100, 100));
    QVERIFY(!layer->image.isNull());
    const std::size_t linesBefore = layer->streamlines.size();
    QVERIFY2(linesBefore > 1, "a uniform field fills the domain with lines");
    layer->toggleAutoUpdate(autoUpdate);

    // Half as high: the next retrace leaves visibly fewer lines.
    UniformFlow second(2.0f, Vector3(1.0f, 0.0f, 0.0f));
    QSignalSpy changed(layer, &Layer::layerChanged);
    layer->setFlowData(withData ? &second : nullptr);

    QCOMPARE(TimerLines::traces, traces);
    if (withData) {
        QVERIFY(!layer->image.isNull());
        QCOMPARE(changed.count(), 1);
        QVERIFY2(layer->streamlines.size() < linesBefore, "lines retraced over the new domain");
    } else {
        QVERIFY(layer->image.isNull());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(layer->streamlines.size(), linesBefore);
        QCOMPARE(TimerLines::draws, 0);
    }
}

void TestLayerStreamlines::setSize_data()
{
    QTest::addColumn<bool>("drawnBefore");
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<int>("emissions");
    QTest::addColumn<QSize>("imageSize");

    QTest::newRow("first size, null image") << false << QSize(120, 60) << 1 << QSize(120, 60);
    QTest::newRow("resize drawn image") << true << QSize(120, 60) << 2 << QSize(120, 60);
    QTest::newRow("empty size, null image") << false << QSize(0, 40) << 0 << QSize();
    QTest::newRow("empty size, drawn image") << true << QSize(40, 0) << 1 << QSize();
}

void TestLayerStreamlines::setSize()
{
    QFETCH(bool, drawnBefore);
    QFETCH(QSize, newSize);
    QFETCH(int, emissions);
    QFETCH(QSize, imageSize);

    UniformFlow flow(2.0f, Vector3(1.0f, 0.0f, 0.0f));
    buildLayer(&flow, drawnBefore ? QSize(80, 40) : QSize());
    QCOMPARE(layer->image.isNull(), !drawnBefore);
    const std::size_t lines = layer->streamlines.size();

    QSignalSpy changed(layer, &Layer::layerChanged);
    layer->setSize(newSize);
    QCOMPARE(changed.count(), emissions);
    QCOMPARE(layer->image.isNull(), imageSize.isEmpty());
    if (!imageSize.isEmpty())
        QCOMPARE(layer->image.size(), imageSize);
    QCOMPARE(TimerLines::traces, 0);
    QCOMPARE(layer->streamlines.size(), lines);
}

void TestLayerStreamlines::formControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("group");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("step");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("value");

    QTest::newRow("width slider") << "streamlinesWidthSlider"
                                  << "groupBox_2" << 1.0 << 100.0 << 1.0 << 0 << 5.0;
    QTest::newRow("dsep") << "streamlinesDsep"
                          << "groupBox_2" << 0.001 << 1.0 << 0.001 << 3 << 0.03;
    QTest::newRow("dtest") << "streamlinesDTest"
                           << "groupBox_2" << 0.01 << 1.0 << 0.01 << 3 << 0.5;
    QTest::newRow("step size") << "streamlinesStepSize"
                               << "groupBox_2" << 0.0001 << 1.0 << 0.0001 << 4 << 0.003;
    QTest::newRow("glyph size slider")
        << "streamlinesGlyphSizeSlider"
        << "streamlinesGlyphGroupBox" << 1.0 << 200.0 << 1.0 << 0 << 30.0;
    QTest::newRow("texture length slider")
        << "streamlinesTextureLengthSlider"
        << "streamlinesTextureGroupBox" << 10.0 << 200.0 << 1.0 << 0 << 50.0;
}

void TestLayerStreamlines::formControls()
{
    QFETCH(QString, name);
    QFETCH(QString, group);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, step);
    QFETCH(int, decimals);
    QFETCH(double, value);

    buildLayer(nullptr, QSize());
    QCOMPARE(panel->objectName(), QString("StreamlinesLayer"));
    QCOMPARE(panel->property("title").toString(), QString("Streamlines"));

    QWidget* control = panel->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name + " missing"));
    QCOMPARE(control->parentWidget()->objectName(), group);
    if (auto* slider = qobject_cast<QSlider*>(control)) {
        QCOMPARE(double(slider->minimum()), minimum);
        QCOMPARE(double(slider->maximum()), maximum);
        QCOMPARE(double(slider->singleStep()), step);
        QCOMPARE(double(slider->value()), value);
    } else {
        auto* spinBox = qobject_cast<QDoubleSpinBox*>(control);
        QVERIFY2(spinBox, qPrintable(name + " is no double spin box"));
        QCOMPARE(spinBox->decimals(), decimals);
        QCOMPARE(spinBox->minimum(), minimum);
        QCOMPARE(spinBox->maximum(), maximum);
        QCOMPARE(spinBox->singleStep(), step);
        QCOMPARE(spinBox->value(), value);
    }

    // The spin boxes hand their values to the layer; the sliders do not.
    QCOMPARE(layer->field("dSep"), 0.03);
    QCOMPARE(layer->field("dTest"), 0.5);
    QCOMPARE(layer->field("stepSize"), 0.003);
    QCOMPARE(layer->field("glyphSize"), 0.5);
    QCOMPARE(layer->field("textureLength"), 30.0);
    QCOMPARE(layer->field("lineWidth"), 0.05000000074505806);
}

void TestLayerStreamlines::controlsReachTheirSlots_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("input");
    QTest::addColumn<bool>("autoUpdate");
    QTest::addColumn<QString>("field");
    QTest::addColumn<double>("expected");
    QTest::addColumn<int>("traces");
    QTest::addColumn<int>("draws");

    // Tracing parameters retrace only with auto update on; look changes
    // redraw either way; the button always retraces; the auto update flag
    // alone does no work.
    enum Work
    {
        Tracing,
        Look,
        Retrace,
        None
    };
    struct Row
    {
        const char* name;
        const char* control;
        QVariant input; // null: click the button or emit colorsChanged
        const char* field;
        double expected;
        Work work;
    };
    const double euler = EulerMethod, midpoint = RungeKuttaMethod;
    const Row rows[] = {
        {"Euler while checked", "streamlinesEulerRadioButton", {}, "method", euler, Tracing},
        {"Runge-Kutta", "streamlinesRungeKuttaRadioButton", {}, "method", midpoint, Tracing},
        {"width slider", "streamlinesWidthSlider", 10, "lineWidth", 0.1, Tracing},
        {"dsep spin box", "streamlinesDsep", 0.05, "dSep", 0.05, Tracing},
        {"dtest spin box", "streamlinesDTest", 0.6, "dTest", 0.6, Tracing},
        {"step size spin box", "streamlinesStepSize", 0.005, "stepSize", 0.005, Tracing},
        {"texture length slider", "streamlinesTextureLengthSlider", 60, "textureLength", 60.0,
         Tracing},
        {"glyph group box", "streamlinesGlyphGroupBox", true, "glyphMappingEnabled", 1.0, Look},
        {"glyph size slider", "streamlinesGlyphSizeSlider", 40, "glyphSize", 0.4, Look},
        {"texture group box", "streamlinesTextureGroupBox", true, "textureEnabled", 1.0, Look},
        {"tapering check box", "taperingCheckBox", true, "taperingEnabled", 1.0, Look},
        {"transfer function edited", "transferFunction", {}, "dSep", 0.03, Look},
        {"update button", "streamlinesDrawButton", {}, "dSep", 0.03, Retrace},
        {"auto update check box", "autoUpdateCheckBox", false, "autoUpdate", 0.0, None},
    };
    for (const Row& row : rows) {
        for (bool autoUpdate : {true, false}) {
            const bool traces = row.work == Retrace || (row.work == Tracing && autoUpdate);
            const bool draws = traces || row.work == Look;
            QTest::addRow("%s, auto update %s", row.name, autoUpdate ? "on" : "off")
                << QString(row.control) << row.input << autoUpdate << QString(row.field)
                << row.expected << int(traces) << int(draws);
        }
    }
}

void TestLayerStreamlines::controlsReachTheirSlots()
{
    QFETCH(QString, name);
    QFETCH(QVariant, input);
    QFETCH(bool, autoUpdate);
    QFETCH(QString, field);
    QFETCH(double, expected);
    QFETCH(int, traces);
    QFETCH(int, draws);

    UniformFlow flow(1.0f, Vector3(1.0f, 0.0f, 0.0f));
    buildLayer(&flow, QSize(100, 100));
    layer->toggleAutoUpdate(autoUpdate);
    QWidget* control = panel->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name + " missing"));
    QSignalSpy changed(layer, &Layer::layerChanged);

    if (auto* function = qobject_cast<TransferFunctionWidget*>(control))
        emit function->colorsChanged();
    else if (auto* slider = qobject_cast<QSlider*>(control))
        slider->setValue(input.toInt());
    else if (auto* spinBox = qobject_cast<QDoubleSpinBox*>(control))
        spinBox->setValue(input.toDouble());
    else if (auto* groupBox = qobject_cast<QGroupBox*>(control))
        groupBox->setChecked(input.toBool());
    else if (auto* button = qobject_cast<QAbstractButton*>(control); button && input.isNull())
        button->click();
    else if (button)
        button->setChecked(input.toBool());

    // The value is stored whether or not it retraced.
    QCOMPARE(layer->field(field), expected);
    QCOMPARE(TimerLines::traces, traces);
    QCOMPARE(TimerLines::draws, draws);
    QCOMPARE(changed.count(), draws);
}

void TestLayerStreamlines::uniformFieldGivesEvenlySpacedHorizontalLines()
{
    const int width = 400;
    const double dSep = 0.05;
    const double spacingTolerance = 0.75;  // pixels
    const double straightTolerance = 0.25; // pixels

    UniformFlow flow(1.0f, Vector3(1.0f, 0.0f, 0.0f));
    buildLayer(nullptr, QSize());
    layer->toggleAutoUpdate(false);
    layer->setDSep(dSep);
    layer->setLineWidth(10);
    layer->setFlowData(&flow);
    layer->setSize(QSize(width, width));
    QCOMPARE(layer->image.size(), QSize(width, width));

    const QList<double> middle = lineCentres(layer->image, width / 2);
    QVERIFY2(middle.size() >= int(1.0 / dSep) - 1,
             qPrintable(QString("only %1 lines across the domain").arg(middle.size())));
    for (int k = 1; k < middle.size(); ++k)
        QVERIFY2(std::abs(middle[k] - middle[k - 1] - dSep * width) <= spacingTolerance,
                 qPrintable(QString("lines %1 and %2").arg(k - 1).arg(k)));
    for (int x : {width / 10, width * 9 / 10}) {
        const QList<double> elsewhere = lineCentres(layer->image, x);
        QCOMPARE(elsewhere.size(), middle.size());
        for (int k = 0; k < middle.size(); ++k)
            QVERIFY2(std::abs(elsewhere[k] - middle[k]) <= straightTolerance,
                     qPrintable(QString("line %1 in column %2").arg(k).arg(x)));
    }
}

void TestLayerStreamlines::taperingNarrowsTheSegment()
{
    const int width = 400;
    const double ratioTolerance = 0.05;

    buildLayer(nullptr, QSize(width, width / 2));
    layer->setLineWidth(50); // a stroke of 10 pixels
    const Streamline line{point(0.1, 0.25), point(0.5, 0.25), point(0.9, 0.25, 1.0f, 0.5, 0.5)};
    layer->replaceStreamlines({line}, 0.004);

    layer->toggleTapering(false);
    const QImage full = layer->image;
    layer->toggleTapering(true);
    const QImage tapered = layer->image;

    for (int x : {width * 3 / 10, width * 7 / 10}) {
        const double fullWidth = columnCoverage(full, x, 0, width / 2);
        const double taperedWidth = columnCoverage(tapered, x, 0, width / 2);
        QVERIFY2(std::abs(fullWidth - 10.0) < 0.5,
                 qPrintable(QString("untapered stroke %1 px at column %2").arg(fullWidth).arg(x)));
        const double expected = x < width / 2 ? 1.0 : 0.5;
        QVERIFY2(std::abs(taperedWidth / fullWidth - expected) <= ratioTolerance,
                 qPrintable(
                     QString("width ratio %1 at column %2").arg(taperedWidth / fullWidth).arg(x)));
    }
}

void TestLayerStreamlines::segmentColour_data()
{
    QTest::addColumn<float>("magnitude");
    QTest::addColumn<bool>("texture");
    QTest::addColumn<double>("textureValue");
    QTest::addColumn<QColor>("expected"); // straight colour of the table's white ramp

    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("magnitude 1: opaque white")
        << 1.0f << false << 0.5 << QColor(255, 255, 255, 255);
    QTest::newRow("magnitude 0.5: half transparent white, not premultiplied twice")
        << 0.5f << false << 0.5 << QColor(255, 255, 255, 127);
    QTest::newRow("texture 0: black with the table's alpha")
        << 0.5f << true << 0.0 << QColor(0, 0, 0, 127);
    QTest::newRow("texture 0.5: grey") << 1.0f << true << 0.5 << QColor(127, 127, 127, 255);
    QTest::newRow("magnitude above 1 takes the last entry")
        << 3.5f << false << 0.5 << QColor(255, 255, 255, 255);
    QTest::newRow("negative magnitude takes the first entry")
        << -2.0f << false << 0.5 << QColor(255, 255, 255, 0);
    QTest::newRow("NaN magnitude takes the first entry")
        << nan << false << 0.5 << QColor(255, 255, 255, 0);
}

void TestLayerStreamlines::segmentColour()
{
    QFETCH(float, magnitude);
    QFETCH(bool, texture);
    QFETCH(double, textureValue);
    QFETCH(QColor, expected);
    const int channelTolerance = 3;

    buildLayer(nullptr, QSize(200, 100));
    layer->setLineWidth(50); // 10 pixels: the centre row is fully covered
    const Streamline line{point(0.1, 0.25, magnitude, textureValue),
                          point(0.9, 0.25, magnitude, textureValue)};
    layer->replaceStreamlines({line}, 0.004);
    layer->toggleTexture(texture);

    const QPoint centre(100, 50);
    const QRgb pixel = layer->image.pixel(centre);
    if (expected.alpha() == 0) {
        QVERIFY2(qAlpha(pixel) <= channelTolerance,
                 qPrintable(QString("pixel (100, 50) alpha %1").arg(qAlpha(pixel))));
        return;
    }
    const int got[] = {qRed(pixel), qGreen(pixel), qBlue(pixel), qAlpha(pixel)};
    const int want[] = {expected.red(), expected.green(), expected.blue(), expected.alpha()};
    for (int c = 0; c < 4; ++c)
        QVERIFY2(std::abs(got[c] - want[c]) <= channelTolerance,
                 qPrintable(QString::asprintf("pixel (100, 50) is %d %d %d %d (r g b a)", got[0],
                                              got[1], got[2], got[3])));
}

void TestLayerStreamlines::glyphInterval_data()
{
    QTest::addColumn<double>("tracedStep");
    QTest::addColumn<int>("segments");
    QTest::addColumn<bool>("stalled");
    QTest::addColumn<double>("stepAfterTrace");
    QTest::addColumn<int>("glyphs");

    // Glyph size 0.5: interval trunc(0.04 / step); the glyph's base is
    // glyphSize * 0.02 widths, 10 pixels at glyph size 0.5 in a 1000 px image.
    QTest::newRow("every fourth point") << 0.009 << 20 << false << 0.009 << 5;
    QTest::newRow("interval 0 means every point") << 0.05 << 8 << false << 0.05 << 8;
    QTest::newRow("step changed without retrace keeps the glyphs")
        << 0.009 << 20 << false << 0.04 << 5;
    QTest::newRow("incomplete glyph at the end is dropped") << 0.009 << 22 << false << 0.009 << 5;
    // Every point twice: repeats count, so a glyph spans two distinct steps;
    // the first one starts from a zero-length step and has no area.
    QTest::newRow("repeated points count towards the interval")
        << 0.009 << 20 << true << 0.009 << 9;
}

void TestLayerStreamlines::glyphInterval()
{
    QFETCH(double, tracedStep);
    QFETCH(int, segments);
    QFETCH(bool, stalled);
    QFETCH(double, stepAfterTrace);
    QFETCH(int, glyphs);
    const int width = 1000;
    const int lineRow = 250;
    const int probeRow = lineRow - 6; // above the 1 px line, inside the 10 px glyph base

    buildLayer(nullptr, QSize(width, width / 2));
    layer->toggleAutoUpdate(false);
    layer->setGlyphSize(50);
    Streamline line = horizontalLine(0.25, 0.1, 0.1 + segments * tracedStep, segments);
    if (stalled) {
        for (auto at = line.begin(); at != line.end(); at += 2) {
            const StreamlinePoint repeat = *at;
            at = line.insert(at, repeat);
        }
    }
    layer->replaceStreamlines({line}, tracedStep);
    layer->setStepSize(stepAfterTrace);
    layer->toggleGlyphMapping(true);

    QCOMPARE(runsAlongRow(layer->image, probeRow, 128), glyphs);
    QVERIFY2(qAlpha(layer->image.pixel(500, lineRow + 6)) == 0,
             "glyphs lie on the left of the direction of travel, above a line running right");
}

void TestLayerStreamlines::degenerateLinesDrawNothing()
{
    buildLayer(nullptr, QSize(100, 50));
    layer->toggleGlyphMapping(true);
    const Streamline single{point(0.5, 0.25)};
    const Streamline stalled(3, point(0.3, 0.3));
    QSignalSpy changed(layer, &Layer::layerChanged);
    layer->replaceStreamlines({Streamline(), single, stalled}, 0.004);
    layer->drawImage();

    QCOMPARE(changed.count(), 1);
    for (int y = 0; y < layer->image.height(); ++y)
        for (int x = 0; x < layer->image.width(); ++x)
            QVERIFY2(layer->image.pixel(x, y) == 0,
                     qPrintable(QString("pixel (%1, %2) painted").arg(x).arg(y)));
}

// A domain 100 widths tall at the start values needs some 500 000 points:
// the placement stops at its budget, the layer keeps and draws what was
// traced and says why, once per retrace, and clears the reason once a
// retrace is complete again.
void TestLayerStreamlines::reportsIncompleteTracing()
{
    UniformFlow tall(0.01f, Vector3(0.0f, 1.0f, 0.0f));
    UniformFlow square(1.0f, Vector3(0.0f, 1.0f, 0.0f));
    ProbedLayer layer;
    layer.setSize(QSize(100, 100));
    QSignalSpy incomplete(&layer, &LayerStreamlines::tracingIncomplete);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("stopped at the point budget"));
    layer.setFlowData(&tall);
    QCOMPARE(incomplete.count(), 1);
    QVERIFY(!incomplete.takeFirst().at(0).toString().isEmpty());
    QVERIFY(!layer.incompleteReason().isEmpty());
    QVERIFY(!layer.streamlines.empty());
    QVERIFY(!layer.image.isNull());

    layer.setFlowData(&square);
    QCOMPARE(incomplete.count(), 1);
    QVERIFY(incomplete.takeFirst().at(0).toString().isEmpty());
    QVERIFY(layer.incompleteReason().isEmpty());
    layer.updateImage();
    QCOMPARE(incomplete.count(), 0);
}

QTEST_MAIN(TestLayerStreamlines)
#include "tst_layerstreamlines.moc"
