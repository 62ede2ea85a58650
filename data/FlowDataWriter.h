#pragma once

#include "data/Vector3.h"

#include <QList>
#include <QString>

// Writes a flow data set as a .gri/.dat pair that FlowData::load reads back.
//
// Everything handed to the writer is in grid-point order with x running
// fastest: the point in column i and row j has index j * resolutionX + i, for
// positions, vectors and every scalar set alike. With fastIndexAlongY the files
// are written the other way round (file index i * resolutionY + j) and the
// header names the count along the fast index first, "resolutionY
// resolutionX", because the loader always reads the first number as the count
// of points that share a row of the file.
//
// The header and the byte layout are NativePairFormat's.
//
// Files are written whole or not at all: a failed write leaves any previous
// file of that name untouched. No operation throws; failures return false and
// describe themselves in *errorMessage when given.
class FlowDataWriter
{
public:
    // A rectilinear grid from one strictly ascending coordinate per column and
    // one per row; positions get z = 0.
    bool setGrid(const QList<float>& xCoordinates, const QList<float>& yCoordinates,
                 QString* errorMessage = nullptr);
    // Arbitrary positions, resolutionX * resolutionY of them, written as given
    // (to build files with unusual geometry on purpose).
    bool setPositions(int resolutionX, int resolutionY, const QList<Vector3>& positions,
                      QString* errorMessage = nullptr);
    void setVectors(const QList<Vector3>& vectors) { vectorValues = vectors; }
    void addScalarSet(const QList<float>& values) { scalarValues.append(values); }
    void setTimeInformation(int steps, float difference);
    void setFastIndexAlongY(bool alongY) { transposed = alongY; }

    int resolutionX() const { return columns; }
    int resolutionY() const { return rows; }

    // Writes dataName + ".gri" and dataName + ".dat".
    bool write(const QString& dataName, QString* errorMessage = nullptr) const;
    bool writeGeometry(const QString& fileName, QString* errorMessage = nullptr) const;
    bool writeData(const QString& fileName, QString* errorMessage = nullptr) const;

private:
    bool checkSizes(QString* errorMessage) const;
    // Index into the caller's arrays of the k-th record of the files.
    int sourceIndex(int k) const;

    int columns = 0;
    int rows = 0;
    QList<Vector3> positions;
    QList<Vector3> vectorValues;
    QList<QList<float>> scalarValues;
    int timeSteps = 1;
    float timeDifference = 0.0f;
    bool transposed = false;
};
