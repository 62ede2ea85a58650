#include "data/FlowDataWriter.h"

#include <QSaveFile>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

const QByteArray FlowDataWriter::magic = QByteArrayLiteral("VELGRI");

namespace {

void setError(QString* errorMessage, const QString& text)
{
    if (errorMessage)
        *errorMessage = text;
}

void appendFloat(QByteArray& out, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    const quint32 little = qToLittleEndian(bits);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
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

QByteArray FlowDataWriter::geometryHeader(int resolutionX, int resolutionY, int depth,
                                          int scalarSetCount, int timeSteps, float timeDifference)
{
    QString difference;
    for (int precision = 1; precision <= 9; ++precision) {
        difference = QString::number(double(timeDifference), 'g', precision);
        if (difference.toFloat() == timeDifference || std::isnan(timeDifference))
            break;
    }
    const QByteArray text = QStringLiteral("%1 %2 %3 %4 %5 %6")
                                .arg(resolutionX)
                                .arg(resolutionY)
                                .arg(depth)
                                .arg(scalarSetCount)
                                .arg(timeSteps)
                                .arg(difference)
                                .toLatin1();
    if (magic.size() + text.size() >= headerSize)
        return QByteArray();
    QByteArray header = magic + text;
    header.append(headerSize - header.size(), ' ');
    return header;
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
           writeGeometry(dataName + QStringLiteral(".gri"), errorMessage) &&
           writeData(dataName + QStringLiteral(".dat"), errorMessage);
}

bool FlowDataWriter::writeGeometry(const QString& fileName, QString* errorMessage) const
{
    if (columns == 0) {
        setError(errorMessage, QStringLiteral("no grid given"));
        return false;
    }
    const int fastCount = transposed ? rows : columns;
    const int slowCount = transposed ? columns : rows;
    const QByteArray header = geometryHeader(fastCount, slowCount, 1, int(scalarValues.size()),
                                             timeSteps, timeDifference);
    if (header.isEmpty()) {
        setError(errorMessage,
                 QStringLiteral("header numbers do not fit into %1 bytes").arg(headerSize));
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
        appendFloat(block, p.x);
        appendFloat(block, p.y);
        appendFloat(block, p.z);
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
        appendFloat(block, v.x);
        appendFloat(block, v.y);
        appendFloat(block, v.z);
        for (const QList<float>& set : scalarValues)
            appendFloat(block, set[source]);
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
