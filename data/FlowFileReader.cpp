#include "data/FlowFileReader.h"

#include "data/ColumnTextReader.h"
#include "data/FlowData.h"
#include "data/NetCdfReader.h"
#include "data/TecplotReader.h"
#include "data/VtkLegacyReader.h"
#include "data/VtkXmlReader.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray head(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(4096);
}

bool looksBinary(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == 0 || (u < 32 && c != '\n' && c != '\r' && c != '\t' && c != '\f'))
            return true;
    }
    return false;
}

bool startsWithTecplotKeyword(const QByteArray& bytes)
{
    for (const QByteArray& line : bytes.split('\n')) {
        const QByteArray text = line.trimmed().toUpper();
        if (text.isEmpty() || text.startsWith('#'))
            continue;
        for (const char* keyword : {"TITLE", "VARIABLES", "ZONE", "FILETYPE"})
            if (text.startsWith(keyword) &&
                (text.size() == int(qstrlen(keyword)) ||
                 !QChar::isLetterOrNumber(uchar(text.at(int(qstrlen(keyword)))))))
                return true;
        return false;
    }
    return false;
}

} // namespace

FlowFileReader::Format FlowFileReader::formatOf(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QString suffix = info.suffix().toLower();
    const QByteArray bytes = head(fileName);
    if (bytes.startsWith("CDF\x01") || bytes.startsWith("CDF\x02") || bytes.startsWith("CDF\x05") ||
        bytes.startsWith("\x89HDF\r\n\x1a\n"))
        return Format::NetCdf;
    const QByteArray start = bytes.trimmed();
    if (start.startsWith("# vtk DataFile"))
        return Format::VtkLegacy;
    if (start.startsWith("<?xml") || start.startsWith("<VTKFile"))
        return Format::VtkXml;
    if (suffix == QLatin1String("gri"))
        return Format::Native;
    if (suffix == QLatin1String("nc") || suffix == QLatin1String("nc4") ||
        suffix == QLatin1String("cdf") || suffix == QLatin1String("netcdf"))
        return Format::NetCdf;
    if (suffix == QLatin1String("vtk"))
        return Format::VtkLegacy;
    if (suffix == QLatin1String("vti") || suffix == QLatin1String("vtr"))
        return Format::VtkXml;
    // A name whose .gri exists is a native pair, whatever its suffix; so is a
    // name that does not exist, and a binary .dat (the loader says which
    // file is missing).
    if (QFileInfo::exists(FlowData::dataName(fileName) + QStringLiteral(".gri")) ||
        !info.isFile() || looksBinary(bytes))
        return Format::Native;
    if (suffix == QLatin1String("plt") || suffix == QLatin1String("tec") ||
        startsWithTecplotKeyword(bytes))
        return Format::Tecplot;
    return Format::ColumnText;
}

QString FlowFileReader::formatName(Format format)
{
    switch (format) {
    case Format::Native:
        return QStringLiteral("native pair");
    case Format::ColumnText:
        return QStringLiteral("column text");
    case Format::Tecplot:
        return QStringLiteral("Tecplot ASCII");
    case Format::NetCdf:
        return QStringLiteral("NetCDF");
    case Format::VtkLegacy:
        return QStringLiteral("VTK legacy");
    case Format::VtkXml:
        return QStringLiteral("VTK XML");
    }
    return QString();
}

bool FlowFileReader::read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                          QString* errorMessage)
{
    const Format format = formatOf(fileName);
    QString reason;
    bool ok = false;
    switch (format) {
    case Format::Native:
        reason = QStringLiteral("a native pair is loaded by FlowData::load");
        break;
    case Format::ColumnText:
        ok = ColumnTextReader::read(fileName, options, record, &reason);
        break;
    case Format::Tecplot:
        ok = TecplotReader::read(fileName, options, record, &reason);
        break;
    case Format::NetCdf:
        ok = NetCdfReader::read(fileName, options, record, &reason);
        break;
    case Format::VtkLegacy:
        ok = VtkLegacyReader::read(fileName, options, record, &reason);
        break;
    case Format::VtkXml:
        ok = VtkXmlReader::read(fileName, options, record, &reason);
        break;
    }
    // A reader without time steps or levels has only step 0 and level 0.
    if (ok && options.step >= record.timeSteps) {
        ok = false;
        reason = QStringLiteral("time step %1 does not exist; the file holds %2")
                     .arg(options.step)
                     .arg(record.timeSteps);
    } else if (ok && options.level >= record.levels) {
        ok = false;
        reason = QStringLiteral("level %1 does not exist; the file holds %2")
                     .arg(options.level)
                     .arg(record.levels);
    }
    if (ok)
        return true;
    reason = formatName(format) + QStringLiteral(": ") + reason;
    qDebug().noquote() << QStringLiteral("FlowFileReader/read: ") + reason;
    if (errorMessage)
        *errorMessage = reason;
    return false;
}

QStringList FlowFileReader::fileDialogFilters()
{
    return {QStringLiteral("Flow data (*.gri *.dat *.nc *.nc4 *.cdf *.txt *.csv *.tsv *.plt *.tec "
                           "*.vtk *.vti *.vtr)"),
            QStringLiteral("Velmora pair (*.gri *.dat)"),
            QStringLiteral("NetCDF (*.nc *.nc4 *.cdf)"),
            QStringLiteral("Column text (*.txt *.csv *.tsv *.dat)"),
            QStringLiteral("Tecplot ASCII (*.dat *.plt *.tec)"),
            QStringLiteral("VTK legacy (*.vtk)"),
            QStringLiteral("VTK XML image or rectilinear grid (*.vti *.vtr)"),
            QStringLiteral("All files (*)")};
}

void FlowFileReader::splitVariable(const QString& option, QString* file, QString* variable)
{
    const int colon = option.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && colon + 1 < option.size()) {
        *file = option.left(colon);
        *variable = option.mid(colon + 1);
    } else {
        file->clear();
        *variable = option;
    }
}
