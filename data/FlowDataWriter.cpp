#include "data/FlowDataWriter.h"

#include "formats/NativePairFormat.h"

#include <QSaveFile>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

void setError(QString* errorMessage, const QString& text)
{
    if (errorMessage)
        *errorMessage = text;
}

bool strictlyAscending(const QList<float>& c)
{
    for (int k = 0; k < c.size(); ++k) {
        if (!std::isfinite(c[k]) || (k > 0 && !(c[k] > c[k - 1])))
            return false;
    }
    return true;
}

bool pointCountFits(qint64 columns, qint64 rows)
{
    return columns > 0 && rows > 0 && columns * rows <= std::numeric_limits<int>::max();
}

// Records are gathered into blocks of about this many bytes before writing, so
// that large grids never need a second copy of the whole file in memory.
constexpr int blockBytes = 1 << 20;

} // namespace

bool FlowDataWriter::setGrid(const QList<float>& xCoordinates, const QList<float>& yCoordinates,
                             QString* errorMessage)
{
    if (!pointCountFits(xCoordinates.size(), yCoordinates.size())) {
        setError(errorMessage, QStringLiteral("grid has no points or too many points"));
        return false;
    }
    if (!strictlyAscending(xCoordinates) || !strictlyAscending(yCoordinates)) {
        setError(errorMessage,
                 QStringLiteral("grid coordinates are not finite and strictly ascending"));
        return false;
    }
    columns = int(xCoordinates.size());
    rows = int(yCoordinates.size());
    positions.clear();
    positions.reserve(columns * rows);
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i)
            positions.append(Vector3(xCoordinates[i], yCoordinates[j], 0.0f));
    }
    return true;
}

bool FlowDataWriter::setPositions(int resolutionX, int resolutionY, const QList<Vector3>& points,
                                  QString* errorMessage)
{
    if (!pointCountFits(resolutionX, resolutionY) ||
        points.size() != qsizetype(resolutionX) * resolutionY) {
        setError(errorMessage, QStringLiteral("%1 positions do not make a %2 x %3 grid")
                                   .arg(points.size())
                                   .arg(resolutionX)
                                   .arg(resolutionY));
        return false;
    }
    columns = resolutionX;
    rows = resolutionY;
    positions = points;
    return true;
}

void FlowDataWriter::setTimeInformation(int steps, float difference)
{
    timeSteps = steps;
    timeDifference = difference;
}

bool FlowDataWriter::checkSizes(QString* errorMessage) const
{
    if (columns == 0) {
        setError(errorMessage, QStringLiteral("no grid given"));
        return false;
    }
    const qsizetype points = qsizetype(columns) * rows;
    if (vectorValues.size() != points) {
        setError(
            errorMessage,
            QStringLiteral("%1 vectors for %2 grid points").arg(vectorValues.size()).arg(points));
        return false;
    }
    for (int s = 0; s < scalarValues.size(); ++s) {
        if (scalarValues[s].size() != points) {
            setError(errorMessage, QStringLiteral("scalar set %1 has %2 values for %3 grid points")
                                       .arg(s)
                                       .arg(scalarValues[s].size())
                                       .arg(points));
            return false;
        }
    }
    return true;
}

int FlowDataWriter::sourceIndex(int k) const
{
    if (!transposed)
        return k;
    const int i = k / rows;
    const int j = k % rows;
    return j * columns + i;
}

bool FlowDataWriter::write(const QString& dataName, QString* errorMessage) const
{
    // Checked first so that a mismatch never leaves a new geometry file beside
    // an old data file.
    return checkSizes(errorMessage) &&
           writeGeometry(NativePairFormat::geometryFileName(dataName), errorMessage) &&
           writeData(NativePairFormat::dataFileNames(dataName).front(), errorMessage);
}

bool FlowDataWriter::writeGeometry(const QString& fileName, QString* errorMessage) const
{
    if (columns == 0) {
        setError(errorMessage, QStringLiteral("no grid given"));
        return false;
    }
    const int fastCount = transposed ? rows : columns;
    const int slowCount = transposed ? columns : rows;
    NativePairFormat::Header fields;
    fields.resolutionX = fastCount;
    fields.resolutionY = slowCount;
    fields.depth = 1;
    fields.scalarSetCount = int(scalarValues.size());
    fields.timeSteps = timeSteps;
    fields.timeDifference = timeDifference;
    const QByteArray header = NativePairFormat::headerBytes(fields);
    if (header.isEmpty()) {
        setError(errorMessage, QStringLiteral("header numbers do not fit into %1 bytes")
                                   .arg(NativePairFormat::headerSize));
        return false;
    }

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(errorMessage, fileName + QStringLiteral(": ") + file.errorString());
        return false;
    }
    QByteArray block = header;
    const int points = columns * rows;
    for (int k = 0; k < points; ++k) {
        const Vector3& p = positions[sourceIndex(k)];
        NativePairFormat::appendValue(block, p.x);
        NativePairFormat::appendValue(block, p.y);
        NativePairFormat::appendValue(block, p.z);
        if (block.size() >= blockBytes || k == points - 1) {
            if (file.write(block) != block.size())
                break;
            block.clear();
        }
    }
    if (!file.commit()) {
        setError(errorMessage, fileName + QStringLiteral(": ") + file.errorString());
        return false;
    }
    return true;
}

bool FlowDataWriter::writeData(const QString& fileName, QString* errorMessage) const
{
    if (!checkSizes(errorMessage))
        return false;

    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(errorMessage, fileName + QStringLiteral(": ") + file.errorString());
        return false;
    }
    QByteArray block;
    const int points = columns * rows;
    for (int k = 0; k < points; ++k) {
        const int source = sourceIndex(k);
        const Vector3& v = vectorValues[source];
        NativePairFormat::appendValue(block, v.x);
        NativePairFormat::appendValue(block, v.y);
        NativePairFormat::appendValue(block, v.z);
        for (const QList<float>& set : scalarValues)
            NativePairFormat::appendValue(block, set[source]);
        if (block.size() >= blockBytes || k == points - 1) {
            if (file.write(block) != block.size())
                break;
            block.clear();
        }
    }
    if (!file.commit()) {
        setError(errorMessage, fileName + QStringLiteral(": ") + file.errorString());
        return false;
    }
    return true;
}
