#pragma once

#include "formats/FileFormat.h"
#include "formats/FlowRecord.h"
#include "formats/LoadOptions.h"
#include "formats/ReadFailure.h"

#include <QString>
#include <QStringList>

#include <vector>

// The table of file formats and the choice among them. Every format probes
// the first bytes and the name of a file; the strongest claim wins (see
// FileFormat::Claim), ties go to the earlier entry. So a content signature
// (NetCDF, HDF5, VTK legacy and XML) decides first, then a suffix only one
// format uses; a name whose .gri exists (or that does not exist, or a binary
// .dat) is the native pair; a text file that is neither becomes Tecplot
// when it ends in .plt or .tec or starts with a Tecplot keyword, and column
// text otherwise.
class FlowFileReader
{
public:
    // In the order the Load dialog lists them; the native pair first.
    static const std::vector<const FileFormat*>& formats();
    static const FileFormat& formatOf(const QString& fileName);
    static bool isNativePair(const QString& fileName);

    // Reads fileName into record (not for the native pair) and checks the
    // chosen step and level against what the file holds. On failure the
    // reason starts with the format's name, and *failure also tells what the
    // file offers to choose from.
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     ReadFailure* failure);
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* errorMessage = nullptr);
    // The Load dialog's filters: every format first, then one per format,
    // then all files.
    static QStringList fileDialogFilters();

private:
    // The format with the strongest claim on a file's first bytes and name.
    static const FileFormat& choose(const QByteArray& head, const QString& fileName,
                                    FileFormat::Claim* strongest);
};
