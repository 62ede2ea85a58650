// velmora-convert IN OUT.gri [--u VAR --v VAR --level K --step T]: writes a
// data set read from any format Velmora opens as a native .gri/.dat pair.
//
// The pair holds the values as the file holds them (packing applied, missing
// values as NaN, descending axes turned round), so that it loads to the same
// arrays as IN. Names and units have no place in the pair and are dropped.
// --derive KEYS (comma-separated DerivedField keys) appends those derived
// fields, in the order given and in physical units, as scalar sets after the
// file's own; a native pair is then written anew from its own floats.
// A curvilinear grid has no native pair; --resample WxH writes it resampled
// onto a rectilinear grid of W x H points over its bounding box (bilinear in
// each cell, NaN outside every cell: land, a body), derived fields taken on
// the curvilinear grid itself and resampled alike.
// Exit status 0 on success, 1 when IN does not load or OUT cannot be
// written, 2 on a wrong command line.

#include "data/CurvilinearFlowData.h"
#include "data/DerivedField.h"
#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/RectangularFlowData.h"
#include "formats/FlowFileReader.h"
#include "formats/NativePairFormat.h"
#include "tools/DeriveArguments.h"
#include "tools/LoadOptionArguments.h"
#include "tools/ToolMain.h"

#include <QFile>
#include <QtEndian>

#include <memory>

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

// The floats of a native file from byte `from` on, `count` of them.
bool readFloats(const QString& fileName, qint64 from, qint64 count, QList<float>* out)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return false;
    const QByteArray bytes = file.read(count * 4);
    if (bytes.size() != count * 4)
        return false;
    out->resize(count);
    for (qint64 k = 0; k < count; ++k)
        (*out)[k] = qFromLittleEndian<float>(bytes.constData() + 4 * k);
    return true;
}

// A native pair with derived sets appended: its own floats in file order
// (the writer keeps positions and values in the order given), then the sets,
// which come out of the loaded data set in that order too.
bool writeNativeWithDerived(const QString& input, const QString& output,
                            const QList<DerivedField::Kind>& kinds, QString* problem)
{
    const QString from = FlowData::dataName(input);
    QString dataFile = from + QStringLiteral(".dat");
    if (!QFile::exists(dataFile))
        dataFile = from + QStringLiteral(".00000.dat");
    const std::unique_ptr<FlowData> loaded(
        FlowData::fromFiles(from + QStringLiteral(".gri"), dataFile, problem));
    const auto* grid = dynamic_cast<const RectangularFlowData*>(loaded.get());
    QFile geometry(from + QStringLiteral(".gri"));
    NativePairFormat::Header header;
    if (!grid || !geometry.open(QIODevice::ReadOnly) ||
        !NativePairFormat::parseHeader(geometry.read(NativePairFormat::headerSize), header)) {
        if (problem->isEmpty())
            *problem = input + QStringLiteral(": does not load");
        return false;
    }
    const qint64 points = header.points();
    const qint64 perPoint = header.recordFloats();
    QList<float> xyz;
    QList<float> records;
    if (!readFloats(geometry.fileName(), NativePairFormat::headerSize, 3 * points, &xyz) ||
        !readFloats(dataFile, 0, perPoint * points, &records)) {
        *problem = input + QStringLiteral(": the pair cannot be read again");
        return false;
    }
    QList<Vector3> positions;
    QList<Vector3> vectors;
    for (qint64 k = 0; k < points; ++k) {
        positions.append(Vector3(xyz[3 * k], xyz[3 * k + 1], xyz[3 * k + 2]));
        const float* r = records.constData() + k * perPoint;
        vectors.append(Vector3(r[0], r[1], r[2]));
    }
    FlowDataWriter writer;
    if (!writer.setPositions(header.resolutionX, header.resolutionY, positions, problem))
        return false;
    writer.setVectors(vectors);
    for (int s = 0; s < header.scalarSetCount; ++s) {
        QList<float> values(points);
        for (qint64 k = 0; k < points; ++k)
            values[k] = records[k * perPoint + 3 + s];
        writer.addScalarSet(values);
    }
    for (const ScalarSet& set : DerivedField::compute(DerivedFieldGrid::fromFlowData(*grid), kinds))
        writer.addScalarSet(QList<float>(set.values.get(), set.values.get() + set.values.size()));
    writer.setTimeInformation(header.timeSteps, header.timeDifference);
    return writer.write(output, problem);
}

