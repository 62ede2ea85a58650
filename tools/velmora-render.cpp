// velmora-render DATA OUT.(jpg|png|svg|pdf) [--scale S] [--background COLOR]
//                [--colors LAYER=MAP]... [--legend] [--flip-vertically]
//                [--frames A:B|all] [--range step|series] [--u VAR] [--v VAR] ...
//
// Renders a data set headless with the program's own view port and layer
// stack (no main window), as the program shows it right after loading
// (default layers, default transfer functions, y up) at the given zoom scale
// (1 by default: the longer side is 1000 pixels), and writes the picture. The
// format follows the output file's suffix: SVG for .svg, PDF for .pdf, PNG for .png, JPEG (quality
// 80) otherwise. --colors sets the transfer function of the visible layer of a kind to a named
// colour map, as the panel's menu does. Exit status 0 on success, 1 when the data set does not load
// or the picture cannot be written, 2 on a wrong command line.
//
// With --frames the data set's series (see FlowSeries) is rendered step by
// step, steps A to B of the file numbering inclusive, each to OUT.NNNNN.png
// (the step's number); every frame equals a single render of its step.
// Missing or unreadable steps are reported and left out (exit status 1).
// --range series spreads every colour coding over the extremes of its field
// across all steps of the series, so frames of separate runs agree.
// --field NAME shows NAME in the visible colour coding: a scalar set as the
// panel lists it, with or without its unit, or a derived field by name or key.
//
// --size WxH gives the whole picture's size in pixels (in place of --scale):
// the layers get the largest size of the data's aspect ratio that fits with
// the axes and the title, centred. --dpi N is stored in PNG and JPEG files and
// sets the PDF page's size; with it or --font-size PT, text is PT points
// (the application's size by default) at N dots per inch (96 by default).
// --title TEXT is drawn above the picture, "{time}" in it replaced by the
// step's time as the time bar shows it, for every frame.
//
// --session S.velmora (in place of DATA) renders what the window showed when
// it saved the session: its data set and step, layers and view, through the
// same view port and layer forms, so the picture equals the window's Save
// Image; options given beside it change the session's settings.
// --write-session S.velmora writes the session the options describe.
// --curly draws the arrows as curly vectors.
// --lic modulates the visible colour coding by a line integral convolution
// of noise along the flow (its panel's "LIC texture" with the start values).
// --layers KINDS (a comma list of colorcoding, arrows, streamlines) shows the
// layers of those kinds alone: the visible ones, or the topmost of a kind
// none of whose layers is visible.
// --seeds FILE traces a streamline through each listed point (x,y in the
// file's coordinates) before the evenly-spaced placement fills the rest.

#include "app/LayerStack.h"
#include "app/Session.h"
#include "app/SessionBinding.h"
#include "app/shell/Layer.h"
#include "app/ViewPort.h"
#include "data/DerivedFieldCache.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "data/ReferenceFrame.h"
#include "formats/SeedListReader.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"
#include "tools/FrameArguments.h"
#include "tools/LoadOptionArguments.h"
#include "tools/ToolMain.h"
#include "transfer/ColorMap.h"

#include <QApplication>
#include <QColor>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QPalette>
#include <QWidget>

#include <climits>
#include <cmath>
#include <memory>
#include <utility>

