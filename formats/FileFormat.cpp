#include "formats/FileFormat.h"

#include "formats/HugePageMemory.h"
#include "formats/ReaderThreads.h"

#include <QFile>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// Below this size one read is as fast as any split.
constexpr qint64 partedReadSize = qint64(8) << 20;

// A file's bytes, NUL-terminated as a QByteArray is. A large file is read
// into memory of its own on huge pages, which `bytes` only views: a buffer
// of tens of megabytes from the heap would otherwise be faulted in 4 kB at
// a time, which costs as much as the copy out of the page cache.
struct WholeFile
{
    std::unique_ptr<char, void (*)(void*)> memory{nullptr, &std::free};
    QByteArray bytes; // released before the memory it may view
};

// The whole of a large regular file, read in parts side by side: the copy
// out of the page cache and the faults on the fresh buffer, which are most
// of a read, then go over every core. Anything short of the size stated at
// the start (a file that shrinks meanwhile, a read error) gives way to
// QFile's own read from the top.
void readWhole(QFile& file, WholeFile& whole)
{
#ifdef Q_OS_UNIX
    const qint64 size = file.size();
    const int parts = ReaderThreads::countFor(size, partedReadSize, size / (partedReadSize / 2));
    if (parts >= 2 && file.handle() >= 0 && !file.isSequential())
        whole.memory.reset(static_cast<char*>(HugePageMemory::allocate(size_t(size) + 1)));
    if (whole.memory) {
        char* const bytes = whole.memory.get();
        std::vector<char> complete(size_t(parts), 0);
        const auto readPart = [&](int part) {
            qint64 at = size * part / parts;
            const qint64 until = size * (part + 1) / parts;
            while (at < until) {
                const ssize_t got =
                    ::pread(file.handle(), bytes + at, size_t(until - at), off_t(at));
                if (got <= 0)
                    return;
                at += got;
            }
            complete[size_t(part)] = 1;
        };
        ReaderThreads::run(parts, readPart);
        // A file that grew meanwhile is read as it stood when its size was taken.
        if (std::all_of(complete.begin(), complete.end(), [](char done) { return done != 0; })) {
            bytes[size] = '\0';
            whole.bytes = QByteArray::fromRawData(bytes, size);
            return;
        }
        whole.memory.reset();
    }
#endif
    file.seek(0);
    whole.bytes = file.readAll();
}

} // namespace

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
    WholeFile whole;
    readWhole(file, whole);
    return parse(whole.bytes, options, record, reason);
}

bool FileFormat::parse(const QByteArray&, const LoadOptions&, FlowRecord&, QString* reason) const
{
    *reason = QStringLiteral("%1 is not read from memory").arg(name());
    return false;
}
