#include "data/FlowData.h"

#include "data/ArrayPasses.h"
#include "data/CurvilinearFlowData.h"
#include "data/Extremes.h"
#include "data/ParallelBlocks.h"
#include "data/RectangularFlowData.h"
#include "formats/FlowFileReader.h"
#include "formats/NativePairFormat.h"

#include <QDebug>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <vector>

static_assert(sizeof(Vector3) == 3 * sizeof(float), "Vector3 is read straight from the files");
static_assert(std::numeric_limits<float>::is_iec559, "the files hold IEEE 754 floats");

namespace {

constexpr qint64 geometryHeaderSize = NativePairFormat::headerSize;
// The files are read in pieces small enough to stay in a core's cache
// between the read and the passes over them, and large enough for few reads.
constexpr int piecePoints = 1 << 14;
constexpr qint64 dataPieceBytes = qint64(128) << 10;
// Grid points per block of reading: a few megabytes, so that the file is
// opened a few dozen times and the cores share the blocks evenly.
constexpr int readGrain = 1 << 18;

// The files are little-endian; a big-endian host swaps in place.
void fromLittleEndian(float* values, qint64 count)
{
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    qFromLittleEndian<float>(values, count, values);
#else
    Q_UNUSED(values);
    Q_UNUSED(count);
#endif
}

} // namespace

FlowData::~FlowData()
{
    clear();
}

FlowData* FlowData::fromFile(const QString& fileName, QString* errorMessage)
{
    return fromFile(fileName, LoadOptions(), errorMessage);
}

FlowData* FlowData::fromFile(const QString& fileName, const LoadOptions& options,
                             QString* errorMessage)
{
    ReadFailure failure;
    FlowData* loaded = fromFile(fileName, options, &failure);
    if (!loaded && errorMessage)
        *errorMessage = failure.reason;
    return loaded;
}

FlowData* FlowData::fromFile(const QString& fileName, const LoadOptions& options,
                             ReadFailure* failure)
{
    *failure = ReadFailure();
    FlowData loaded;
    if (FlowFileReader::isNativePair(fileName)) {
        if (!loaded.load(fileName, &failure->reason))
            return nullptr;
    } else {
        FlowRecord record;
        if (!FlowFileReader::read(fileName, options, record, failure) ||
            !loaded.install(record, &failure->reason))
            return nullptr;
    }
    return withGridTables(loaded, &failure->reason);
}

FlowData* FlowData::fromFiles(const QString& geometryFileName, const QString& dataFileName,
                              QString* errorMessage)
{
    FlowData loaded;
    if (!loaded.loadFiles(geometryFileName, {dataFileName}, errorMessage))
        return nullptr;
    return withGridTables(loaded, errorMessage);
}

FlowData* FlowData::fromRecord(FlowRecord& record, QString* errorMessage)
{
    FlowData loaded;
    if (!loaded.install(record, errorMessage))
        return nullptr;
    return withGridTables(loaded, errorMessage);
}

FlowData* FlowData::withGridTables(const FlowData& loaded, QString* errorMessage)
{
    if (loaded.curvilinearGrid) {
        std::unique_ptr<CurvilinearFlowData> grid(new (std::nothrow) CurvilinearFlowData);
        if (grid)
            grid->copyFrom(loaded);
        if (grid && grid->hasTables())
            return grid.release();
        const QString reason = QStringLiteral("not enough memory for the cell lookup tables");
        qDebug().noquote() << QStringLiteral("FlowData/fromFile: ") + reason;
        if (errorMessage)
            *errorMessage = reason;
        return nullptr;
    }
    std::unique_ptr<RectangularFlowData> grid(new (std::nothrow) RectangularFlowData);
    if (grid)
        grid->copyFrom(loaded);
    if (!grid || grid->xLookupTable().isEmpty() || grid->yLookupTable().isEmpty()) {
        const QString reason = QStringLiteral("not enough memory for the grid tables");
        qDebug().noquote() << QStringLiteral("FlowData/fromFile: ") + reason;
        if (errorMessage)
            *errorMessage = reason;
        return nullptr;
    }
    return grid.release();
}

QString FlowData::dataName(const QString& fileName)
{
    return NativePairFormat::dataName(fileName);
}

bool FlowData::fail(QString* errorMessage, const QString& reason)
{
    qDebug().noquote() << QStringLiteral("FlowData/load: ") + reason;
    if (errorMessage)
        *errorMessage = reason;
    clear();
    return false;
}

bool FlowData::load(const QString& fileName, QString* errorMessage)
{
    const QString name = dataName(fileName);
    qDebug().noquote() << "FlowData/load: data name: " << name;
    return loadFiles(NativePairFormat::geometryFileName(name),
                     NativePairFormat::dataFileNames(name), errorMessage);
}

