// libFuzzer target for the data set loader and, built with
// VELMORA_FUZZ_SUFFIX, for one foreign-format reader.
//
// Native pair (fuzz_flowdata_load): two bytes, little-endian, give the length
// L of the geometry file (limited to what follows); the next L bytes are the
// .gri file, the rest is the .dat file.
// Foreign format (fuzz_<format>): the input is written to a file with that
// suffix and loaded through FlowData::fromFile, so that the format chooser,
// the reader and the loader's checks all see it.
// A data set that loads is also resampled and probed, so that whatever the
// loader accepts is safe to sample.

#include "data/FlowData.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

bool writeFile(const QString& path, const uint8_t* bytes, size_t size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(reinterpret_cast<const char*>(bytes), qint64(size)) == qint64(size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    if (!folder.isValid())
        return 0;
#ifdef VELMORA_FUZZ_SUFFIX
    const QString name = folder.filePath(QStringLiteral("fuzz." VELMORA_FUZZ_SUFFIX));
    if (!writeFile(name, data, size))
        return 0;
#else
    if (size < 2)
        return 0;
    const size_t rest = size - 2;
    const size_t geometrySize = qMin<size_t>(size_t(data[0]) | size_t(data[1]) << 8, rest);
    const QString name = folder.filePath(QStringLiteral("fuzz"));
    if (!writeFile(name + QStringLiteral(".gri"), data + 2, geometrySize) ||
        !writeFile(name + QStringLiteral(".dat"), data + 2 + geometrySize, rest - geometrySize))
        return 0;
#endif
    const std::unique_ptr<FlowData> loaded(FlowData::fromFile(name));
    if (!loaded)
        return 0;
    const int width = 7;
    const int height = 5;
    std::vector<float> scalars(width * height);
    std::vector<Vector3> vectors(width * height);
    for (int s = 0; s < loaded->scalarSetCount(); ++s)
        loaded->calcScalar(s, width, height, scalars.data());
    loaded->calcVector(width, height, vectors.data());
    const double inverse = loaded->inverseAspectRatio();
    const double probes[] = {-1.0, 0.0, 0.3, 0.5, 1.0, 2.0};
    for (double x : probes)
        for (double y : probes)
            loaded->vectorAt(x, y * inverse);
    return 0;
}
