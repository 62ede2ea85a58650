// velmora-render DATA OUT.(jpg|png) [--scale S] [--background COLOR]
//                [--colors LAYER=MAP]... [--legend] [--flip-vertically]
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

#include "app/shell/Layer.h"
#include "app/Version.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
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
               "[--colors LAYER=MAP]... [--legend] [--flip-vertically] [--u VAR] [--v VAR] "
               "[--level K] [--step T]\n";
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

    qInstallMessageHandler(quietDebug);
    QString reason;
    std::unique_ptr<FlowData> flowData(FlowData::fromFile(positional.at(0), options, &reason));
    if (!flowData) {
        err << "velmora-render: " << positional.at(0) << ": " << reason << "\n";
        return 1;
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
    viewPort.setFlowData(flowData.get());
    if (!viewPort.finishRendering(120000)) {
        err << "velmora-render: the layers did not finish rendering in time\n";
        return 1;
    }

    const QImage picture = viewPort.renderImage();
    const QString output = positional.at(1);
    const bool png =
        QFileInfo(output).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0;
    if (picture.isNull() || !picture.save(output, png ? "png" : "jpg", png ? -1 : 80)) {
        err << "velmora-render: could not write " << output << "\n";
        return 1;
    }
    return 0;
}