bool FlowData::loadFiles(const QString& geometryFileName, const QStringList& dataFileNames,
                         QString* errorMessage)
{
    clear();
    QFile geometryFile(geometryFileName);
    if (!geometryFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return fail(errorMessage, QStringLiteral("opening geometry file failed"));

    NativePairFormat::Header header;
    if (!NativePairFormat::parseHeader(geometryFile.read(geometryHeaderSize), header))
        return fail(errorMessage, QStringLiteral("geometry header does not parse"));
    resolutionX = header.resolutionX;
    resolutionY = header.resolutionY;
    depth = header.depth;
    timeSteps = header.timeSteps;
    timeDifference = header.timeDifference;
    const int scalarSetsInFile = header.scalarSetCount;

    if (depth == 1) {
        qDebug().noquote() << "FlowData/load: resolution: " << resolutionX << resolutionY;
        qDebug().noquote() << "FlowData/load: scalar sets count: " << scalarSetsInFile;
        qDebug().noquote() << "FlowData/load: time steps count / time difference: " << timeSteps
                           << " / " << timeDifference;
    }
    const QString refusal = header.refusal();
    if (!refusal.isEmpty())
        return fail(errorMessage, refusal);

    if (!readGeometry(geometryFile, errorMessage))
        return false;
    geometryFile.close();
    if (!checkAxes(errorMessage))
        return false;

    // The first of the candidates that opens is read.
    QFile dataFile;
    for (const QString& dataFileName : dataFileNames) {
        dataFile.setFileName(dataFileName);
        if (dataFile.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            break;
    }
    if (!dataFile.isOpen())
        return fail(errorMessage, QStringLiteral("opening data file failed"));
    if (!readData(dataFile, scalarSetsInFile, errorMessage))
        return false;
    dataFile.close();

    qDebug() << "geometry data min/max: " << geometryMin << geometryMax;
    qDebug() << "vector data min/max: " << vectorMin << vectorMax;
    for (int s = 0; s < scalarSetsInFile; ++s)
        qDebug() << "scalar[" << s << "] min/max: " << scalars[s].minimum << scalars[s].maximum;

    normalize(scalarSetsInFile);
    aspect = float(resolutionX) / float(resolutionY);
    return true;
}

bool FlowData::readGeometry(QFile& file, QString* errorMessage)
{
    const int points = resolutionX * resolutionY;
    const qint64 bytes = qint64(points) * qint64(sizeof(Vector3));
    if (file.size() < geometryHeaderSize + bytes)
        return fail(errorMessage, QStringLiteral("geometry file shorter than the header promises"));
    if (!geometry.allocateForOverwrite(points))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));

    // Each block of points is read through a handle of its own, a piece at
    // a time, and its extremes are taken while the piece is in the cache.
    const int blocks = ParallelBlocks::countFor(points, readGrain);
    std::vector<Extremes<float>> xs(static_cast<size_t>(blocks));
    std::vector<Extremes<float>> ys(static_cast<size_t>(blocks));
    std::vector<char> complete(static_cast<size_t>(blocks), 0);
    const QString fileName = file.fileName();
    Vector3* p = geometry.get();
    ParallelBlocks::run(points, readGrain, [&](int b, int first, int last) {
        QFile part(fileName);
        if (!part.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
            !part.seek(geometryHeaderSize + qint64(first) * qint64(sizeof(Vector3))))
            return;
        for (int k = first; k < last; k += piecePoints) {
            const int n = std::min(piecePoints, last - k);
            const qint64 pieceBytes = qint64(n) * qint64(sizeof(Vector3));
            if (part.read(reinterpret_cast<char*>(p + k), pieceBytes) != pieceBytes)
                return;
            fromLittleEndian(reinterpret_cast<float*>(p + k), qint64(n) * 3);
            Extremes<float> x;
            Extremes<float> y;
            ArrayPasses::positionExtremes(p + k, n, x, y);
            xs[size_t(b)].merge(x);
            ys[size_t(b)].merge(y);
        }
        complete[size_t(b)] = 1;
    });
    Extremes<float> allX;
    Extremes<float> allY;
    for (int b = 0; b < blocks; ++b) {
        if (!complete[size_t(b)])
            return fail(errorMessage,
                        QStringLiteral("geometry file shorter than the header promises"));
        allX.merge(xs[size_t(b)]);
        allY.merge(ys[size_t(b)]);
    }
    geometryMin = Vector3(allX.lowest(), allY.lowest(), p[0].z);
    geometryMax = Vector3(allX.highest(), allY.highest(), p[0].z);

    // Positions are scaled in double: a float range max - min can overflow.
    const double x0 = geometryMin.x;
    const double y0 = geometryMin.y;
    const double xRange = double(geometryMax.x) - x0;
    const double yRange = double(geometryMax.y) - y0;
    const double xScale = xRange > 0.0 ? 1.0 / xRange : 0.0;
    const double yScale = yRange > 0.0 ? 1.0 / yRange : 0.0;
    ParallelBlocks::run(points, ParallelBlocks::grainFor(2), [=](int, int first, int last) {
        ArrayPasses::scalePositions(p + first, last - first, x0, xScale, y0, yScale);
    });
    return true;
}