namespace {

// What the command line asks for.
struct RenderSettings
{
    QString input;
    QString output;
    float scale = 1.0f;
    QColor background; // invalid: the view's own
    // In command-line order: the kind of the visible layer, the map's name.
    QList<std::pair<Layer::Kind, QString>> colorMaps;
    bool legend = false;
    bool flipped = false;
    LoadOptions loadOptions;
    bool frames = false;
    QString framesText;
    QString field; // empty: the layer's own
    ReferenceFrame frame;
    // Step numbers of the file numbering, inclusive.
    int firstFrame = 0;
    int lastFrame = 0;
    bool seriesRange = false;
    // --session: what it holds stands where no option is given.
    std::optional<Session> session;
    bool scaleGiven = false;
    QString writeSession; // empty: none
    bool axes = false;
    // The reference arrow's speed; 0 picks one, unset draws none.
    std::optional<double> arrowKey;
    bool scaleBar = false;
    QSize size;            // empty: from the scale
    int dpi = 0;           // 0: the default
    double fontSize = 0.0; // points; 0: the application's
    QString title;         // may hold {time}
    // Points the streamlines go through first, in the file's coordinates.
    QList<QPointF> seeds;
    bool curly = false; // curly vectors in every arrow layer
    bool lic = false;   // the LIC look in the visible colour coding
    // The kinds --layers keeps; empty: every layer as it is.
    QList<Layer::Kind> shownKinds;
};

const QString timePlaceholder = QStringLiteral("{time}");

// What the settings need read before the view port renders.
struct RenderInput
{
    std::unique_ptr<FlowData> flowData; // without --frames
    std::unique_ptr<FlowSeries> series; // with --frames or --range series
    QList<int> steps;                   // the frames, as indices into the series
    QList<ValueRange> ranges;           // with --range series
    int shownStep = -1;                 // the series index of a single picture, for {time}
    // The session written by --write-session, taken from the first picture.
    std::optional<Session> captured;
};

// The names --colors takes for the layer kinds.
const QList<std::pair<QString, Layer::Kind>>& layerKindNames()
{
    static const QList<std::pair<QString, Layer::Kind>> names{
        {QStringLiteral("colorcoding"), Layer::Kind::ColorCoding},
        {QStringLiteral("arrows"), Layer::Kind::Arrows},
        {QStringLiteral("streamlines"), Layer::Kind::Streamlines}};
    return names;
}

// As the panel's menu does it: colour codings get the map fully opaque.
void applyColorMap(Layer* layer, const QString& map)
{
    if (layer)
        layer->setTransferFunction(ColorMap::transferFunction(
            map, layer->transferFunction(), layer->kind() == Layer::Kind::ColorCoding));
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

// The settings from the command line; the exit status when the tool is done
// (help, version or a wrong command line), nothing when it goes on.
std::optional<int> readSettings(ToolMain& tool, RenderSettings& settings,
                                const std::optional<QString>& sessionArgument,
                                const std::optional<QString>& arrowKeyValue)
{
    QCommandLineParser& parser = tool.parser();
    parser.setApplicationDescription(
        QStringLiteral("Renders a flow data set with the default layers to a JPEG, PNG, SVG or PDF "
                       "file."));
    parser.addPositionalArgument(QStringLiteral("data"), QStringLiteral("the data set (.gri)"));
    parser.addPositionalArgument(QStringLiteral("output"),
                                 QStringLiteral("the picture to write (.jpg, .png, .svg or .pdf)"));
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
    const QCommandLineOption fieldOption(
        QStringLiteral("field"),
        QStringLiteral("the field of the visible colour coding: a scalar set's name or a derived "
                       "field (%1).")
            .arg(DerivedField::keyList()),
        QStringLiteral("NAME"));
    parser.addOption(fieldOption);
    const QCommandLineOption subtractOption(
        QStringLiteral("subtract"),
        QStringLiteral("show arrows and streamlines in a frame moving with the field's mean "
                       "velocity or with U,V (the file's components and units)."),
        QStringLiteral("mean|U,V"));
    parser.addOption(subtractOption);
    const QCommandLineOption sessionOption(
        QStringLiteral("session"),
        QStringLiteral("render the picture a saved session shows (its data set, layers and "
                       "view); DATA is then left out, and the options above change the session."),
        QStringLiteral("S.velmora"));
    // Listed for --help; main takes its value out first.
    parser.addOption(sessionOption);
    const QCommandLineOption writeSessionOption(
        QStringLiteral("write-session"),
        QStringLiteral("also write the session these options describe, for the program to open."),
        QStringLiteral("S.velmora"));
    parser.addOption(writeSessionOption);
    const QCommandLineOption axesOption(
        QStringLiteral("axes"),
        QStringLiteral("draw axes with ticks in the file's coordinates and units."));
    parser.addOption(axesOption);
    const QCommandLineOption arrowKeyOption(
        QStringLiteral("arrow-key"),
        QStringLiteral("draw a reference arrow, of the speed given as the next argument (or "
                       "--arrow-key=SPEED) or of a round speed near the field's typical one."));
    parser.addOption(arrowKeyOption);
    const QCommandLineOption scaleBarOption(
        QStringLiteral("scale-bar"),
        QStringLiteral("draw a bar of a round length near a fifth of the width, in the file's "
                       "length unit."));
    parser.addOption(scaleBarOption);
    const QCommandLineOption sizeOption(
        QStringLiteral("size"),
        QStringLiteral("the whole picture's size in pixels, the data's aspect ratio kept inside "
                       "(in place of --scale)."),
        QStringLiteral("WxH"));
    parser.addOption(sizeOption);
    const QCommandLineOption dpiOption(
        QStringLiteral("dpi"),
        QStringLiteral("resolution stored in PNG and JPEG files and of the PDF page (default 96); "
                       "text keeps its size in points."),
        QStringLiteral("N"));
    parser.addOption(dpiOption);
    const QCommandLineOption titleOption(
        QStringLiteral("title"),
        QStringLiteral("a title above the picture; {time} in it is the step's time."),
        QStringLiteral("TEXT"));
    parser.addOption(titleOption);
    const QCommandLineOption fontSizeOption(
        QStringLiteral("font-size"),
        QStringLiteral("size of the title, the axes' and the legend's text in points."),
        QStringLiteral("PT"));
    parser.addOption(fontSizeOption);
    const QCommandLineOption seedsOption(
        QStringLiteral("seeds"),
        QStringLiteral("trace a streamline through every point of FILE first (x,y per line in "
                       "the file's coordinates, a header line allowed), then fill evenly."),
        QStringLiteral("FILE"));
    parser.addOption(seedsOption);
    const QCommandLineOption curlyOption(
        QStringLiteral("curly"),
        QStringLiteral("draw the arrows as curly vectors, short curved arrows along the flow."));
    parser.addOption(curlyOption);
    const QCommandLineOption licOption(
        QStringLiteral("lic"),
        QStringLiteral("modulate the visible colour coding by a line integral convolution "
                       "texture along the flow."));
    parser.addOption(licOption);
    const QCommandLineOption layersOption(
        QStringLiteral("layers"),
        QStringLiteral("show only the layers of these kinds, a comma list of colorcoding, "
                       "arrows, streamlines."),
        QStringLiteral("KINDS"));
    parser.addOption(layersOption);
    if (const std::optional<int> done = tool.parse())
        return done;

    QStringList positional = parser.positionalArguments();
    if (sessionArgument && positional.size() != 1)
        return tool.usageError(QStringLiteral("--session takes the output picture alone"),
                               QString());
    if (sessionArgument) {
        QString reason;
        const QString sessionFile = *sessionArgument;
        settings.session = Session::read(sessionFile, &reason);
        if (!settings.session) {
            tool.report(sessionFile + QStringLiteral(": ") + reason);
            return 1;
        }
        for (const QString& note : settings.session->adjustments())
            tool.report(sessionFile + QStringLiteral(": ") + note);
        if (settings.session->dataFile.isEmpty()) {
            tool.report(sessionFile + QStringLiteral(": the session names no data file"));
            return 1;
        }
        positional.prepend(settings.session->dataFile);
    }
    settings.writeSession = parser.value(writeSessionOption);
    if (arrowKeyValue) {
        bool isNumber = false;
        const double speed = arrowKeyValue->toDouble(&isNumber);
        if (!isNumber || !(speed > 0.0) || !std::isfinite(speed))
            return tool.usageError(QStringLiteral("--arrow-key: the speed must be above 0"),
                                   QString());
        settings.arrowKey = speed;
    } else if (parser.isSet(arrowKeyOption)) {
        settings.arrowKey = 0.0;
        // The parser knows no optional values: a number right after the
        // option is its speed, not a file.
        const QStringList arguments = QCoreApplication::arguments();
        const qsizetype at = arguments.indexOf(QStringLiteral("--arrow-key"));
        bool isNumber = false;
        const double speed =
            at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1).toDouble(&isNumber) : 0.0;
        if (isNumber && positional.removeOne(arguments.at(at + 1))) {
            if (!(speed > 0.0) || !std::isfinite(speed))
                return tool.usageError(QStringLiteral("--arrow-key: the speed must be above 0"),
                                       QString());
            settings.arrowKey = speed;
        }
    }
    settings.axes = parser.isSet(axesOption) || (settings.session && settings.session->axes);
    settings.scaleBar =
        parser.isSet(scaleBarOption) || (settings.session && settings.session->scaleBar);
    if (parser.isSet(sizeOption)) {
        const QStringList sides = parser.value(sizeOption).split(QLatin1Char('x'));
        bool widthOk = false;
        bool heightOk = false;
        if (sides.size() == 2)
            settings.size = QSize(sides.at(0).toInt(&widthOk), sides.at(1).toInt(&heightOk));
        if (!widthOk || !heightOk || settings.size.isEmpty())
            return tool.usageError(QStringLiteral("--size must be WxH in whole pixels above 0"),
                                   QString());
    }
    if (parser.isSet(dpiOption)) {
        bool ok = false;
        settings.dpi = parser.value(dpiOption).toInt(&ok);
        if (!ok || settings.dpi < 1 || settings.dpi > 10000)
            return tool.usageError(QStringLiteral("--dpi must be a whole number from 1 to 10000"),
                                   QString());
    }
    if (parser.isSet(fontSizeOption)) {
        bool ok = false;
        settings.fontSize = parser.value(fontSizeOption).toDouble(&ok);
        if (!ok || !(settings.fontSize >= 1.0) || settings.fontSize > 500.0)
            return tool.usageError(QStringLiteral("--font-size must be a number from 1 to 500"),
                                   QString());
    }
    settings.title = parser.value(titleOption);
    settings.curly = parser.isSet(curlyOption);
    settings.lic = parser.isSet(licOption);
    if (parser.isSet(layersOption)) {
        for (const QString& name : parser.value(layersOption).split(QLatin1Char(','))) {
            bool known = false;
            for (const auto& [kindName, kind] : layerKindNames())
                if (name.trimmed() == kindName) {
                    known = true;
                    if (!settings.shownKinds.contains(kind))
                        settings.shownKinds.append(kind);
                }
            if (!known)
                return tool.usageError(QStringLiteral("--layers: expected a comma list of "
                                                      "colorcoding, arrows, streamlines, got ") +
                                           parser.value(layersOption),
                                       QString());
        }
    }
    if (parser.isSet(seedsOption)) {
        QString reason;
        if (!SeedListReader::read(parser.value(seedsOption), &settings.seeds, &reason))
            return tool.usageError(QStringLiteral("--seeds: ") + reason, QString());
    }
    if (positional.size() != 2)
        return tool.usageError(
            QString(),
            QStringLiteral(
                "usage: velmora-render DATA OUT.jpg|png|svg|pdf [--scale S] "
                "[--background COLOR] [--colors LAYER=MAP]... [--legend] "
                "[--flip-vertically] [--frames A:B|all] [--range step|series] "
                "[--field NAME] [--subtract mean|U,V] [--axes] [--arrow-key [SPEED]] "
                "[--scale-bar] [--size WxH] [--dpi N] [--title TEXT] [--font-size PT] "
                "[--seeds FILE] [--curly] [--lic] [--layers KINDS] "
                "[--u VAR] [--v VAR] [--level K] [--step T] "
                "[--write-session S.velmora]\n"
                "       velmora-render --session S.velmora OUT.jpg|png|svg|pdf [options]\n"));
    settings.input = positional.at(0);
    settings.output = positional.at(1);

    bool scaleOk = false;
    settings.scale = parser.value(scaleOption).toFloat(&scaleOk);
    settings.scaleGiven = parser.isSet(scaleOption);
    if (!scaleOk || !(settings.scale > ViewPort::minimumScale) ||
        settings.scale > ViewPort::maximumScale)
        return tool.usageError(QStringLiteral("--scale must be a number above %1 and at most %2")
                                   .arg(ViewPort::minimumScale)
                                   .arg(ViewPort::maximumScale),
                               QString());

    if (parser.isSet(backgroundOption)) {
        settings.background = QColor::fromString(parser.value(backgroundOption));
        if (!settings.background.isValid())
            return tool.usageError(QStringLiteral("--background: not a colour: ") +
                                       parser.value(backgroundOption),
                                   QString());
    }

    QString problem;
    if (!LoadOptionArguments::read(parser, &settings.loadOptions, &problem))
        return tool.usageError(problem, QString());
    if (settings.session) {
        const Session& session = *settings.session;
        const bool loadGiven =
            parser.isSet(QStringLiteral("u")) || parser.isSet(QStringLiteral("v")) ||
            parser.isSet(QStringLiteral("level")) || parser.isSet(QStringLiteral("time-step"));
        if (!loadGiven)
            settings.loadOptions = session.options;
        if (!settings.scaleGiven)
            settings.scale = session.zoom;
        settings.frame = session.frame;
        for (const SessionLayer& layer : session.layers)
            settings.seriesRange = settings.seriesRange || layer.wholeSeries;
    }

    QStringList kindNames;
    for (const auto& [name, kind] : layerKindNames())
        kindNames.append(name);
    for (const QString& value : parser.values(colorsOption)) {
        const QString name = value.section(QLatin1Char('='), 0, 0);
        const QString map = value.section(QLatin1Char('='), 1);
        const int kind = int(kindNames.indexOf(name));
        if (kind < 0 || !ColorMap::names().contains(map))
            return tool.usageError(QStringLiteral("--colors: expected LAYER=MAP with LAYER one of "
                                                  "%1 and MAP one of %2, got %3")
                                       .arg(kindNames.join(QStringLiteral(", ")),
                                            ColorMap::names().join(QStringLiteral(", ")), value),
                                   QString());
        settings.colorMaps.append({layerKindNames().at(kind).second, map});
    }

    settings.frames = parser.isSet(framesOption);
    settings.framesText = parser.value(framesOption);
    if (settings.frames &&
        !FrameArguments::parse(settings.framesText, settings.firstFrame, settings.lastFrame))
        return tool.usageError(QStringLiteral("--frames must be A:B with 0 <= A <= B, or all"),
                               QString());
    const QString range = parser.value(rangeOption);
    if (range != QLatin1String("step") && range != QLatin1String("series"))
        return tool.usageError(QStringLiteral("--range must be step or series"), QString());
    settings.seriesRange = settings.seriesRange || range == QLatin1String("series");
    settings.legend = parser.isSet(legendOption) || (settings.session && settings.session->legend);
    settings.flipped = parser.isSet(flipOption) || (settings.session && settings.session->flipped);
    settings.field = parser.value(fieldOption);
    if (parser.isSet(subtractOption) &&
        !ReferenceFrame::parse(parser.value(subtractOption), &settings.frame, &problem))
        return tool.usageError(QStringLiteral("--subtract: ") + problem, QString());
    return std::nullopt;
}

// Reads the data set, or the series and the steps to render; false after
// reporting what does not load.
bool readInput(const ToolMain& tool, const RenderSettings& settings, RenderInput& input)
{
    QString reason;
    if (settings.frames || settings.seriesRange || settings.title.contains(timePlaceholder)) {
        input.series.reset(FlowSeries::open(settings.input, settings.loadOptions, &reason));
        if (!input.series) {
            tool.report(settings.input + QStringLiteral(": ") + reason);
            return false;
        }
    }
    const bool sessionStep = settings.session && !settings.frames;
    if (sessionStep && !input.series) {
        input.series.reset(FlowSeries::open(settings.input, settings.loadOptions, &reason));
        if (!input.series) {
            tool.report(settings.input + QStringLiteral(": ") + reason);
            return false;
        }
    }
    if (sessionStep) {
        // The step the window showed, by its number.
        int index = input.series->stepCount() == 1 ? 0 : -1;
        for (int k = 0; k < input.series->stepCount(); ++k)
            if (input.series->stepNumber(k) == settings.session->step)
                index = k;
        if (index < 0) {
            tool.report(QStringLiteral("the series has no step %1").arg(settings.session->step));
            return false;
        }
        input.shownStep = index;
        input.flowData.reset(input.series->loadStep(index, &reason));
        if (!input.flowData) {
            tool.report(settings.input + QStringLiteral(": ") + reason);
            return false;
        }
    } else if (!settings.frames) {
        if (input.series)
            input.shownStep = input.series->chosenIndex();
        input.flowData.reset(FlowData::fromFile(settings.input, settings.loadOptions, &reason));
        if (!input.flowData) {
            tool.report(settings.input + QStringLiteral(": ") + reason);
            return false;
        }
    }
    if (settings.frames) {
        for (int k = 0; k < input.series->stepCount(); ++k) {
            const int number = input.series->stepNumber(k);
            if (number >= settings.firstFrame && number <= settings.lastFrame)
                input.steps.append(k);
        }
        if (input.steps.isEmpty()) {
            tool.report(QStringLiteral("the series has no step in ") + settings.framesText);
            return false;
        }
    }
    if (settings.seriesRange) {
        input.ranges = input.series->seriesRanges();
        if (input.ranges.isEmpty()) {
            tool.report(QStringLiteral("no step of the series loads"));
            return false;
        }
    }
    return true;
}

// --layers and --lic, after every other setting of the layers' looks.
void showLayers(ViewPort& viewPort, const RenderSettings& settings)
{
    const LayerStack stack = viewPort.layerStack();
    if (!settings.shownKinds.isEmpty()) {
        const QList<Layer*>& layers = viewPort.layerList();
        for (const auto& [name, kind] : layerKindNames()) {
            const bool shown = settings.shownKinds.contains(kind);
            int topmost = -1;
            for (int i = 0; i < layers.size(); ++i)
                if (layers.at(i)->kind() == kind)
                    topmost = i;
            const bool anyVisible = stack.topmostVisible(kind) != nullptr;
            for (int i = 0; i < layers.size(); ++i) {
                Layer* layer = layers.at(i);
                if (layer->kind() != kind)
                    continue;
                const bool visible = shown && (layer->isVisible() || (!anyVisible && i == topmost));
                if (visible != layer->isVisible())
                    viewPort.setLayerLook(i, visible, layer->opacity());
            }
        }
    }
    if (settings.lic)
        if (LayerColorCoding* coding = stack.topmostVisibleColorCoding())
            coding->setLic(true, coding->licParameters(), coding->licCombine());
}

// The view port and its layers as the settings ask, before any data set.
// The panels are never shown; their forms hand the layers the start values
// the program's panels give them.
void configure(ViewPort& viewPort, QWidget& panels, const RenderSettings& settings,
               const QList<ValueRange>& seriesRanges)
{
    viewPort.createLayerPanels(&panels);
    showLayers(viewPort, settings);
    const LayerStack stack = viewPort.layerStack();
    for (const auto& [kind, map] : settings.colorMaps)
        applyColorMap(stack.topmostVisible(kind), map);
    viewPort.setLegendShown(settings.legend);
    viewPort.setAxesShown(settings.axes);
    viewPort.setReferenceArrowShown(settings.arrowKey.has_value());
    viewPort.setReferenceSpeed(settings.arrowKey.value_or(0.0));
    viewPort.setScaleBarShown(settings.scaleBar);
    viewPort.setFlippedVertically(settings.flipped);
    viewPort.setScale(settings.scale);
    if (!settings.seeds.isEmpty()) {
        for (LayerStreamlines* streamlines : stack.streamlines())
            streamlines->setSeeds(settings.seeds, true);
    }
    for (LayerArrows* arrows : stack.arrows())
        arrows->setCurly(settings.curly);
    if (settings.background.isValid()) {
        QPalette palette = viewPort.palette();
        palette.setColor(viewPort.backgroundRole(), settings.background);
        viewPort.setPalette(palette);
    }
    if (settings.seriesRange) {
        for (LayerColorCoding* colorCoding : stack.colorCodings()) {
            colorCoding->setSeriesRanges(seriesRanges);
            if (!settings.session)
                colorCoding->setColorRange(LayerColorCoding::WholeSeries);
        }
    }
}

// The session's settings on the data set just in, then the options given
// beside it; false after reporting why not.
bool applySession(const ToolMain& tool, ViewPort& viewPort, const RenderSettings& settings)
{
    const Session& session = *settings.session;
    const FlowData* data = viewPort.currentFlowData();
    if (!session.grid.isEmpty() &&
        session.grid != QSize(data->resolutionXValue(), data->resolutionYValue())) {
        tool.report(QStringLiteral("the session was saved with a %1 x %2 grid, %3 has %4 x %5")
                        .arg(session.grid.width())
                        .arg(session.grid.height())
                        .arg(settings.input)
                        .arg(data->resolutionXValue())
                        .arg(data->resolutionYValue()));
        return false;
    }
    const QString skipped = SessionBinding::apply(session, viewPort);
    if (!skipped.isEmpty())
        tool.report(skipped);
    viewPort.setScale(settings.scale);
    viewPort.setLegendShown(settings.legend);
    viewPort.setAxesShown(settings.axes);
    viewPort.setScaleBarShown(settings.scaleBar);
    if (settings.arrowKey) {
        viewPort.setReferenceArrowShown(true);
        viewPort.setReferenceSpeed(*settings.arrowKey);
    }
    viewPort.setFlippedVertically(settings.flipped);
    const LayerStack stack = viewPort.layerStack();
    if (!settings.seeds.isEmpty()) {
        for (LayerStreamlines* streamlines : stack.streamlines())
            streamlines->setSeeds(settings.seeds, true);
    }
    if (settings.curly) {
        for (LayerArrows* arrows : stack.arrows())
            arrows->setCurly(true);
    }
    showLayers(viewPort, settings);
    for (const auto& [kind, map] : settings.colorMaps)
        applyColorMap(stack.topmostVisible(kind), map);
    return true;
}

// The view port's picture with the title, the font and the resolution asked for.
VectorPicture framedPicture(ViewPort& viewPort, const RenderSettings& settings,
                            const QString& title)
{
    VectorPicture picture = viewPort.picture();
    picture.setTitle(title);
    if (settings.dpi > 0 || settings.fontSize > 0.0) {
        // In pixels, so that every device measures the text alike.
        const double points = settings.fontSize > 0.0 ? settings.fontSize : QFont().pointSizeF();
        const int dpi = settings.dpi > 0 ? settings.dpi : VectorPicture::defaultDotsPerInch;
        QFont font;
        font.setPixelSize(std::max(1, int(std::lround(points * dpi / 72.0))));
        picture.setFont(font);
    }
    if (settings.dpi > 0)
        picture.setDotsPerInch(settings.dpi);
    return picture;
}

// The zoom scale whose layer image fits `size` with the room the rest of
// the picture takes; nothing when no scale within the limits does.
std::optional<float> scaleForSize(ViewPort& viewPort, const RenderSettings& settings,
                                  const QString& title)
{
    const FlowData* data = viewPort.currentFlowData();
    const VectorPicture picture = framedPicture(viewPort, settings, title);
    const QSize room = picture.size() - viewPort.imageSize();
    const QSize available = settings.size - room;
    const float aspect = data ? data->aspectRatio() : 0.0f;
    if (available.isEmpty() || !(aspect > 0.0f))
        return std::nullopt;
    // The longer side of the layer image, as ViewPort::imageSizeFor takes it.
    int base = aspect <= 1.0f ? std::min(available.height(), int(available.width() / aspect))
                              : std::min(available.width(), int(available.height() * aspect));
    for (; base > 0; --base) {
        const float scale = float(base) / 1000.0f;
        const QSize layers = ViewPort::imageSizeFor(aspect, scale);
        if (layers.width() <= available.width() && layers.height() <= available.height())
            break;
    }
    const float scale = float(base) / 1000.0f;
    if (!(scale > ViewPort::minimumScale) || scale > ViewPort::maximumScale)
        return std::nullopt;
    return scale;
}

// One picture of `data` into `fileName`; false after reporting why not.
bool renderPicture(const ToolMain& tool, ViewPort& viewPort, FlowData* data,
                   const QString& fileName, const RenderSettings& settings, RenderInput& input,
                   const QString& title)
{
    QString reason;
    const std::unique_ptr<FlowData> framed = settings.frame.apply(*data, &reason);
    if (!framed && !settings.frame.atRest()) {
        tool.report(QStringLiteral("--subtract: ") + reason);
        return false;
    }
    // The layers let go of the moving frame's data set before it goes.
    struct Release
    {
        ViewPort& viewPort;
        bool needed;
        ~Release()
        {
            if (needed)
                viewPort.setFlowData(nullptr);
        }
    } release{viewPort, bool(framed)};
    // A full switch, not a step: each frame is what a single render of its
    // step gives.
    viewPort.setFlowData(framed ? framed.get() : data);
    // Kept beside the data set, let go of before it goes; the layers ask it
    // only for a derived field they show.
    std::unique_ptr<DerivedFieldCache> cache;
    const QList<LayerColorCoding*> colorCodings = viewPort.layerStack().colorCodings();
    if (data) {
        cache = std::make_unique<DerivedFieldCache>(*data);
        for (LayerColorCoding* colorCoding : colorCodings)
            colorCoding->setDerivedFieldCache(cache.get());
    }
    const auto letGo = [&colorCodings] {
        for (LayerColorCoding* colorCoding : colorCodings)
            colorCoding->setDerivedFieldCache(nullptr);
    };
    if (settings.session && !applySession(tool, viewPort, settings)) {
        letGo();
        return false;
    }
    LayerColorCoding* colorCoding = viewPort.layerStack().topmostVisibleColorCoding();
    if (!settings.field.isEmpty() && colorCoding && cache) {
        const int index = LayerColorCoding::fieldIndex(data, settings.field);
        if (index < 0) {
            letGo();
            tool.report(
                QStringLiteral("--field: no field \"%1\" in the data set").arg(settings.field));
            return false;
        }
        colorCoding->setField(index);
    }
    if (!settings.size.isEmpty()) {
        const std::optional<float> scale = scaleForSize(viewPort, settings, title);
        if (!scale) {
            letGo();
            tool.report(QStringLiteral("--size: %1 x %2 leaves the layers no size from %3 to %4 "
                                       "times 1000 pixels")
                            .arg(settings.size.width())
                            .arg(settings.size.height())
                            .arg(ViewPort::minimumScale)
                            .arg(ViewPort::maximumScale));
            return false;
        }
        viewPort.setScale(*scale);
    }
    const bool finished = viewPort.layerStack().finishRendering(120000);
    if (!settings.writeSession.isEmpty() && !input.captured) {
        Session session = settings.session ? *settings.session : Session();
        SessionBinding::capture(viewPort, &session);
        session.dataFile = QFileInfo(settings.input).absoluteFilePath();
        session.options = settings.loadOptions;
        session.step = settings.session && !settings.frames ? settings.session->step
                                                            : settings.loadOptions.step;
        session.grid = QSize(data->resolutionXValue(), data->resolutionYValue());
        session.frame = settings.frame;
        input.captured = session;
    }
    if (!finished) {
        letGo();
        tool.report(QStringLiteral("the layers did not finish rendering in time"));
        return false;
    }
    // The legend reads a derived field's extremes from the cache.
    VectorPicture picture = framedPicture(viewPort, settings, title);
    picture.setCanvasSize(settings.size);
    const bool written = picture.write(fileName);
    letGo();
    if (!written) {
        tool.report(QStringLiteral("could not write ") + fileName);
        return false;
    }
    return true;
}

// One picture per step; a step that does not load is reported and left out
// (status 1), a picture that is not written ends the run.
int renderFrames(const ToolMain& tool, ViewPort& viewPort, const RenderSettings& settings,
                 RenderInput& input)
{
    int status = 0;
    for (int k : std::as_const(input.steps)) {
        QString reason;
        std::unique_ptr<FlowData> step(input.series->loadStep(k, &reason));
        if (!step) {
            tool.report(reason);
            status = 1;
            continue;
        }
        QString title = settings.title;
        title.replace(timePlaceholder, input.series->stepTimeValueText(k));
        const bool written = renderPicture(tool, viewPort, step.get(),
                                           frameName(settings.output, input.series->stepNumber(k)),
                                           settings, input, title);
        // The layers let go of the step before it is deleted.
        viewPort.setFlowData(nullptr);
        if (!written)
            return 1;
    }
    return status;
}

// The speed of --arrow-key=SPEED, the option left in argv as --arrow-key:
// the parser refuses a value after an option that takes none.
std::optional<QString> takeArrowKeyValue(int argc, char** argv)
{
    static char bareOption[] = "--arrow-key";
    const QLatin1String prefix("--arrow-key=");
    std::optional<QString> value;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument.startsWith(prefix)) {
            value = argument.mid(prefix.size());
            argv[i] = bareOption;
        }
    }
    return value;
}

