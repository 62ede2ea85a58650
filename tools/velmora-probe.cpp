// velmora-probe FILE --line X0,Y0,X1,Y1 [--samples N] | --polyline X0,Y0,X1,Y1,...
//               | --point X,Y [--frames A:B|all]
//               [--derive KEYS|all] [--subtract mean|U,V] [--output OUT] [--summary]
//               [--strouhal L,U]
//               [--u VAR] [--v VAR] [--level K] [--step T]
//
// Measures a flow data set as the read-out does (the same bilinear values)
// and writes the numbers as CSV for scripts: a profile along a line or a
// polyline (LineProfile), or the history of a point over the steps of a
// series (PointHistory). Positions are in the file's physical coordinates.
//
// --subtract reads the velocity in a frame moving with the field's mean (of
// each step) or with U,V, as the read-out shows it in that frame; the scalar
// and derived sets stay the file's.
//
// CSV goes to standard output, or to OUT with --output. --summary writes,
// instead of the table on standard output, the mean of each column and, for
// a line, the flux through it; for a point the dominant frequency of each
// column and, with --strouhal, St = f L / U.
//
// Exit status: 0 when written (a line or point partly or wholly outside the
// grid writes empty values and a warning), 1 when the data set does not load,
// the output cannot be written or a step of the series is missing (its row
// is written empty, the step reported), 2 on a wrong command line.

#include "data/DerivedFieldGrid.h"
#include "data/DominantFrequency.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"
#include "data/ReferenceFrame.h"
#include "tools/DeriveArguments.h"
#include "tools/FrameArguments.h"
#include "tools/LoadOptionArguments.h"
#include "tools/ToolMain.h"

#include <QFile>
#include <QTextStream>

#include <cmath>
#include <memory>

namespace {

const QString usage =
    QStringLiteral("usage: velmora-probe FILE --line X0,Y0,X1,Y1 [--samples N]\n"
                   "       velmora-probe FILE --polyline X0,Y0,X1,Y1,... [--samples N]\n"
                   "       velmora-probe FILE --point X,Y [--frames A:B|all] [--strouhal L,U]\n"
                   "   [--derive KEYS|all] [--subtract mean|U,V] [--output OUT] [--summary]\n"
                   "   [--u VAR] [--v VAR] [--level K] [--step T]\n");

// Comma-separated finite numbers; empty when any is not one.
QList<double> numbers(const QString& text)
{
    QList<double> values;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const double value = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return {};
        values.append(value);
    }
    return values;
}

QList<QPointF> points(const QList<double>& values)
{
    QList<QPointF> result;
    for (int k = 0; k + 1 < values.size(); k += 2)
        result.append(QPointF(values[k], values[k + 1]));
    return result;
}

