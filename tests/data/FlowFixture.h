#pragma once

#include "Vector3.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

// Writes .gri/.dat files byte by byte, so that tests control every byte the
// loader sees, corrupt files included.
namespace FlowFixture {

// Bytes 0 to 39 of a geometry file: six bytes the loader skips, the header
// text, blanks up to byte 40.
inline QByteArray header(const QByteArray& text)
{
    QByteArray bytes = QByteArrayLiteral("VLMRA1") + text;
    if (bytes.size() < 40)
        bytes.append(QByteArray(40 - int(bytes.size()), ' '));
    return bytes;
}

inline QByteArray header(int resolutionX, int resolutionY, int scalarSets, int depth = 1,
                         int timeSteps = 1, float timeDifference = 0.5f)
{
    return header(QByteArray::number(resolutionX) + ' ' + QByteArray::number(resolutionY) + ' ' +
                  QByteArray::number(depth) + ' ' + QByteArray::number(scalarSets) + ' ' +
                  QByteArray::number(timeSteps) + ' ' + QByteArray::number(double(timeDifference)) +
                  ' ');
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

// A rectilinear grid with a vector and any number of scalar values per point,
// all indexed [j * xs.size() + i] for column i, row j. With fastIndexAlongY
// the files list the points column by column and the header names the count
// along y first, as such files do.
struct Grid
{
    QList<float> xs;
    QList<float> ys;
    QList<Vector3> vectors;
    QList<QList<float>> scalars;
    bool fastIndexAlongY = false;
    int timeSteps = 1;
    float timeDifference = 0.5f;

    int columns() const { return int(xs.size()); }
    int rows() const { return int(ys.size()); }
    int points() const { return columns() * rows(); }

    // Index, in the caller's order, of the k-th record of the files.
    int sourceIndex(int k) const
    {
        if (!fastIndexAlongY)
            return k;
        return (k % rows()) * columns() + k / rows();
    }

    QByteArray geometryBytes() const
    {
        QByteArray bytes =
            fastIndexAlongY
                ? header(rows(), columns(), int(scalars.size()), 1, timeSteps, timeDifference)
                : header(columns(), rows(), int(scalars.size()), 1, timeSteps, timeDifference);
        for (int k = 0; k < points(); ++k) {
            const int index = sourceIndex(k);
            appendFloat(bytes, xs[index % columns()]);
            appendFloat(bytes, ys[index / columns()]);
            appendFloat(bytes, 0.0f);
        }
        return bytes;
    }

    QByteArray dataBytes() const
    {
        QByteArray bytes;
        for (int k = 0; k < points(); ++k) {
            const int index = sourceIndex(k);
            const Vector3 v = vectors.isEmpty() ? Vector3() : vectors[index];
            appendFloat(bytes, v.x);
            appendFloat(bytes, v.y);
            appendFloat(bytes, v.z);
            for (const QList<float>& set : scalars)
                appendFloat(bytes, set[index]);
        }
        return bytes;
    }

    bool write(const QString& dataName) const
    {
        return writeFile(dataName + QStringLiteral(".gri"), geometryBytes()) &&
               writeFile(dataName + QStringLiteral(".dat"), dataBytes());
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