// The value of --session S or --session=S, taken out of argv: the
// application object would take it as its own session-management option.
// Empty for --session without a value; nothing without the option.
std::optional<QString> takeSessionArgument(int& argc, char** argv)
{
    std::optional<QString> value;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--session")) {
            value = i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString();
        } else if (argument.startsWith(QLatin1String("--session="))) {
            value = argument.mid(int(qstrlen("--session=")));
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return value;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<QString> sessionArgument = takeSessionArgument(argc, argv);
    const std::optional<QString> arrowKeyValue = takeArrowKeyValue(argc, argv);
    ToolMain tool = ToolMain::offscreen<QApplication>(argc, argv, QStringLiteral("velmora-render"));
    RenderSettings settings;
    if (const std::optional<int> done =
            readSettings(tool, settings, sessionArgument, arrowKeyValue))
        return *done;
    tool.quietDebug();
    RenderInput input;
    if (!readInput(tool, settings, input))
        return 1;
    // Declared after the data set, so the layers and their workers go first.
    ViewPort viewPort;
    QWidget panels;
    configure(viewPort, panels, settings, input.ranges);
    int status = 0;
    if (!settings.frames) {
        QString title = settings.title;
        if (input.series && input.shownStep >= 0)
            title.replace(timePlaceholder, input.series->stepTimeValueText(input.shownStep));
        status = renderPicture(tool, viewPort, input.flowData.get(), settings.output, settings,
                               input, title)
                     ? 0
                     : 1;
    } else
        status = renderFrames(tool, viewPort, settings, input);
    if (!settings.writeSession.isEmpty()) {
        QString reason;
        if (!input.captured) {
            tool.report(QStringLiteral("no picture rendered; no session written"));
            return 1;
        }
        if (!input.captured->write(settings.writeSession, &reason)) {
            tool.report(settings.writeSession + QStringLiteral(": ") + reason);
            return 1;
        }
    }
    return status;
}
