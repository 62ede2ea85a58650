// velmora-convert IN OUT.gri [--u VAR --v VAR --level K --step T]: writes a
// data set read from any format Velmora opens as a native .gri/.dat pair.
//
// The pair holds the values as the file holds them (packing applied, missing
// values as NaN, descending axes turned round), so that it loads to the same
// arrays as IN. Names and units have no place in the pair and are dropped.
// Exit status 0 on success, 1 when IN does not load or OUT cannot be
// written, 2 on a wrong command line.

#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "formats/FlowFileReader.h"
#include "tools/LoadOptionArguments.h"
#include "tools/ToolMain.h"

#include <QFile>

namespace {

bool copyNative(const QString& input, const QString& output, QString* problem)
{
    const QString from = FlowData::dataName(input);
    QString data = from + QStringLiteral(".dat");
    if (!QFile::exists(data))
        data = from + QStringLiteral(".00000.dat");
    for (const auto& [source, target] :
         {std::pair<QString, QString>{from + QStringLiteral(".gri"),
                                      output + QStringLiteral(".gri")},
          std::pair<QString, QString>{data, output + QStringLiteral(".dat")}}) {
        QFile::remove(target);
        if (!QFile::copy(source, target)) {
            *problem = QStringLiteral("copying %1 to %2 failed").arg(source, target);
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    ToolMain tool(argc, argv, QStringLiteral("velmora-convert"));
    QCommandLineParser& parser = tool.parser();
    parser.setApplicationDescription(
        QStringLiteral("Writes a flow data set of any format Velmora opens as a native .gri/.dat "
                       "pair."));
    LoadOptionArguments::add(parser, true);
    parser.addPositionalArgument(QStringLiteral("in"), QStringLiteral("the file to convert"));
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("the pair to write (.gri)"));
    const QString usage = QStringLiteral(
        "usage: velmora-convert IN OUT.gri [--u VAR] [--v VAR] [--level K] [--step T]\n");
    if (const std::optional<int> done = tool.parse(usage))
        return *done;
    LoadOptions options;
    QString problem;
    if (parser.positionalArguments().size() != 2 ||
        !LoadOptionArguments::read(parser, &options, &problem))
        return tool.usageError(problem, usage);
    const QString input = parser.positionalArguments().at(0);
    const QString output = FlowData::dataName(parser.positionalArguments().at(1));

    tool.quietDebug();
    if (FlowFileReader::isNativePair(input)) {
        if (!copyNative(input, output, &problem)) {
            tool.report(problem);
            return 1;
        }
        return 0;
    }
    FlowRecord record;
    QString reason;
    if (!FlowFileReader::read(input, options, record, &reason)) {
        tool.report(input + QStringLiteral(": ") + reason);
        return 1;
    }
    record.makeAscending();
    QList<float> xs;
    QList<float> ys;
    for (double x : record.x)
        xs.append(float(x));
    for (double y : record.y)
        ys.append(float(y));
    FlowDataWriter writer;
    if (!writer.setGrid(xs, ys, &reason)) {
        tool.report(input + QStringLiteral(": ") + reason);
        return 1;
    }
    QList<Vector3> vectors;
    vectors.reserve(qsizetype(record.u.size()));
    for (size_t k = 0; k < record.u.size(); ++k)
        vectors.append(Vector3(record.u[k], record.v[k], 0.0f));
    std::vector<float>().swap(record.u);
    std::vector<float>().swap(record.v);
    writer.setVectors(vectors);
    for (FlowRecord::Field& field : record.scalars) {
        writer.addScalarSet(QList<float>(field.values.begin(), field.values.end()));
        std::vector<float>().swap(field.values);
    }
    writer.setTimeInformation(record.timeSteps, record.timeDifference);
    if (!writer.write(output, &reason)) {
        tool.report(output + QStringLiteral(": ") + reason);
        return 1;
    }
    return 0;
}
