// libFuzzer target for the seed list reader: the input is a seed file's
// bytes. Every seed it reads is finite.

#include "formats/SeedListReader.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<QPointF> seeds;
    QString reason;
    if (!SeedListReader::parse(bytes, &seeds, &reason)) {
        // A refusal names the line it stopped at.
        if (!reason.startsWith(QLatin1String("line ")))
            std::abort();
        return 0;
    }
    for (const QPointF& seed : seeds)
        if (!std::isfinite(seed.x()) || !std::isfinite(seed.y()))
            std::abort();
    return 0;
}