// A set over the grid's points holding `values` as they are.
bool setOf(const FlowRecord::Values& values, ScalarSet* set)
{
    if (!set->values.allocateForOverwrite(int(values.size())))
        return false;
    std::copy(values.begin(), values.end(), set->values.get());
    return true;
}

// The curvilinear record resampled onto a width x height rectilinear pair:
// the file's own values (not the loader's normalised ones) through the
// data set's cells.
bool writeResampled(FlowRecord& record, const QList<DerivedField::Kind>& kinds, int width,
                    int height, const QString& output, QString* problem)
{
    ScalarSet u;
    ScalarSet v;
    QList<ScalarSet> sets;
    bool copied = setOf(record.u, &u) && setOf(record.v, &v);
    for (const FlowRecord::Field& field : record.scalars) {
        sets.append(ScalarSet());
        copied = copied && setOf(field.values, &sets.last());
    }
    if (!copied) {
        *problem = QStringLiteral("not enough memory for the grid");
        return false;
    }
    const std::unique_ptr<FlowData> loaded(FlowData::fromRecord(record, problem));
    const auto* grid = dynamic_cast<const CurvilinearFlowData*>(loaded.get());
    if (!grid || !grid->hasTables()) {
        if (problem->isEmpty())
            *problem = QStringLiteral("no cell tables for the grid");
        return false;
    }
    if (!kinds.isEmpty())
        sets.append(DerivedField::compute(DerivedFieldGrid::fromFlowData(*grid), kinds));
    const qsizetype samples = qsizetype(width) * qsizetype(height);
    const auto resampled = [&](const ScalarSet& set) {
        QList<float> out(samples);
        grid->calcValues(set, width, height, out.data());
        return out;
    };
    const Vector3 low = grid->geometryMinimum();
    const Vector3 high = grid->geometryMaximum();
    QList<float> xs;
    QList<float> ys;
    for (int c = 0; c < width; ++c)
        xs.append(float(low.x + (double(high.x) - low.x) * c / std::max(1, width - 1)));
    for (int r = 0; r < height; ++r)
        ys.append(float(low.y + (double(high.y) - low.y) * r / std::max(1, height - 1)));
    FlowDataWriter writer;
    if (!writer.setGrid(xs, ys, problem))
        return false;
    const QList<float> us = resampled(u);
    const QList<float> vs = resampled(v);
    QList<Vector3> vectors(samples);
    for (qsizetype k = 0; k < samples; ++k)
        vectors[k] = Vector3(us[k], vs[k], 0.0f);
    writer.setVectors(vectors);
    for (const ScalarSet& set : sets)
        writer.addScalarSet(resampled(set));
    writer.setTimeInformation(grid->timeStepsValue(), grid->timeDifferenceValue());
    return writer.write(output, problem);
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
    const QCommandLineOption deriveOption(
        QStringLiteral("derive"),
        QStringLiteral("appends derived fields as scalar sets, in this order (any of %1, or all)")
            .arg(DerivedField::keyList()),
        QStringLiteral("KEYS"));
    parser.addOption(deriveOption);
    const QCommandLineOption resampleOption(
        QStringLiteral("resample"),
        QStringLiteral("writes a curvilinear grid resampled onto W x H points of a rectilinear "
                       "one"),
        QStringLiteral("WxH"));
    parser.addOption(resampleOption);
    parser.addPositionalArgument(QStringLiteral("in"), QStringLiteral("the file to convert"));
    parser.addPositionalArgument(QStringLiteral("out"), QStringLiteral("the pair to write (.gri)"));
    const QString usage = QStringLiteral("usage: velmora-convert IN OUT.gri [--derive KEYS] "
                                         "[--resample WxH] [--u VAR] [--v VAR] [--level K] "
                                         "[--step T]\n");
    if (const std::optional<int> done = tool.parse(usage))
        return *done;
    LoadOptions options;
    QString problem;
    if (parser.positionalArguments().size() != 2 ||
        !LoadOptionArguments::read(parser, &options, &problem))
        return tool.usageError(problem, usage);
    const QString input = parser.positionalArguments().at(0);
    const QString output = FlowData::dataName(parser.positionalArguments().at(1));
    QList<DerivedField::Kind> kinds;
    if (parser.isSet(deriveOption) &&
        !DeriveArguments::parse(QStringLiteral("derive"), parser.value(deriveOption), &kinds,
                                &problem))
        return tool.usageError(problem, usage);
    int resampleWidth = 0;
    int resampleHeight = 0;
    if (parser.isSet(resampleOption)) {
        const QStringList sides = parser.value(resampleOption).split(QLatin1Char('x'));
        bool widthOk = false;
        bool heightOk = false;
        if (sides.size() == 2) {
            resampleWidth = sides.at(0).toInt(&widthOk);
            resampleHeight = sides.at(1).toInt(&heightOk);
        }
        if (!widthOk || !heightOk || resampleWidth < 2 || resampleHeight < 2)
            return tool.usageError(
                QStringLiteral("--resample must be WxH with at least 2 points along each side"),
                usage);
    }

    tool.quietDebug();
    if (FlowFileReader::isNativePair(input) && !kinds.isEmpty()) {
        if (!writeNativeWithDerived(input, output, kinds, &problem)) {
            tool.report(problem);
            return 1;
        }
        return 0;
    }
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
    if (record.isCurvilinear() && resampleWidth > 0) {
        if (!writeResampled(record, kinds, resampleWidth, resampleHeight, output, &reason)) {
            tool.report(input + QStringLiteral(": ") + reason);
            return 1;
        }
        return 0;
    }
    if (record.isCurvilinear()) {
        tool.report(input + QStringLiteral(": the grid is curvilinear (%1 x %2 points); the native "
                                           "pair holds one x per column and one y per row only "
                                           "(--resample WxH writes it resampled)")
                                .arg(record.gridColumns)
                                .arg(record.gridRows));
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
    QList<QList<float>> derived;
    vectors.reserve(qsizetype(record.u.size()));
    for (size_t k = 0; k < record.u.size(); ++k)
        vectors.append(Vector3(record.u[k], record.v[k], 0.0f));
    FlowRecord::Values().swap(record.u);
    FlowRecord::Values().swap(record.v);
    writer.setVectors(vectors);
    if (!kinds.isEmpty()) {
        // The record's arrays, x fastest, as they are written.
        DerivedFieldGrid grid;
        grid.x = record.x;
        grid.y = record.y;
        grid.u = &vectors.constData()->x;
        grid.v = &vectors.constData()->y;
        grid.stride = std::ptrdiff_t(sizeof(Vector3) / sizeof(float));
        const QString length = record.lengthUnit;
        grid.metric =
            DerivedFieldGrid::isLongitudeUnit(length) || DerivedFieldGrid::isLatitudeUnit(length)
                ? DerivedFieldGrid::Sphere
                : DerivedFieldGrid::Plane;
        grid.lengthUnit = grid.metric == DerivedFieldGrid::Sphere ? QStringLiteral("m") : length;
        grid.velocityUnit = record.velocityUnit;
        for (const ScalarSet& set : DerivedField::compute(grid, kinds))
            derived.append(QList<float>(set.values.get(), set.values.get() + set.values.size()));
    }
    for (FlowRecord::Field& field : record.scalars) {
        writer.addScalarSet(QList<float>(field.values.begin(), field.values.end()));
        FlowRecord::Values().swap(field.values);
    }
    for (const QList<float>& values : derived)
        writer.addScalarSet(values);
    writer.setTimeInformation(record.timeSteps, record.timeDifference);
    if (!writer.write(output, &reason)) {
        tool.report(output + QStringLiteral(": ") + reason);
        return 1;
    }
    return 0;
}
