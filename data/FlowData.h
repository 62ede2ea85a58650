#pragma once

#include "data/ScalarSet.h"
#include "data/SharedArray.h"
#include "data/Vector3.h"
#include "formats/FlowRecord.h"
#include "formats/LoadOptions.h"
#include "formats/ReadFailure.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

class QFile;

// One loaded two-dimensional flow data set on a rectilinear grid.
//
// Grid point (column i, row j) has index j * resolutionX + i in the geometry,
// the vectors and every scalar set. After loading, positions lie in the unit
// square, vectors are scaled by the largest magnitude (so every length lies
// in [0, 1]) and each scalar set of the file is scaled to [0, 1]. The scalar
// list ends with one extra set, the magnitude of each normalised vector.
//
// A data set is never changed after it has been handed out; the GUI thread
// and the sampling workers then read it concurrently without locks.
class FlowData
{
public:
    FlowData() = default;
    FlowData(const FlowData&) = delete;
    FlowData& operator=(const FlowData&) = delete;
    virtual ~FlowData();

    // Loads the .gri/.dat pair named by fileName (any extension is cut off)
    // and returns a RectangularFlowData owned by the caller, or null. On
    // failure *errorMessage, when given, receives the reason.
    static FlowData* fromFile(const QString& fileName, QString* errorMessage = nullptr);
    // The same, with the choices a file may leave open (variables, level,
    // time step); the native pair has none of them and ignores them.
    static FlowData* fromFile(const QString& fileName, const LoadOptions& options,
                              QString* errorMessage = nullptr);
    // The same; a failure also hands over what the file offers to choose
    // from, so that asking the user needs no second read.
    static FlowData* fromFile(const QString& fileName, const LoadOptions& options,
                              ReadFailure* failure);

    // The geometry of one file and the vectors and scalars of another, as
    // for a step of a series that shares one geometry file.
    static FlowData* fromFiles(const QString& geometryFileName, const QString& dataFileName,
                               QString* errorMessage = nullptr);
    // A record already read (or made in memory) through the loader's checks;
    // its arrays are consumed. Null on failure, with the reason.
    static FlowData* fromRecord(FlowRecord& record, QString* errorMessage = nullptr);

    // The data name: fileName cut at the last "." of its file-name part
    // (NativePairFormat::dataName).
    static QString dataName(const QString& fileName);

    bool load(const QString& fileName, QString* errorMessage = nullptr);
    // Releases the arrays and the scalar list; the numbers keep their values.
    void clear();

    // Resample scalar set `index` (the magnitude set included) or the vector
    // field onto a width x height raster spanning the unit square, row by row,
    // row 0 at y = 0. `out` holds width * height elements.
    virtual void calcScalar(int index, int width, int height, float* out) const;
    virtual void calcVector(int width, int height, Vector3* out) const;
    // The vector stored at the lower-left corner of the cell containing
    // (x, y * aspect); x in [0, 1], y in [0, 1 / aspect] (units of the width).
    virtual Vector3 vectorAt(double x, double y) const;
    virtual void copyFrom(const FlowData& other);

    // The mean of the finite vectors over the grid points, in the file's
    // components (u, v) and units; (NaN, NaN) when no vector is finite.
    std::pair<double, double> meanVelocity() const;
    // A new data set of the same grid and scalar sets, seen from a frame
    // that moves with (u, v) in the file's components and units: its vectors
    // are the file's less (u, v), scaled by their own largest length. Null
    // when the memory is not there (with the reason in *errorMessage).
    FlowData* inMovingFrame(double u, double v, QString* errorMessage = nullptr) const;

    float aspectRatio() const { return aspect; }
    float inverseAspectRatio() const { return 1.0f / aspect; }
    int scalarSetCount() const { return int(scalars.size()); }

    int resolutionXValue() const { return resolutionX; }
    int resolutionYValue() const { return resolutionY; }
    int depthValue() const { return depth; }
    int timeStepsValue() const { return timeSteps; }
    float timeDifferenceValue() const { return timeDifference; }
    // The file's own time of every step and its units; empty when the file
    // has no time coordinate.
    const std::vector<double>& stepTimes() const { return times; }
    const CfTime& stepTimeUnits() const { return timeUnits; }
    const SharedArray<Vector3>& geometryArray() const { return geometry; }
    const SharedArray<Vector3>& vectorArray() const { return vectors; }
    const QList<ScalarSet>& scalarSets() const { return scalars; }
    Vector3 geometryMinimum() const { return geometryMin; }
    Vector3 geometryMaximum() const { return geometryMax; }
    float vectorMinimum() const { return vectorMin; }
    float vectorMaximum() const { return vectorMax; }
    // The largest speed of the file in double, as the vectors were divided
    // by it (0 for a field at rest: the vectors were then kept as they are).
    double largestSpeed() const { return largestMagnitude; }
    // True when the file's fast index runs along y: the grid is then shown
    // with the file's y axis across and the vector components exchanged.
    bool axesExchanged() const { return fastIndexAlongY(); }
    // The unit of the grid positions as the file names it; empty if it does not.
    QString lengthUnit() const { return positionUnit; }
    // The unit of the velocity components; empty if the file does not name it.
    QString velocityUnit() const { return speedUnit; }
    // True when every grid point has its own position (a CurvilinearFlowData):
    // the geometry is then no pair of axes.
    bool isCurvilinear() const { return curvilinearGrid; }
    // What the reader did to the file's components; empty when nothing.
    QString velocityNote() const { return componentNote; }

protected:
    // True when the vectors held have their components exchanged from the
    // file's, as the grid tables store them for the display.
    virtual bool componentsExchanged() const { return false; }
    // True when the x of the first two grid points is equal: the file's fast
    // index then runs along y, and the grid is shown with its y axis across.
    bool fastIndexAlongY() const
    {
        return !curvilinearGrid && geometry.size() >= 2 && geometry[1].x == geometry[0].x;
    }

    SharedArray<Vector3> geometry;
    Vector3 geometryMin;
    Vector3 geometryMax;
    SharedArray<Vector3> vectors;
    float vectorMin = 0.0f;
    float vectorMax = 0.0f;
    QList<ScalarSet> scalars;
    int resolutionX = 0;
    int resolutionY = 0;
    int depth = 0;
    int timeSteps = 0;
    float timeDifference = 0.0f;
    std::vector<double> times;
    CfTime timeUnits;
    float aspect = 0.0f;
    QString positionUnit;
    QString speedUnit;
    QString componentNote;
    bool curvilinearGrid = false;

private:
    static FlowData* withGridTables(const FlowData& loaded, QString* errorMessage);
    bool loadFiles(const QString& geometryFileName, const QStringList& dataFileNames,
                   QString* errorMessage);
    bool fail(QString* errorMessage, const QString& reason);
    bool readGeometry(QFile& file, QString* errorMessage);
    bool checkAxes(QString* errorMessage);
    bool readData(QFile& file, int scalarSetsInFile, QString* errorMessage);
    void normalize(int scalarSetsInFile);
    // Takes a record read from another format through the same checks and
    // normalisation as load; the record's arrays are consumed.
    bool install(FlowRecord& record, QString* errorMessage);
    bool installCurvilinear(FlowRecord& record, QString* errorMessage);
    // Fills the data set's fields other than the geometry from a record of
    // `points` grid points; false (with the reason) when out of memory.
    bool installValues(FlowRecord& record, QString* errorMessage);

    // vectorMax before rounding to float, which it may exceed.
    double largestMagnitude = 0.0;
};
