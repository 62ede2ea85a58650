// libFuzzer target for one foreign-format reader, chosen at build time by
// VELMORA_FUZZ_SUFFIX: the input is written to a file with that suffix and
// loaded through FlowData::fromFile, so that the format chooser, the reader
// and the loader's checks all see it. A data set that loads is resampled and
// probed, as in fuzz_flowdata_load.

#include "data/FlowData.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir folder;
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    if (!folder.isValid())
        return 0;
    const QString name = folder.filePath(QStringLiteral("fuzz." VELMORA_FUZZ_SUFFIX));
    {
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            return 0;
    }
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
