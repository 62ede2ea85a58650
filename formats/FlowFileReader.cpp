#include "formats/FlowFileReader.h"

#include "formats/ColumnTextReader.h"
#include "formats/NativePairFormat.h"
#include "formats/NetCdfReader.h"
#include "formats/ParaViewCollection.h"
#include "formats/TecplotReader.h"
#include "formats/VtkLegacyReader.h"
#include "formats/VtkXmlReader.h"

#include <QDebug>
#include <QFile>

namespace {

QByteArray head(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(4096);
}

} // namespace

const std::vector<const FileFormat*>& FlowFileReader::formats()
{
    static const std::vector<const FileFormat*> table = {
        &NativePairFormat::instance(), &NetCdfReader::instance(), &ColumnTextReader::instance(),
        &TecplotReader::instance(), &VtkLegacyReader::instance(),
        // Before VTK XML: a collection starts with the same signature.
        &ParaViewCollection::instance(), &VtkXmlReader::instance()};
    return table;
}

const FileFormat& FlowFileReader::formatOf(const QString& fileName)
{
    FileFormat::Claim strongest;
    return choose(head(fileName), fileName, &strongest);
}

const FileFormat& FlowFileReader::choose(const QByteArray& bytes, const QString& fileName,
                                         FileFormat::Claim* strongest)
{
    const FileFormat* chosen = &ColumnTextReader::instance();
    *strongest = FileFormat::Claim::None;
    for (const FileFormat* format : formats()) {
        const FileFormat::Claim claim = format->probe(bytes, fileName);
        if (claim > *strongest) {
            *strongest = claim;
            chosen = format;
        }
    }
    return *chosen;
}

bool FlowFileReader::isNativePair(const QString& fileName)
{
    return &formatOf(fileName) == &NativePairFormat::instance();
}

bool FlowFileReader::read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                          ReadFailure* failure)
{
    const QByteArray bytes = head(fileName);
    FileFormat::Claim claim;
    const FileFormat& format = choose(bytes, fileName, &claim);
    QString reason;
    if (claim <= FileFormat::Claim::Fallback && NativePairFormat::looksBinary(bytes)) {
        // Column text is only the guess for text; read as such, a binary
        // file would be refused for its first odd byte, which says nothing.
        QStringList names;
        for (const FileFormat* known : formats())
            names.append(known->name());
        reason = QStringLiteral("not a format Velmora reads: a binary file whose content and "
                                "suffix match none of %1")
                     .arg(names.join(QStringLiteral(", ")));
    } else {
        // A reader without time steps or levels has only step 0 and level 0.
        const bool ok = format.read(fileName, options, record, &reason) &&
                        (reason = options.refusal(record.timeSteps, record.levels)).isEmpty();
        if (ok)
            return true;
        reason = format.name() + QStringLiteral(": ") + reason;
    }
    qDebug().noquote() << QStringLiteral("FlowFileReader/read: ") + reason;
    if (failure) {
        failure->reason = reason;
        failure->candidates = record.candidates;
        failure->candidateGrids = record.candidateGrids;
        failure->readsOtherFiles = record.readsOtherFiles;
        failure->suggestedPair = record.suggestedPair;
        failure->levels = record.levels;
        failure->needsChoice = record.needsChoice;
    }
    return false;
}

bool FlowFileReader::read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                          QString* errorMessage)
{
    ReadFailure failure;
    if (read(fileName, options, record, &failure))
        return true;
    if (errorMessage)
        *errorMessage = failure.reason;
    return false;
}

QStringList FlowFileReader::fileDialogFilters()
{
    QStringList every;
    QStringList filters;
    for (const FileFormat* format : formats()) {
        for (const QString& suffix : format->suffixes())
            if (!every.contains(QStringLiteral("*.") + suffix))
                every.append(QStringLiteral("*.") + suffix);
        filters.append(format->filter());
    }
    filters.prepend(QStringLiteral("Flow data (%1)").arg(every.join(QLatin1Char(' '))));
    filters.append(QStringLiteral("All files (*)"));
    return filters;
}
