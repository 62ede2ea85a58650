#pragma once

#include "data/FlowData.h"

#include <QMutex>
#include <QSemaphore>

#include <algorithm>
#include <atomic>
#include <functional>

// A data set whose resampling is given by functions of the raster position,
// which records every request and can hold a computation until released.
class FieldFlowData : public FlowData
{
public:
    struct Request
    {
        int index; // -1 for the vector field
        int width;
        int height;
    };

    // value(index, column, row, width, height)
    using ScalarFunction = std::function<float(int, int, int, int, int)>;
    // vector(column, row, width, height)
    using VectorFunction = std::function<Vector3(int, int, int, int)>;

    FieldFlowData(int scalarSetCount, float aspectRatio)
    {
        for (int i = 0; i < scalarSetCount; ++i)
            scalars.append(ScalarSet());
        resolutionX = resolutionY = 2;
        depth = 1;
        aspect = aspectRatio;
    }

    void calcScalar(int index, int width, int height, float* out) const override
    {
        record({index, width, height});
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                out[r * width + c] = scalar ? scalar(index, c, r, width, height) : 0.0f;
    }

    void calcVector(int width, int height, Vector3* out) const override
    {
        record({-1, width, height});
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                out[r * width + c] = vector ? vector(c, r, width, height) : Vector3();
    }

    QList<Request> requests() const
    {
        // A deep copy: a shared one would be detached by the worker thread
        // while this thread releases it.
        QMutexLocker locker(&logMutex);
        return QList<Request>(log.cbegin(), log.cend());
    }

    ScalarFunction scalar;
    VectorFunction vector;
    // While set, each computation announces itself on `entered` and waits
    // for one `proceed`.
    std::atomic<bool> holding{false};
    mutable QSemaphore entered;
    mutable QSemaphore proceed;

private:
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
