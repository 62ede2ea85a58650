// velmora-render DATA OUT.(jpg|png) [--scale S] [--background COLOR]
//                [--colors LAYER=MAP]... [--legend] [--flip-vertically]
//                [--frames A:B|all] [--range step|series] [--u VAR] [--v VAR] ...
//
// Renders a data set headless with the program's own view port and layer
// stack (no main window), as the program shows it right after loading
// (default layers, default transfer functions, y up) at the given zoom scale
// (1 by default: the longer side is 1000 pixels), and writes the picture. The
// format follows the output file's suffix: PNG for .png, JPEG (quality 80)
// otherwise. --colors sets the transfer function of the visible layer of a
// kind to a named colour map, as the panel's menu does. Exit status 0 on
// success, 1 when the data set does not load or the picture cannot be
// written, 2 on a wrong command line.
//
// With --frames the data set's series (see FlowSeries) is rendered step by
// step, steps A to B of the file numbering inclusive, each to OUT.NNNNN.png
// (the step's number); every frame equals a single render of its step.
// Missing or unreadable steps are reported and left out (exit status 1).
// --range series spreads every colour coding over the extremes of its field
// across all steps of the series, so frames of separate runs agree.

#include "app/shell/Layer.h"
#include "app/Version.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"
#include "tools/LoadOptionArguments.h"
#include "transfer/ColorMap.h"

#include <QApplication>
#include <QColor>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QImage>
#include <QPalette>
#include <QTextStream>
#include <QWidget>

#include <climits>
#include <cstdio>
#include <memory>

