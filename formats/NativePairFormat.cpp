#include "formats/NativePairFormat.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <QTextStream>

#include <climits>
#include <cmath>
#include <cstring>

const QByteArray NativePairFormat::magic = QByteArrayLiteral("VELGRI");

namespace {

bool readInteger(QTextStream& stream, int& value)
{
    qlonglong number = 0;
    stream >> number;
    if (stream.status() != QTextStream::Ok || number < INT_MIN || number > INT_MAX)
        return false;
    value = int(number);
    return true;
}

} // namespace

bool NativePairFormat::looksBinary(const QByteArray& bytes)
{
    for (const char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u == 0 || (u < 32 && c != '\n' && c != '\r' && c != '\t' && c != '\f'))
            return true;
    }
    return false;
}

const NativePairFormat& NativePairFormat::instance()
{
    static const NativePairFormat format;
    return format;
}

FileFormat::Claim NativePairFormat::probe(const QByteArray& head, const QString& fileName) const
{
    const QFileInfo info(fileName);
    if (info.suffix().compare(QLatin1String("gri"), Qt::CaseInsensitive) == 0)
        return Claim::Suffix;
    // A name whose .gri exists is a native pair, whatever its suffix; so is a
    // name that does not exist, and a binary .dat (the loader says which
    // file is missing). Another binary file is not taken for a pair, so that
    // its refusal says that no format knows it.
    const bool dat = info.suffix().compare(QLatin1String("dat"), Qt::CaseInsensitive) == 0;
    if (QFileInfo::exists(geometryFileName(dataName(fileName))) || !info.isFile() ||
        (dat && looksBinary(head)))
        return Claim::Pair;
    return Claim::None;
}

bool NativePairFormat::read(const QString&, const LoadOptions&, FlowRecord&, QString* reason) const
{
    *reason = QStringLiteral("a native pair is loaded by FlowData::load");
    return false;
}

QString NativePairFormat::Header::refusal() const
{
    if (depth != 1)
        return QStringLiteral("depth not 1; only programmed for 1");
    if (resolutionX < 2 || resolutionY < 2)
        return QStringLiteral("resolution below 2 along an axis");
    if (scalarSetCount < 0)
        return QStringLiteral("negative scalar sets count");
    // Every array holds one element per grid point and counts in int.
    if (points() > INT_MAX)
        return QStringLiteral("grid too large");
    return QString();
}

bool NativePairFormat::parseHeader(const QByteArray& bytes, Header& header)
{
    if (bytes.size() <= headerTextOffset)
        return false;
    QTextStream text(bytes.left(headerSize).mid(headerTextOffset));
    if (!readInteger(text, header.resolutionX) || !readInteger(text, header.resolutionY) ||
        !readInteger(text, header.depth) || !readInteger(text, header.scalarSetCount) ||
        !readInteger(text, header.timeSteps))
        return false;
    text >> header.timeDifference;
    return text.status() == QTextStream::Ok;
}

QByteArray NativePairFormat::headerBytes(const Header& header)
{
    QString difference;
    for (int precision = 1; precision <= 9; ++precision) {
        difference = QString::number(double(header.timeDifference), 'g', precision);
        if (difference.toFloat() == header.timeDifference || std::isnan(header.timeDifference))
            break;
    }
    const QByteArray text = QStringLiteral("%1 %2 %3 %4 %5 %6")
                                .arg(header.resolutionX)
                                .arg(header.resolutionY)
                                .arg(header.depth)
                                .arg(header.scalarSetCount)
                                .arg(header.timeSteps)
                                .arg(difference)
                                .toLatin1();
    if (magic.size() + text.size() >= headerSize)
        return QByteArray();
    QByteArray bytes = magic + text;
    bytes.append(headerSize - bytes.size(), ' ');
    return bytes;
}

void NativePairFormat::appendValue(QByteArray& out, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    const quint32 little = qToLittleEndian(bits);
    out.append(reinterpret_cast<const char*>(&little), sizeof little);
}

QString NativePairFormat::dataName(const QString& fileName)
{
    const int slash = fileName.lastIndexOf(QLatin1Char('/'));
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? fileName.left(dot) : fileName;
}

QString NativePairFormat::geometryFileName(const QString& dataName)
{
    return dataName + QStringLiteral(".gri");
}

QStringList NativePairFormat::dataFileNames(const QString& dataName)
{
    return {dataName + QStringLiteral(".dat"), stepName(dataName, 0) + QStringLiteral(".dat")};
}

QString NativePairFormat::stepName(const QString& base, int number)
{
    return base + QLatin1Char('.') +
           QStringLiteral("%1").arg(number, stepDigits, 10, QLatin1Char('0'));
}

bool NativePairFormat::splitStepName(const QString& dataName, QString* base, int* number)
{
    static const QRegularExpression numbered(QStringLiteral("^(.+)\\.(\\d{%1})$").arg(stepDigits));
    const QRegularExpressionMatch match = numbered.match(dataName);
    if (!match.hasMatch())
        return false;
    *base = match.captured(1);
    *number = match.captured(2).toInt();
    return true;
}
