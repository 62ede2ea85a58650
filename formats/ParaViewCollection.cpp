#include "formats/ParaViewCollection.h"

#include "formats/FlowFileReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

#include <algorithm>
#include <climits>

const ParaViewCollection& ParaViewCollection::instance()
{
    static const ParaViewCollection format;
    return format;
}

FileFormat::Claim ParaViewCollection::probe(const QByteArray& head, const QString& fileName) const
{
    // Before the VTK XML reader's own "<?xml" signature, which would take it.
    const int root = head.indexOf("<VTKFile");
    if (root >= 0 && head.indexOf("\"Collection\"", root) > root)
        return Claim::Signature;
    return QFileInfo(fileName).suffix().compare(QLatin1String("pvd"), Qt::CaseInsensitive) == 0
               ? Claim::Suffix
               : Claim::None;
}

bool ParaViewCollection::entries(const QString& fileName, std::vector<Entry>* list, QString* reason)
{
    QFile file(fileName);
    // A collection lists file names; a megabyte holds a hundred thousand.
    if (!file.open(QIODevice::ReadOnly) || file.size() > (qint64(64) << 20)) {
        *reason = QStringLiteral("opening the file failed");
        return false;
    }
    const QDir folder = QFileInfo(fileName).absoluteDir();
    QXmlStreamReader xml(&file);
    bool collection = false;
    list->clear();
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("VTKFile")) {
            collection =
                xml.attributes().value(QLatin1String("type")) == QLatin1String("Collection");
            if (!collection)
                break;
            continue;
        }
        if (xml.name() == QLatin1String("Collection"))
            continue;
        if (xml.name() == QLatin1String("DataSet")) {
            const QXmlStreamAttributes attributes = xml.attributes();
            const QString part = attributes.value(QLatin1String("part")).toString();
            const QString name = attributes.value(QLatin1String("file")).toString();
            bool timed = false;
            const double time = attributes.value(QLatin1String("timestep")).toDouble(&timed);
            if ((part.isEmpty() || part.toInt() == 0) && !name.isEmpty()) {
                Entry entry;
                entry.time = timed ? time : double(list->size());
                entry.fileName = QDir::cleanPath(folder.absoluteFilePath(name));
                const bool sameTime =
                    timed && std::any_of(list->cbegin(), list->cend(),
                                         [&](const Entry& e) { return e.time == time; });
                if (!sameTime)
                    list->push_back(entry);
            }
        }
        xml.skipCurrentElement();
    }
    if (xml.hasError()) {
        *reason = QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(xml.errorString());
        return false;
    }
    if (!collection) {
        *reason = QStringLiteral("not a VTKFile of type Collection");
        return false;
    }
    if (list->empty()) {
        *reason = QStringLiteral("the collection lists no data set");
        return false;
    }
    return true;
}

bool ParaViewCollection::read(const QString& fileName, const LoadOptions& options,
                              FlowRecord& record, QString* reason) const
{
    std::vector<Entry> list;
    if (!entries(fileName, &list, reason))
        return false;
    const int count = int(std::min<size_t>(list.size(), INT_MAX));
    if (options.step < 0 || options.step >= count) {
        record.timeSteps = count;
        *reason = options.refusal(count, 1);
        return false;
    }
    const Entry& entry = list[size_t(options.step)];
    // A device or a folder named as an entry is no step; a collection naming
    // itself, or another collection, would read on forever.
    if (!QFileInfo(entry.fileName).isFile()) {
        *reason = QStringLiteral("step %1: no file %2")
                      .arg(options.step)
                      .arg(QFileInfo(entry.fileName).fileName());
        return false;
    }
    if (&FlowFileReader::formatOf(entry.fileName) == this) {
        *reason = QStringLiteral("step %1: %2 is a collection itself")
                      .arg(options.step)
                      .arg(QFileInfo(entry.fileName).fileName());
        return false;
    }
    LoadOptions entryOptions = options;
    entryOptions.step = 0;
    QString entryReason;
    if (!FlowFileReader::read(entry.fileName, entryOptions, record, &entryReason)) {
        *reason = QStringLiteral("step %1 (%2): %3")
                      .arg(options.step)
                      .arg(QFileInfo(entry.fileName).fileName(), entryReason);
        return false;
    }
    record.timeSteps = count;
    record.times.clear();
    for (const Entry& e : list)
        record.times.push_back(e.time);
    record.timeUnits = CfTime();
    record.timeDifference = count >= 2 ? float(list[1].time - list[0].time) : 0.0f;
    return true;
}