bool writeTable(const ToolMain& tool, const ExtractionTable& table, const QString& output)
{
    QFile file;
    const bool opened = output.isEmpty() ? file.open(stdout, QIODevice::WriteOnly)
                                         : (file.setFileName(output),
                                            file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    if (!opened || !table.writeCsv(file) || !file.flush()) {
        tool.report((output.isEmpty() ? QStringLiteral("standard output") : output) +
                    QStringLiteral(": cannot write: ") + file.errorString());
        return false;
    }
    return true;
}

QString withUnit(double value, const QString& unit)
{
    const QString text =
        std::isfinite(value) ? QString::number(value, 'g', 9) : QStringLiteral("—");
    return unit.isEmpty() || !std::isfinite(value) ? text : text + QLatin1Char(' ') + unit;
}

void writeMeans(QTextStream& out, const ExtractionTable& table, int firstColumn)
{
    for (int c = firstColumn; c < table.columnCount(); ++c)
        out << "mean " << table.column(c).name << ": "
            << withUnit(table.mean(c), table.column(c).unit) << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    ToolMain tool(argc, argv, QStringLiteral("velmora-probe"));
    QCommandLineParser& parser = tool.parser();
    parser.setApplicationDescription(QStringLiteral(
        "Writes the values of a flow data set along a line or a polyline, or at a point over\n"
        "the steps of a series, as CSV: the bilinear values the program's read-out shows, in\n"
        "the file's physical units. Positions are in the file's physical coordinates. Columns\n"
        "of a line: s (arc length), x, y, u, v, speed, tangential and normal (the normal n\n"
        "points to the left of the direction of travel), then each scalar set by name; of a\n"
        "point: step, time, x, y, u, v, speed, then each scalar set. A header row names the\n"
        "columns as \"name [unit]\"; a value that is not there (outside the grid, a masked\n"
        "point, a missing step) is an empty field."));
    LoadOptionArguments::add(parser, true);
    const QCommandLineOption lineOption(
        QStringLiteral("line"), QStringLiteral("a straight line from (X0, Y0) to (X1, Y1)."),
        QStringLiteral("X0,Y0,X1,Y1"));
    const QCommandLineOption polylineOption(
        QStringLiteral("polyline"),
        QStringLiteral("a polyline through two or more points; the samples are evenly spaced "
                       "along its whole length."),
        QStringLiteral("X0,Y0,X1,Y1,..."));
    const QCommandLineOption samplesOption(
        QStringLiteral("samples"),
        QStringLiteral("the number of samples along the line, ends included (default 101)."),
        QStringLiteral("N"), QStringLiteral("101"));
    const QCommandLineOption pointOption(
        QStringLiteral("point"), QStringLiteral("the point whose values over the steps to write."),
        QStringLiteral("X,Y"));
    const QCommandLineOption framesOption(
        QStringLiteral("frames"),
        QStringLiteral("with --point: the steps A to B by their file numbers, or all (default)."),
        QStringLiteral("A:B|all"), QStringLiteral("all"));
    const QCommandLineOption deriveOption(
        QStringLiteral("derive"),
        QStringLiteral("adds derived fields as columns after the scalar sets, in this order "
                       "(any of %1, or all).")
            .arg(DerivedField::keyList()),
        QStringLiteral("KEYS"));
    const QCommandLineOption outputOption(
        QStringLiteral("output"),
        QStringLiteral("writes the CSV to OUT instead of standard output."), QStringLiteral("OUT"));
    const QCommandLineOption summaryOption(
        QStringLiteral("summary"),
        QStringLiteral("writes the mean of each column and, for a line, the flux through it (the "
                       "integral of the normal component over s), for a point the dominant "
                       "frequency of each column, on standard output instead of the table."));
    const QCommandLineOption strouhalOption(
        QStringLiteral("strouhal"),
        QStringLiteral("with --point --summary: a length L and a velocity U for the Strouhal "
                       "number St = f L / U of each dominant frequency f."),
        QStringLiteral("L,U"));
    const QCommandLineOption subtractOption(
        QStringLiteral("subtract"),
        QStringLiteral("reads the velocity in a frame moving with the field's mean velocity or "
                       "with U,V (the file's components and units)."),
        QStringLiteral("mean|U,V"));
    for (const QCommandLineOption& option :
         {lineOption, polylineOption, samplesOption, pointOption, framesOption, deriveOption,
          subtractOption, outputOption, summaryOption, strouhalOption})
        parser.addOption(option);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("the data set: FILE.gri with FILE.dat, NetCDF, "
                                                "column text, Tecplot or VTK"));
    if (const std::optional<int> done = tool.parse(usage))
        return *done;

    LoadOptions options;
    QString problem;
    if (parser.positionalArguments().size() != 1 ||
        !LoadOptionArguments::read(parser, &options, &problem))
        return tool.usageError(problem, usage);
    const QString fileName = parser.positionalArguments().constFirst();
    const int shapes = int(parser.isSet(lineOption)) + int(parser.isSet(polylineOption)) +
                       int(parser.isSet(pointOption));
    if (shapes != 1)
        return tool.usageError(QStringLiteral("give one of --line, --polyline and --point"), usage);
    const bool point = parser.isSet(pointOption);
    if (point && parser.isSet(samplesOption))
        return tool.usageError(QStringLiteral("--samples is for a line"), usage);
    if (!point && (parser.isSet(framesOption) || parser.isSet(strouhalOption)))
        return tool.usageError(QStringLiteral("--frames and --strouhal are for a point"), usage);
    const QCommandLineOption& shape = point                      ? pointOption
                                      : parser.isSet(lineOption) ? lineOption
                                                                 : polylineOption;
    const QList<double> coordinates = numbers(parser.value(shape));
    const qsizetype wanted = point ? 2 : parser.isSet(lineOption) ? 4 : -1;
    if (coordinates.isEmpty() || (wanted > 0 && coordinates.size() != wanted) ||
        (wanted < 0 && (coordinates.size() < 4 || coordinates.size() % 2 != 0)))
        return tool.usageError(QStringLiteral("--%1: expected %2 numbers, got \"%3\"")
                                   .arg(shape.names().constFirst(),
                                        wanted > 0 ? QString::number(wanted)
                                                   : QStringLiteral("an even count (4 or more) of"),
                                        parser.value(shape)),
                               usage);
    bool samplesOk = false;
    const int samples = parser.value(samplesOption).toInt(&samplesOk);
    if (!samplesOk || samples < 2 || samples > 10000000)
        return tool.usageError(QStringLiteral("--samples: a count from 2 on, not ") +
                                   parser.value(samplesOption),
                               usage);
    int firstFrame = 0;
    int lastFrame = 0;
    if (!FrameArguments::parse(parser.value(framesOption), firstFrame, lastFrame))
        return tool.usageError(QStringLiteral("--frames must be A:B with 0 <= A <= B, or all"),
                               usage);
    QList<DerivedField::Kind> kinds;
    if (parser.isSet(deriveOption) &&
        !DeriveArguments::parse(QStringLiteral("derive"), parser.value(deriveOption), &kinds,
                                &problem))
        return tool.usageError(problem, usage);
    const QList<double> strouhal = numbers(parser.value(strouhalOption));
    if (parser.isSet(strouhalOption) && (strouhal.size() != 2 || strouhal[1] == 0.0))
        return tool.usageError(QStringLiteral("--strouhal: a length and a velocity (not 0), not ") +
                                   parser.value(strouhalOption),
                               usage);
    ReferenceFrame frame;
    if (parser.isSet(subtractOption) &&
        !ReferenceFrame::parse(parser.value(subtractOption), &frame, &problem))
        return tool.usageError(QStringLiteral("--subtract: ") + problem, usage);
    const QString output = parser.value(outputOption);
    const bool summary = parser.isSet(summaryOption);

    tool.quietDebug();
    QTextStream out(stdout);
    QString reason;
    if (!point) {
        const std::unique_ptr<FlowData> data(FlowData::fromFile(fileName, options, &reason));
        const FlowData* grid = data.get();
        if (!grid) {
            tool.report(FlowData::dataName(fileName) + QStringLiteral(": ") + reason);
            return 1;
        }
        const QList<ScalarSet> derived =
            kinds.isEmpty() ? QList<ScalarSet>()
                            : DerivedField::compute(DerivedFieldGrid::fromFlowData(*grid), kinds);
        QList<const ScalarSet*> sets;
        for (const ScalarSet& set : derived)
            sets.append(&set);
        const std::unique_ptr<FlowData> framed = frame.apply(*grid, &reason);
        const FlowData* moving = framed.get();
        if (!frame.atRest() && !moving) {
            tool.report(QStringLiteral("--subtract: ") + reason);
            return 1;
        }
        const LineProfile profile(moving ? *moving : *grid, points(coordinates), samples, sets);
        if (!profile.isValid())
            return tool.usageError(
                QStringLiteral("--%1: the line has no length").arg(shape.names().constFirst()),
                usage);
        if (profile.outsideCount() > 0)
            tool.report(QStringLiteral("warning: %1 of %2 samples lie outside the grid; their "
                                       "values are empty")
                            .arg(profile.outsideCount())
                            .arg(samples));
        if ((!summary || !output.isEmpty()) && !writeTable(tool, profile.samples(), output))
            return 1;
        if (summary) {
            out << "length: " << withUnit(profile.length(), grid->lengthUnit()) << "\n";
            writeMeans(out, profile.samples(), LineProfile::U);
            out << "flux: " << withUnit(profile.flux(), profile.fluxUnit()) << "\n";
            if (profile.fluxGapLength() > 0.0)
                out << "flux gap: " << withUnit(profile.fluxGapLength(), grid->lengthUnit())
                    << " of the line left out (no values)\n";
        }
        return 0;
    }

    const std::unique_ptr<FlowSeries> series(FlowSeries::open(fileName, options, &reason));
    if (!series) {
        tool.report(FlowData::dataName(fileName) + QStringLiteral(": ") + reason);
        return 1;
    }
    int first = series->stepCount();
    int last = -1;
    for (int k = 0; k < series->stepCount(); ++k) {
        const int number = series->stepNumber(k);
        if (number >= firstFrame && number <= lastFrame) {
            first = std::min(first, k);
            last = std::max(last, k);
        }
    }
    if (last < first) {
        tool.report(QStringLiteral("the series has no step in ") + parser.value(framesOption));
        return 1;
    }
    const PointHistory history = PointHistory::read(*series, coordinates[0], coordinates[1], first,
                                                    last, kinds, {}, nullptr, frame);
    if (history.isOutside())
        tool.report(QStringLiteral("warning: the point (%1, %2) lies outside the grid; its values "
                                   "are empty")
                        .arg(coordinates[0])
                        .arg(coordinates[1]));
    for (const QString& gap : history.gaps())
        if (!gap.isEmpty())
            tool.report(gap);
    if ((!summary || !output.isEmpty()) && !writeTable(tool, history.rows(), output))
        return 1;
    if (summary) {
        const ExtractionTable& rows = history.rows();
        writeMeans(out, rows, PointHistory::U);
        for (int c = PointHistory::U; c < rows.columnCount(); ++c) {
            const DominantFrequency found(rows.values(c), history.timeStep());
            out << "dominant frequency of " << rows.column(c).name << ": "
                << withUnit(found.frequency(), QString());
            if (found.isValid()) {
                out << " (resolution " << QString::number(found.resolution(), 'g', 3) << ")";
                if (strouhal.size() == 2)
                    out << ", St = "
                        << QString::number(DominantFrequency::strouhal(found.frequency(),
                                                                       strouhal[0], strouhal[1]),
                                           'g', 6);
            }
            out << "\n";
        }
    }
    return history.gapCount() > 0 ? 1 : 0;
}
