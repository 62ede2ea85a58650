#include "formats/FileFormat.h"

#include <QFile>

QString FileFormat::filter() const
{
    QStringList patterns;
    for (const QString& suffix : suffixes())
        patterns.append(QStringLiteral("*.") + suffix);
    return QStringLiteral("%1 (%2)").arg(filterTitle(), patterns.join(QLatin1Char(' ')));
}

bool FileFormat::read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
                      QString* reason) const
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("opening the file failed");
        return false;
    }
    return parse(file.readAll(), options, record, reason);
}

bool FileFormat::parse(const QByteArray&, const LoadOptions&, FlowRecord&, QString* reason) const
{
    *reason = QStringLiteral("%1 is not read from memory").arg(name());
    return false;
}
