#pragma once

#include "data/FlowDataWriter.h"
#include "data/Vector3.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

// Hand-built bytes for corrupt files; well-formed grids go through the writer.
namespace FlowFixture {

// Bytes 0 to 39 of a geometry file: six skipped bytes, the header text,
// blanks up to byte 40.
inline QByteArray header(const QByteArray& text)
{
    QByteArray bytes = QByteArrayLiteral("VLMRA1") + text;
    if (bytes.size() < 40)
        bytes.append(QByteArray(40 - int(bytes.size()), ' '));
    return bytes;
}

inline QByteArray header(int resolutionX, int resolutionY, int scalarSets, int depth = 1)
{
    return header(QByteArray::number(resolutionX) + ' ' + QByteArray::number(resolutionY) + ' ' +
                  QByteArray::number(depth) + ' ' + QByteArray::number(scalarSets) + " 1 0.5 ");
}

inline void appendFloat(QByteArray& bytes, float value)
{
    char raw[4];
    qToLittleEndian<float>(value, raw);
    bytes.append(raw, 4);
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// A rectilinear grid, values indexed [j * xs.size() + i] for column i, row j.
struct Grid
{
    QList<float> xs;
    QList<float> ys;
    QList<Vector3> vectors;
    QList<QList<float>> scalars;
    bool fastIndexAlongY = false;
    int timeSteps = 1;
    float timeDifference = 0.5f;

    int points() const { return int(xs.size() * ys.size()); }

    bool write(const QString& dataName) const
    {
        FlowDataWriter writer;
        if (!writer.setGrid(xs, ys))
            return false;
        writer.setVectors(vectors);
        for (const QList<float>& set : scalars)
            writer.addScalarSet(set);
        writer.setTimeInformation(timeSteps, timeDifference);
        writer.setFastIndexAlongY(fastIndexAlongY);
        return writer.write(dataName);
    }
};

inline QList<float> uniformAxis(int n, float first = 0.0f, float last = 1.0f)
{
    QList<float> axis;
    for (int k = 0; k < n; ++k)
        axis.append(float(first + (double(last) - first) * k / (n - 1)));
    return axis;
}

} // namespace FlowFixture
