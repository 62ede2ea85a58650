#pragma once

#include "data/FlowRecord.h"
#include "data/LoadOptions.h"

#include <QString>
#include <QStringList>

// Chooses how a file is read and reads the formats other than the native
// pair into a FlowRecord. The native pair is chosen by a .gri name, or by any
// name whose .gri exists; the other formats by their content first (NetCDF,
// HDF5, VTK legacy and XML signatures), then by their suffix; a text file
// that is neither becomes Tecplot when it starts with a Tecplot keyword and
// column text otherwise.
class FlowFileReader
{
public:
    enum class Format
    {
        Native,
        ColumnText,
        Tecplot,
        NetCdf,
        VtkLegacy,
        VtkXml
    };

    static Format formatOf(const QString& fileName);
    static QString formatName(Format format);
    // Reads fileName into record (not for the native pair); on failure
    // *errorMessage, when given, receives the reason and record may hold
    // the candidate variables the file offers.
    static bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                     QString* errorMessage = nullptr);
    // The Load dialog's filters: every format first, then one per format,
    // then all files.
    static QStringList fileDialogFilters();

    // A "FILE:VAR" option split into its file (empty when there is none) and
    // its variable.
    static void splitVariable(const QString& option, QString* file, QString* variable);
};
