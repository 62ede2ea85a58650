#pragma once

#include "formats/CfTime.h"
#include "formats/UninitializedAllocator.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

// A data set as a reader found it in a file, before the loader checks and
// normalises it: one coordinate per grid column and per row (each axis
// strictly ascending or strictly descending; a descending axis is flipped
// by the loader), the velocity components and every scalar set in grid-point
// order with x running fastest (point (i, j) is number j * x.size() + i).
// Values may be NaN where the file has no data.
struct FlowRecord
{
    // Values per grid point. Sized without clearing: a reader writes every
    // element it sizes.
    using Values = std::vector<float, UninitializedAllocator<float>>;
    using Positions = std::vector<double, UninitializedAllocator<double>>;

    struct Field
    {
        QString name;
        QString unit;
        Values values;
    };

    std::vector<double> x;
    std::vector<double> y;
    // A curvilinear grid instead: the position of every grid point, in the
    // values' order (pointX.size() == gridColumns * gridRows), with x and y
    // left empty. Empty for a rectilinear grid, whose shape is x.size() by
    // y.size().
    Positions pointX;
    Positions pointY;
    size_t gridColumns = 0;
    size_t gridRows = 0;
    Values u;
    Values v;
    std::vector<Field> scalars;
    QString lengthUnit;
    QString velocityUnit;
    // What the reader did to the file's components before handing them on
    // ("rotated from grid directions to east/north by angle"); empty when
    // they are as the file stores them.
    QString velocityNote;
    int timeSteps = 1;
    float timeDifference = 0.0f;
    // The file's own time of every step (a time coordinate's values), in
    // timeUnits; empty when the file has none.
    std::vector<double> times;
    CfTime timeUnits;

    // What a file offers when it leaves a choice open: the variables that
    // could be velocity components and the number of levels. Filled by the
    // readers as soon as they know them, so that a refusal still tells them.
    QStringList candidates;
    // The horizontal grid of each candidate ("144 x 73"), where the file's
    // variables may lie on different grids; empty when they all share one.
    QStringList candidateGrids;
    // True when the reader takes a component from another file ("FILE:VAR").
    bool readsOtherFiles = false;
    // The rules' best pair among several (u, then v); empty when they found none.
    QStringList suggestedPair;
    int levels = 1;
    // True when the reader's rules found no velocity pair or more than one.
    bool needsChoice = false;

    bool isCurvilinear() const { return !pointX.empty(); }
    size_t columns() const { return isCurvilinear() ? gridColumns : x.size(); }
    size_t rows() const { return isCurvilinear() ? gridRows : y.size(); }

    // Reverses descending axes and the values with them.
    void makeAscending()
    {
        const size_t columns = x.size();
        const size_t rows = y.size();
        const bool flipX = columns >= 2 && x.front() > x.back();
        const bool flipY = rows >= 2 && y.front() > y.back();
        auto flip = [&](Values& values) {
            if (values.size() != columns * rows)
                return;
            if (flipX)
                for (size_t j = 0; j < rows; ++j)
                    std::reverse(values.begin() + std::ptrdiff_t(j * columns),
                                 values.begin() + std::ptrdiff_t((j + 1) * columns));
            if (flipY)
                for (size_t j = 0; j < rows / 2; ++j)
                    std::swap_ranges(values.begin() + std::ptrdiff_t(j * columns),
                                     values.begin() + std::ptrdiff_t((j + 1) * columns),
                                     values.begin() + std::ptrdiff_t((rows - 1 - j) * columns));
        };
        flip(u);
        flip(v);
        for (Field& field : scalars)
            flip(field.values);
        if (flipX)
            std::reverse(x.begin(), x.end());
        if (flipY)
            std::reverse(y.begin(), y.end());
    }
};
