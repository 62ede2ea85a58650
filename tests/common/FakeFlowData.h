#pragma once

#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/RectangularFlowData.h"
#include "data/Vector3.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QtEndian>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>

// The one fake data set of the tests: an analytic field given in domain
// coordinates (x across in [0, 1], y in widths in [0, 1 / aspect]). vectorAt
// is exact; the rasters sample the same functions at the resampling points
// (column c of w at x = c / (w - 1), row r of h at y = r / (h - 1) / aspect).
// Every raster request is logged, and with `holding` set each computation
// waits for one `proceed` after announcing itself on `entered`.
class FakeFlowData : public FlowData
{
public:
    using Field = std::function<Vector3(double x, double y)>;
    using Scalar = std::function<float(int index, double x, double y)>;
    struct Request
    {
        int index; // -1 for the vector field
        int width;
        int height;
    };

    explicit FakeFlowData(float aspectRatio, Field newVectors = {}, int scalarSetCount = 0,
                          Scalar scalarValues = {})
        : field(std::move(newVectors)), scalar(std::move(scalarValues))
    {
        scalars.resize(scalarSetCount);
        resolutionX = resolutionY = 2;
        depth = 1;
        aspect = aspectRatio;
    }

    Vector3 vectorAt(double x, double y) const override { return field ? field(x, y) : Vector3(); }
    void calcScalar(int index, int width, int height, float* out) const override
    {
        record({index, width, height});
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                out[r * width + c] = scalar ? scalar(index, x(c, width), y(r, height)) : 0.0f;
    }
    void calcVector(int width, int height, Vector3* out) const override
    {
        record({-1, width, height});
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                out[r * width + c] = vectorAt(x(c, width), y(r, height));
    }
    QList<Request> requests() const
    {
        QMutexLocker locker(&logMutex);
        return QList<Request>(log.cbegin(), log.cend()); // deep: the worker appends meanwhile
    }

    Field field;
    Scalar scalar;
    std::atomic<bool> holding{false};
    mutable QSemaphore entered;
    mutable QSemaphore proceed;

private:
    static double x(int c, int w) { return w > 1 ? double(c) / (w - 1) : 0.0; }
    double y(int r, int h) const { return (h > 1 ? double(r) / (h - 1) : 0.0) / aspect; }
    void record(const Request& request) const
    {
        {
            QMutexLocker locker(&logMutex);
            log.append(request);
        }
        if (holding) {
            entered.release();
            proceed.acquire();
        }
    }
    mutable QMutex logMutex;
    mutable QList<Request> log;
};

// Analytic fields with exact streamlines.
namespace Fields {
// A uniform stream at `degrees` from the x axis (counter-clockwise, y up).
inline FakeFlowData::Field uniform(double degrees)
{
    const double a = degrees * M_PI / 180.0;
    return [=](double, double) { return Vector3(float(std::cos(a)), float(std::sin(a)), 0.0f); };
}
// Solid-body rotation about (cx, cy), counter-clockwise: circles, speed = radius.
inline FakeFlowData::Field rotation(double cx, double cy)
{
    return [=](double x, double y) { return Vector3(float(cy - y), float(x - cx), 0.0f); };
}
} // namespace Fields

// Files: well-formed grids through the writer, corrupt ones byte by byte.
namespace FlowFiles {
inline QList<float> axis(int n, float first = 0.0f, float last = 1.0f)
{
    QList<float> values;
    for (int k = 0; k < n; ++k)
        values.append(float(first + (double(last) - first) * k / (n - 1)));
    return values;
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

    // Values of functions of the file's own coordinates at every point.
    template <typename F> auto sample(F f) const
    {
        QList<decltype(f(0.0f, 0.0f))> values;
        for (float y : ys)
            for (float x : xs)
                values.append(f(x, y));
        return values;
    }
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

// The grid written as the pair `dataName` and loaded back; null when either fails.
inline std::unique_ptr<RectangularFlowData> loadRectangular(const Grid& grid,
                                                            const QString& dataName)
{
    std::unique_ptr<FlowData> loaded(grid.write(dataName) ? FlowData::fromFile(dataName) : nullptr);
    if (!dynamic_cast<RectangularFlowData*>(loaded.get()))
        return nullptr;
    return std::unique_ptr<RectangularFlowData>(
        static_cast<RectangularFlowData*>(loaded.release()));
}

inline QByteArray header(const QByteArray& text)
{
    QByteArray bytes = QByteArrayLiteral("VLMRA1") + text;
    return bytes.size() < 40 ? bytes + QByteArray(40 - int(bytes.size()), ' ') : bytes;
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
inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}
} // namespace FlowFiles
