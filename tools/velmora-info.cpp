// velmora-info FILE [--u VAR --v VAR --level K --step T]: what a flow data
// set holds, before looking at it.
//
// Loads FILE as the program does (any format it reads) and prints the
// resolution, aspect, scalar sets with their names and units, the units,
// time information and the coordinate and value ranges as read from the
// files, then every derived field's name, unit and range (computed here).
// Exit status 0 on success, 1 when the
// data set does not load (the reason goes to standard error), 2 on a wrong
// command line.

#include "data/DerivedField.h"
#include "data/DerivedFieldCache.h"
#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"
#include "data/RectangularFlowData.h"
#include "tools/LoadOptionArguments.h"
#include "tools/ToolMain.h"

#include <QTextStream>

#include <cmath>
#include <memory>

namespace {

int nonFiniteCount(const ScalarSet& set)
{
    int count = 0;
    for (int k = 0; k < set.values.size(); ++k)
        count += std::isfinite(set.values[k]) ? 0 : 1;
    return count;
}

} // namespace

int main(int argc, char** argv)
{
    ToolMain tool(argc, argv, QStringLiteral("velmora-info"));
    QTextStream out(stdout);
    out.setRealNumberPrecision(7);

    QCommandLineParser& parser = tool.parser();
    parser.setApplicationDescription(
        QStringLiteral("Prints a flow data set's resolution, aspect ratio, scalar sets, time\n"
                       "information and value ranges."));
    LoadOptionArguments::add(parser, true);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("the data set: FILE.gri with FILE.dat, NetCDF, "
                                                "column text, Tecplot, VTK or MATLAB"));
    if (const std::optional<int> done = tool.parse())
        return *done;
    LoadOptions options;
    QString problem;
    if (parser.positionalArguments().size() != 1 ||
        !LoadOptionArguments::read(parser, &options, &problem))
        return tool.usageError(
            problem,
            QStringLiteral(
                "usage: velmora-info FILE [--u VAR] [--v VAR] [--level K] [--step T]\n"
                "   (FILE.gri with FILE.dat, NetCDF, column text, Tecplot, VTK or MATLAB)\n"));
    const QString fileName = parser.positionalArguments().constFirst();

    tool.quietDebug();
    QString reason;
    const std::unique_ptr<FlowData> data(FlowData::fromFile(fileName, options, &reason));
    if (!data) {
        tool.report(FlowData::dataName(fileName) + QStringLiteral(": ") + reason);
        return 1;
    }

    const int columns = data->resolutionXValue();
    const int rows = data->resolutionYValue();
    const bool fastAlongY = data->axesExchanged();
    const QList<ScalarSet>& scalars = data->scalarSets();
    const int fileSets = data->scalarSetCount() - 1;

    out << "data set:          " << FlowData::dataName(fileName) << "\n";
    out << "resolution:        " << columns << " x " << rows << " (" << qint64(columns) * rows
        << " points)\n";
    if (data->isCurvilinear())
        out << "grid:              curvilinear, " << columns << " x " << rows
            << " points, bounding box " << data->geometryMinimum().x << ", "
            << data->geometryMinimum().y << " to " << data->geometryMaximum().x << ", "
            << data->geometryMaximum().y << "\n";
    if (!data->velocityNote().isEmpty())
        out << "velocity:          " << data->velocityNote() << "\n";
    out << "aspect:            " << data->aspectRatio() << "\n";
    out << "point order:       "
        << (fastAlongY ? "y runs fastest (shown with the file's y axis across)" : "x runs fastest")
        << "\n";
    out << "scalar sets:       " << fileSets << " (plus the velocity magnitude)\n";
    out << "time steps:        " << data->timeStepsValue() << "\n";
    out << "time difference:   " << data->timeDifferenceValue() << "\n";
    // The file's own time of the step read, as a date where it gives one.
    if (size_t(options.step) < data->stepTimes().size())
        out << "time:              "
            << data->stepTimeUnits().text(data->stepTimes()[size_t(options.step)]) << "\n";
    const Vector3 low = data->geometryMinimum();
    const Vector3 high = data->geometryMaximum();
    out << "x range:           " << low.x << " to " << high.x << "\n";
    out << "y range:           " << low.y << " to " << high.y << "\n";
    out << "speed range:       " << data->vectorMinimum() << " to " << data->vectorMaximum()
        << "\n";
    if (!data->lengthUnit().isEmpty())
        out << "length unit:       " << data->lengthUnit() << "\n";
    if (!data->velocityUnit().isEmpty())
        out << "velocity unit:     " << data->velocityUnit() << "\n";
    for (int s = 0; s < fileSets; ++s) {
        out << "scalar[" << s << "] range:   " << scalars[s].minimum << " to "
            << scalars[s].maximum;
        if (!scalars[s].name.isEmpty())
            out << "  (" << scalars[s].name
                << (scalars[s].unit.isEmpty() ? QString()
                                              : QStringLiteral(" [%1]").arg(scalars[s].unit))
                << ")";
        out << "\n";
    }
    out << "masked points:     " << nonFiniteCount(scalars.last()) << " (velocity not finite)\n";
    QList<DerivedField::Kind> kinds;
    for (int k = 0; k < DerivedField::kindCount; ++k)
        kinds.append(DerivedField::Kind(k));
    // A rectilinear grid gets all sets in one pass; a curvilinear one through
    // the cache, which differentiates along its indices.
    QList<ScalarSet> derived;
    if (const auto* grid = dynamic_cast<const RectangularFlowData*>(data.get())) {
        derived = DerivedField::compute(DerivedFieldGrid::fromFlowData(*grid), kinds);
    } else {
        DerivedFieldCache cache(*data);
        for (DerivedField::Kind kind : kinds) {
            const ScalarSet* set = cache.compute(kind);
            ScalarSet missing;
            missing.name = DerivedField::name(kind);
            derived.append(set ? *set : missing);
        }
    }
    for (int k = 0; k < derived.size(); ++k) {
        const ScalarSet& set = derived[k];
        out << "derived " << QStringLiteral("%1").arg(DerivedField::key(kinds[k]) + ":", -19);
        if (set.values.isEmpty())
            out << "not computed (out of memory)";
        else
            out << set.minimum << " to " << set.maximum;
        out << "  (" << set.name
            << (set.unit.isEmpty() ? QString() : QStringLiteral(" [%1]").arg(set.unit)) << ")\n";
    }
    return 0;
}
