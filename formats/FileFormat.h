#pragma once

#include "formats/FlowRecord.h"
#include "formats/LoadOptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// One file format as the format table sees it: its name (as messages give
// it), the suffixes and filter the Load dialog shows, how strongly the first
// bytes and the name of a file look like it, and the read into a FlowRecord.
//
// A format holds no state; the table keeps one instance of each and several
// threads may read through it at once.
class FileFormat
{
public:
    // How a file looks like a format, weakest first. The strongest claim of
    // the table wins, so content signatures beat suffixes, a decisive suffix
    // beats the native pair's name rule, and that beats the guesses on text.
    enum class Claim
    {
        None,
        Fallback,  // read as this when nothing else claims the file
        Likely,    // a weak suffix or a leading keyword
        Pair,      // the native pair's name rule
        Suffix,    // a suffix that only this format uses
        Signature, // the first bytes are this format's
    };

    virtual ~FileFormat() = default;

    virtual QString name() const = 0;
    // Without dots, in the order the Load dialog lists them.
    virtual QStringList suffixes() const = 0;
    // "NetCDF (*.nc *.nc4 *.cdf)".
    QString filter() const;
    // head: the first 4096 bytes of the file (empty when it does not open).
    virtual Claim probe(const QByteArray& head, const QString& fileName) const = 0;
    // Reads fileName into record; false with *reason on failure, the record
    // then holds what the file offers to choose from (candidates, levels).
    virtual bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                      QString* reason) const;

protected:
    // The title of the Load dialog's filter.
    virtual QString filterTitle() const { return name(); }
    // The bytes of the whole file, for the formats that parse them in memory.
    virtual bool parse(const QByteArray& bytes, const LoadOptions& options, FlowRecord& record,
                       QString* reason) const;
};
