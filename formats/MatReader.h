#pragma once

#include "formats/FileFormat.h"

// MATLAB MAT-files of level 5 (v5, v7 with compressed variables) and v7.3
// (HDF5), through the matio library. Two layouts:
// - a plain workspace: x and y as vectors or meshgrid matrices, u and v as
//   matrices (rows along y, columns along x, as meshgrid makes them), further
//   real matrices of the same size as scalar sets;
// - a PIV results file: cell arrays with one cell per frame (x, y,
//   u_original/v_original, u_filtered/v_filtered, u_smoothed/v_smoothed, the
//   typevector of each stage) and a units string; frames are time steps and
//   the most processed stage that holds the frame is shown.
// The variables' tags are checked against the file's size before matio
// allocates anything for them. Level 4 files are refused. Claims the MAT
// header and .mat.
class MatReader : public FileFormat
{
public:
    static const MatReader& instance();

    QString name() const override { return QStringLiteral("MAT-file"); }
    QStringList suffixes() const override { return {QStringLiteral("mat")}; }
    Claim probe(const QByteArray& head, const QString& fileName) const override;
    bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
              QString* reason) const override;

protected:
    QString filterTitle() const override { return QStringLiteral("MATLAB"); }
};