// The grid tables need grid lines that strictly ascend after scaling to the
// unit square (a NaN or a repeated line fails); checked on the scaled values,
// because two close lines can round to one float there.
bool FlowData::checkAxes(QString* errorMessage)
{
    const bool transposed = fastIndexAlongY();
    const Vector3* p = geometry.get();
    auto along = [&](bool fast, bool useY) {
        const int n = fast ? resolutionX : resolutionY;
        const int stride = fast ? 1 : resolutionX;
        for (int k = 1; k < n; ++k) {
            const Vector3& a = p[(k - 1) * stride];
            const Vector3& b = p[k * stride];
            const float lower = useY ? a.y : a.x;
            const float upper = useY ? b.y : b.x;
            if (!(upper > lower))
                return false;
        }
        return true;
    };
    const QString fastAxis = transposed ? QStringLiteral("y") : QStringLiteral("x");
    const QString slowAxis = transposed ? QStringLiteral("x") : QStringLiteral("y");
    if (!along(true, transposed))
        return fail(errorMessage, fastAxis + QStringLiteral(" coordinates do not strictly ascend"));
    if (!along(false, !transposed))
        return fail(errorMessage, slowAxis + QStringLiteral(" coordinates do not strictly ascend"));
    return true;
}

bool FlowData::readData(QFile& file, int scalarSetsInFile, QString* errorMessage)
{
    const int points = resolutionX * resolutionY;
    const qint64 recordFloats = 3 + qint64(scalarSetsInFile);
    const qint64 recordBytes = recordFloats * qint64(sizeof(float));
    // points < 2^31 and recordFloats < 2^32, so this cannot overflow.
    if (file.size() < qint64(points) * recordBytes)
        return fail(errorMessage, QStringLiteral("data file shorter than the header promises"));

    if (!vectors.allocateForOverwrite(points))
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    for (int s = 0; s <= scalarSetsInFile; ++s) {
        scalars.append(ScalarSet());
        if (!scalars.last().values.allocateForOverwrite(points))
            return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    }

    // As for the geometry: a handle and a piece buffer per block, the
    // records of a piece split into the arrays and their extremes taken
    // while the piece is in the cache.
    const int grain = int(qMax<qint64>(1, readGrain * qint64(sizeof(Vector3)) / recordBytes));
    const int blocks = ParallelBlocks::countFor(points, grain);
    const int recordsPerPiece = int(qMax<qint64>(1, dataPieceBytes / recordBytes));
    std::vector<Extremes<double>> squares(static_cast<size_t>(blocks));
    std::vector<Extremes<float>> sets(static_cast<size_t>(blocks) * size_t(scalarSetsInFile));
    std::vector<float*> setValues(static_cast<size_t>(scalarSetsInFile));
    for (int s = 0; s < scalarSetsInFile; ++s)
        setValues[size_t(s)] = scalars[s].values.get();
    std::vector<char> complete(static_cast<size_t>(blocks), 0);
    const QString fileName = file.fileName();
    Vector3* v = vectors.get();

    std::atomic<bool> outOfMemory{false};
    ParallelBlocks::run(points, grain, [&](int b, int first, int last) {
        QFile part(fileName);
        if (!part.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
            !part.seek(qint64(first) * recordBytes))
            return;
        const int pieceRecords = std::min(recordsPerPiece, last - first);
        std::unique_ptr<float[]> piece(
            new (std::nothrow) float[size_t(pieceRecords * recordFloats)]);
        if (!piece) {
            outOfMemory = true;
            return;
        }
        for (int k = first; k < last; k += recordsPerPiece) {
            const int records = std::min(recordsPerPiece, last - k);
            const qint64 bytes = records * recordBytes;
            if (part.read(reinterpret_cast<char*>(piece.get()), bytes) != bytes)
                return;
            fromLittleEndian(piece.get(), records * recordFloats);
            Vector3* to = v + k;
            const float* record = piece.get();
            for (int r = 0; r < records; ++r, record += recordFloats)
                to[r] = Vector3(record[0], record[1], record[2]);
            squares[size_t(b)].merge(ArrayPasses::squaredLengthExtremes(to, records));
            for (int s = 0; s < scalarSetsInFile; ++s) {
                float* values = setValues[size_t(s)] + k;
                const float* value = piece.get() + 3 + s;
                for (int r = 0; r < records; ++r, value += recordFloats)
                    values[r] = *value;
                sets[size_t(b) * size_t(scalarSetsInFile) + size_t(s)].merge(
                    ArrayPasses::extremes(values, records));
            }
        }
        complete[size_t(b)] = 1;
    });

    if (outOfMemory)
        return fail(errorMessage, QStringLiteral("not enough memory for the grid"));
    Extremes<double> allSquares;
    std::vector<Extremes<float>> allSets(static_cast<size_t>(scalarSetsInFile));
    for (int b = 0; b < blocks; ++b) {
        if (!complete[size_t(b)])
            return fail(errorMessage, QStringLiteral("data file shorter than the header promises"));
        allSquares.merge(squares[size_t(b)]);
        for (int s = 0; s < scalarSetsInFile; ++s)
            allSets[size_t(s)].merge(sets[size_t(b) * size_t(scalarSetsInFile) + size_t(s)]);
    }
    largestMagnitude = std::sqrt(allSquares.highest());
    vectorMin = float(std::sqrt(allSquares.lowest()));
    vectorMax = float(largestMagnitude);
    for (int s = 0; s < scalarSetsInFile; ++s) {
        scalars[s].minimum = allSets[size_t(s)].lowest();
        scalars[s].maximum = allSets[size_t(s)].highest();
    }
    return true;
}