namespace {

void quietDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// The visible layer of the kind named on the command line, or null.
Layer* visibleLayerOfKind(const QList<Layer*>& layers, const QString& kind)
{
    for (Layer* layer : layers) {
        const bool matches =
            (kind == QLatin1String("colorcoding") && qobject_cast<LayerColorCoding*>(layer)) ||
            (kind == QLatin1String("arrows") && qobject_cast<LayerArrows*>(layer)) ||
            (kind == QLatin1String("streamlines") && qobject_cast<LayerStreamlines*>(layer));
        if (matches && layer->isVisible())
            return layer;
    }
    return nullptr;
}

void applyColorMap(Layer* layer, const QString& map)
{
    if (auto* coding = qobject_cast<LayerColorCoding*>(layer))
        coding->setTransferFunction(
            ColorMap::transferFunction(map, coding->transferFunction(), true));
    else if (auto* arrows = qobject_cast<LayerArrows*>(layer))
        arrows->setTransferFunction(
            ColorMap::transferFunction(map, arrows->transferFunction(), false));
    else if (auto* lines = qobject_cast<LayerStreamlines*>(layer))
        lines->setTransferFunction(
            ColorMap::transferFunction(map, lines->transferFunction(), false));
}

// The first and last step number of "A:B" or "all"; false if it does not parse.
bool parseFrames(const QString& text, int& first, int& last)
{
    if (text == QLatin1String("all")) {
        first = 0;
        last = INT_MAX;
        return true;
    }
    const QStringList parts = text.split(QLatin1Char(':'));
    bool firstOk = false;
    bool lastOk = false;
    if (parts.size() == 2) {
        first = parts[0].toInt(&firstOk);
        last = parts[1].toInt(&lastOk);
    }
    return firstOk && lastOk && first >= 0 && first <= last;
}

// OUT.png -> OUT.00003.png; a name without a suffix gets the number appended.
QString frameName(const QString& output, int number)
{
    const QFileInfo info(output);
    const QString digits = QStringLiteral("%1").arg(number, 5, 10, QLatin1Char('0'));
    if (info.suffix().isEmpty())
        return output + QLatin1Char('.') + digits;
    const QString stem = output.left(output.size() - info.suffix().size() - 1);
    return stem + QLatin1Char('.') + digits + QLatin1Char('.') + info.suffix();
}

bool writePicture(const QImage& picture, const QString& output)
{
    const bool png =
        QFileInfo(output).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0;
    return !picture.isNull() && picture.save(output, png ? "png" : "jpg", png ? -1 : 80);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora-render"));
    QApplication::setApplicationVersion(QLatin1String(velmoraVersion));
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Renders a flow data set with the default layers to a JPEG or PNG file."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("data"), QStringLiteral("the data set (.gri)"));
    parser.addPositionalArgument(QStringLiteral("output"),
                                 QStringLiteral("the picture to write (.jpg or .png)"));
    const QCommandLineOption scaleOption(
        QStringLiteral("scale"),
        QStringLiteral("zoom scale: the longer side is scale x 1000 pixels (default 1)."),
        QStringLiteral("S"), QStringLiteral("1"));
    parser.addOption(scaleOption);
    const QCommandLineOption backgroundOption(
        QStringLiteral("background"),
        QStringLiteral("colour under the layers, e.g. black or #203040 (default: the view's)."),
        QStringLiteral("COLOR"));
    parser.addOption(backgroundOption);
    const QCommandLineOption colorsOption(
        QStringLiteral("colors"),
        QStringLiteral("colour map of the visible layer of a kind: LAYER=MAP with LAYER one of "
                       "colorcoding, arrows, streamlines and MAP one of ") +
            ColorMap::names().join(QStringLiteral(", ")) + QStringLiteral("; repeatable."),
        QStringLiteral("LAYER=MAP"));
    parser.addOption(colorsOption);
    const QCommandLineOption legendOption(
        QStringLiteral("legend"), QStringLiteral("draw the colour scale of the colour coding."));
    parser.addOption(legendOption);
    const QCommandLineOption flipOption(
        QStringLiteral("flip-vertically"),
        QStringLiteral("show row 0 of the data at the top (data in image coordinates)."));
    parser.addOption(flipOption);
    LoadOptionArguments::add(parser, true);
    const QCommandLineOption framesOption(
        QStringLiteral("frames"),
        QStringLiteral("render steps A to B of the series (inclusive) or all of them, each to "
                       "OUT.NNNNN.png."),
        QStringLiteral("A:B|all"));
    parser.addOption(framesOption);
    const QCommandLineOption rangeOption(
        QStringLiteral("range"),
        QStringLiteral("colour range: step (each step's extremes, the default) or series (the "
                       "extremes over all steps)."),
        QStringLiteral("step|series"), QStringLiteral("step"));
    parser.addOption(rangeOption);
    if (!parser.parse(application.arguments())) {
        err << "velmora-render: " << parser.errorText() << "\n";
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2) {
        err << "usage: velmora-render DATA OUT.jpg|OUT.png [--scale S] [--background COLOR] "
               "[--colors LAYER=MAP]... [--legend] [--flip-vertically] [--frames A:B|all] "
               "[--range step|series] [--u VAR] [--v VAR] [--level K] [--step T]\n";
        return 2;
    }
    bool scaleOk = false;
    const float scale = parser.value(scaleOption).toFloat(&scaleOk);
    if (!scaleOk || !(scale > ViewPort::minimumScale) || scale > ViewPort::maximumScale) {
        err << "velmora-render: --scale must be a number above " << ViewPort::minimumScale
            << " and at most " << ViewPort::maximumScale << "\n";
        return 2;
    }

    QColor background;
    if (parser.isSet(backgroundOption)) {
        background = QColor::fromString(parser.value(backgroundOption));
        if (!background.isValid()) {
            err << "velmora-render: --background: not a colour: " << parser.value(backgroundOption)
                << "\n";
            return 2;
        }
    }

    LoadOptions options;
    QString problem;
    if (!LoadOptionArguments::read(parser, &options, &problem)) {
        err << "velmora-render: " << problem << "\n";
        return 2;
    }

    QList<QPair<QString, QString>> colorMaps;
    for (const QString& value : parser.values(colorsOption)) {
        const QString kind = value.section(QLatin1Char('='), 0, 0);
        const QString map = value.section(QLatin1Char('='), 1);
        const QStringList kinds{QStringLiteral("colorcoding"), QStringLiteral("arrows"),
                                QStringLiteral("streamlines")};
        if (!kinds.contains(kind) || !ColorMap::names().contains(map)) {
            err << "velmora-render: --colors: expected LAYER=MAP with LAYER one of "
                << kinds.join(QStringLiteral(", ")) << " and MAP one of "
                << ColorMap::names().join(QStringLiteral(", ")) << ", got " << value << "\n";
            return 2;
        }
        colorMaps.append({kind, map});
    }

    int firstFrame = 0;
    int lastFrame = 0;
    const bool frames = parser.isSet(framesOption);
    if (frames && !parseFrames(parser.value(framesOption), firstFrame, lastFrame)) {
        err << "velmora-render: --frames must be A:B with 0 <= A <= B, or all\n";
        return 2;
    }
    const QString range = parser.value(rangeOption);
    if (range != QLatin1String("step") && range != QLatin1String("series")) {
        err << "velmora-render: --range must be step or series\n";
        return 2;
    }
    const bool seriesRange = range == QLatin1String("series");

    qInstallMessageHandler(quietDebug);
    QString reason;
    std::unique_ptr<FlowData> flowData;
    std::unique_ptr<FlowSeries> series;
    if (frames || seriesRange) {
        series.reset(FlowSeries::open(positional.at(0), options, &reason));
        if (!series) {
            err << "velmora-render: " << positional.at(0) << ": " << reason << "\n";
            return 1;
        }
    }
    if (!frames) {
        flowData.reset(FlowData::fromFile(positional.at(0), options, &reason));
        if (!flowData) {
            err << "velmora-render: " << positional.at(0) << ": " << reason << "\n";
            return 1;
        }
    }
    // The steps to render, as indices into the series.
    QList<int> steps;
    if (frames) {
        for (int k = 0; k < series->stepCount(); ++k) {
            const int number = series->stepNumber(k);
            if (number >= firstFrame && number <= lastFrame)
                steps.append(k);
        }
        if (steps.isEmpty()) {
            err << "velmora-render: the series has no step in " << parser.value(framesOption)
                << "\n";
            return 1;
        }
    }
    QList<ValueRange> ranges;
    if (seriesRange) {
        ranges = series->seriesRanges();
        if (ranges.isEmpty()) {
            err << "velmora-render: no step of the series loads\n";
            return 1;
        }
    }

    // Declared after the data set, so the layers and their workers go first.
    ViewPort viewPort;
    // The panels are never shown; their forms hand the layers the start
    // values the program's panels give them.
    QWidget panels;
    viewPort.createLayerPanels(&panels);
    for (const auto& [kind, map] : std::as_const(colorMaps))
        applyColorMap(visibleLayerOfKind(viewPort.layerList(), kind), map);
    viewPort.setLegendShown(parser.isSet(legendOption));
    viewPort.setFlippedVertically(parser.isSet(flipOption));
    viewPort.setScale(scale);
    if (background.isValid()) {
        QPalette palette = viewPort.palette();
        palette.setColor(viewPort.backgroundRole(), background);
        viewPort.setPalette(palette);
    }
    if (seriesRange) {
        for (Layer* layer : viewPort.layerList()) {
            if (auto* colorCoding = qobject_cast<LayerColorCoding*>(layer)) {
                colorCoding->setSeriesRanges(ranges);
                colorCoding->setColorRange(LayerColorCoding::WholeSeries);
            }
        }
    }
    const QString output = positional.at(1);
    auto render = [&](FlowData* data, const QString& fileName) {
        // A full switch, not a step: each frame is what a single render of
        // its step gives.
        viewPort.setFlowData(data);
        if (!viewPort.layerStack().finishRendering(120000)) {
            err << "velmora-render: the layers did not finish rendering in time\n";
            return false;
        }
        if (!writePicture(viewPort.renderImage(), fileName)) {
            err << "velmora-render: could not write " << fileName << "\n";
            return false;
        }
        return true;
    };
    if (!frames)
        return render(flowData.get(), output) ? 0 : 1;

    int status = 0;
    for (int k : std::as_const(steps)) {
        std::unique_ptr<FlowData> step(series->loadStep(k, &reason));
        if (!step) {
            err << "velmora-render: " << reason << "\n";
            status = 1;
            continue;
        }
        const bool written = render(step.get(), frameName(output, series->stepNumber(k)));
        // The layers let go of the step before it is deleted.
        viewPort.setFlowData(nullptr);
        if (!written)
            return 1;
        err.flush();
    }
    return status;
}