// Vectors are divided by the largest magnitude, which keeps their directions
// and puts every length in [0, 1]; a field without a non-zero finite length
// stays as it is. A scalar set maps its finite range onto [0, 1], a constant
// set onto 0. A value or vector that is not finite (a masked point) becomes
// NaN, and so does the magnitude there: resampling then yields NaN wherever
// such a point has a share, and the layers paint NaN as nothing.
void FlowData::normalize(int scalarSetsInFile)
{
    const int points = resolutionX * resolutionY;
    Vector3* v = vectors.get();
    float* magnitude = scalars.last().values.get();
    const double scale = largestMagnitude > 0.0 ? 1.0 / largestMagnitude : 1.0;
    std::vector<float*> setValues(static_cast<size_t>(scalarSetsInFile));
    std::vector<double> setMinimum(static_cast<size_t>(scalarSetsInFile));
    std::vector<double> setScale(static_cast<size_t>(scalarSetsInFile));
    for (int s = 0; s < scalarSetsInFile; ++s) {
        const ScalarSet& set = scalars[s];
        const double range = double(set.maximum) - double(set.minimum);
        setValues[size_t(s)] = scalars[s].values.get();
        setMinimum[size_t(s)] = set.minimum;
        setScale[size_t(s)] = range > 0.0 ? 1.0 / range : 0.0;
    }
    const int grain = ParallelBlocks::grainFor(4 + qint64(scalarSetsInFile));
    ParallelBlocks::run(points, grain, [&](int, int first, int last) {
        ArrayPasses::normalizeVectors(v + first, magnitude + first, last - first, scale);
        for (int s = 0; s < scalarSetsInFile; ++s)
            ArrayPasses::normalizeValues(setValues[size_t(s)] + first, last - first,
                                         setMinimum[size_t(s)], setScale[size_t(s)]);
    });
}

void FlowData::clear()
{
    geometry.release();
    vectors.release();
    for (ScalarSet& set : scalars)
        set.values.release();
    scalars.clear();
    curvilinearGrid = false;
}

void FlowData::calcScalar(int, int, int, float*) const
{
    qDebug() << "!!!use FlowData sub types!!!";
}

void FlowData::calcVector(int, int, Vector3*) const
{
    qDebug() << "!!!use FlowData sub types!!!";
}

Vector3 FlowData::vectorAt(double, double) const
{
    qDebug() << "!!!use FlowData sub types!!!";
    return Vector3();
}

void FlowData::copyFrom(const FlowData& other)
{
    if (&other == this)
        return;
    geometry = other.geometry;
    geometryMin = other.geometryMin;
    geometryMax = other.geometryMax;
    vectors = other.vectors;
    vectorMin = other.vectorMin;
    vectorMax = other.vectorMax;
    largestMagnitude = other.largestMagnitude;
    scalars = other.scalars;
    resolutionX = other.resolutionX;
    resolutionY = other.resolutionY;
    depth = other.depth;
    timeSteps = other.timeSteps;
    timeDifference = other.timeDifference;
    times = other.times;
    timeUnits = other.timeUnits;
    aspect = other.aspect;
    positionUnit = other.positionUnit;
    speedUnit = other.speedUnit;
    componentNote = other.componentNote;
    curvilinearGrid = other.curvilinearGrid;
}
