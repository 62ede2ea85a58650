// Evenly-spaced streamline placement (StreamlineTracer::placeStreamlines) at
// the layer form's start values (dTest 0.5, step 0.003) with dSep 0.03 and a
// dense 0.005, Euler and midpoint, over:
//   - the vortex-street sample of dat/ (400 x 200);
//   - a Lamb-Oseen vortex street on a 1000 x 500 grid stretched towards its
//     middle, written here into a temporary folder;
//   - a uniform stream along y over a domain ten widths tall (50 x 500),
//     traced with the form's legal dSep 0.5, dTest 1, step 0.0001: every
//     line's own points crowd the cells around its head;
//   - the peers' fields (street_1000x500, gyre_400x200, big_2000x2000) from
//     the folder named by VELMORA_PEER_FIELDS, skipped when it is not set.
// Counters: lines and points per placement, points per second, and a hash
// of every point's bits (48 bits, exact in the counter), so that a change
// meant to keep the lines shows that it did.

#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "streamlines/StreamlineTracer.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>
#include <memory>

namespace {

QTemporaryDir* generatedFolder = nullptr;

// Vortices alternating in sign along two rows in a unit stream along x, over
// [0, 8] x [-2, 2], on a grid whose spacing halves towards the middle.
bool writeStreet(const QString& name, int columns, int rows)
{
    auto stretched = [](int n, int k, double low, double high) {
        const double s = double(k) / (n - 1);
        const double g = s - 0.5 * std::sin(2.0 * M_PI * s) / (2.0 * M_PI);
        return float(low + (high - low) * g);
    };
    QList<float> xs, ys;
    for (int i = 0; i < columns; ++i)
        xs << stretched(columns, i, 0.0, 8.0);
    for (int j = 0; j < rows; ++j)
        ys << stretched(rows, j, -2.0, 2.0);

    QList<Vector3> vectors;
    QList<float> speed;
    vectors.reserve(columns * rows);
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < columns; ++i) {
            double u = 1.0, v = 0.0;
            for (int k = 0; k < 8; ++k) {
                const double cx = 1.0 + k;
                const double cy = k % 2 ? -0.28 : 0.28;
                const double gamma = k % 2 ? 3.0 : -3.0;
                const double dx = xs[i] - cx, dy = ys[j] - cy;
                const double r2 = dx * dx + dy * dy + 1e-12;
                const double swirl =
                    gamma / (2.0 * M_PI * r2) * (1.0 - std::exp(-r2 / (0.25 * 0.25)));
                u -= swirl * dy;
                v += swirl * dx;
            }
            vectors << Vector3(float(u), float(v), 0.0f);
            speed << float(std::hypot(u, v));
        }
    }
    FlowDataWriter writer;
    if (!writer.setGrid(xs, ys))
        return false;
    writer.setVectors(vectors);
    writer.addScalarSet(speed);
    return writer.write(name);
}

// A uniform stream along +y over [0, 1] x [0, 10].
bool writeTallStream(const QString& name, int columns, int rows)
{
    QList<float> xs, ys;
    for (int i = 0; i < columns; ++i)
        xs << float(i) / float(columns - 1);
    for (int j = 0; j < rows; ++j)
        ys << 10.0f * float(j) / float(rows - 1);
    FlowDataWriter writer;
    if (!writer.setGrid(xs, ys))
        return false;
    writer.setVectors(QList<Vector3>(qsizetype(columns) * rows, Vector3(0.0f, 1.0f, 0.0f)));
    QList<float> across;
    for (int j = 0; j < rows; ++j)
        across.append(xs);
    writer.addScalarSet(across);
    return writer.write(name);
}

// Data sets by name, loaded once; null when absent.
const FlowData* field(const std::string& name)
{
    static std::map<std::string, std::unique_ptr<FlowData>> loaded;
    const auto found = loaded.find(name);
    if (found != loaded.end())
        return found->second.get();

    QString path;
    if (name == "sample_vortex_street") {
        path = QStringLiteral(VELMORA_SOURCE_DIR "/dat/vortex_street.gri");
    } else if (name == "generated_street_1000x500") {
        if (!generatedFolder)
            generatedFolder = new QTemporaryDir;
        path = generatedFolder->filePath("street");
        if (!QFile::exists(path + ".gri") && !writeStreet(path, 1000, 500))
            path.clear();
    } else if (name == "generated_tall_50x500") {
        if (!generatedFolder)
            generatedFolder = new QTemporaryDir;
        path = generatedFolder->filePath("tall");
        if (!QFile::exists(path + ".gri") && !writeTallStream(path, 50, 500))
            path.clear();
    } else {
        const QString folder = qEnvironmentVariable("VELMORA_PEER_FIELDS");
        if (!folder.isEmpty())
            path = QDir(folder).filePath(QString::fromStdString(name) + ".gri");
    }
    std::unique_ptr<FlowData>& slot = loaded[name];
    if (!path.isEmpty())
        slot.reset(FlowData::fromFile(path));
    return slot.get();
}

// FNV-1a over the bits of each point's fields, line by line.
std::uint64_t pointsHash(const std::vector<Streamline>& lines)
{
    std::uint64_t h = 14695981039346656037ULL;
    const auto mix = [&h](const void* bytes, std::size_t size) {
        const unsigned char* b = static_cast<const unsigned char*>(bytes);
        for (std::size_t k = 0; k < size; ++k)
            h = (h ^ b[k]) * 1099511628211ULL;
    };
    for (const Streamline& line : lines) {
        const std::uint64_t size = line.size();
        mix(&size, sizeof size);
        for (const StreamlinePoint& p : line) {
            mix(&p.x, sizeof p.x);
            mix(&p.y, sizeof p.y);
            mix(&p.magnitude, sizeof p.magnitude);
            mix(&p.texture, sizeof p.texture);
            mix(&p.taper, sizeof p.taper);
        }
    }
    return h;
}

void place(benchmark::State& state, const std::string& name, int method, double dSep,
           double dTest = 0.5, double stepSize = 0.003)
{
    const FlowData* data = field(name);
    if (!data) {
        state.SkipWithError("data set not available (VELMORA_PEER_FIELDS for the peer fields)");
        return;
    }
    StreamlineParameters params;
    params.dSep = dSep;
    params.dTest = dTest;
    params.stepSize = stepSize;
    params.method = method;
    StreamlineTracer tracer(params);

    std::int64_t lines = 0;
    std::int64_t points = 0;
    std::uint64_t hash = 0;
    bool first = true;
    for (auto _ : state) {
        const std::vector<Streamline> result = tracer.placeStreamlines(*data);
        benchmark::DoNotOptimize(result.data());
        if (first) {
            state.PauseTiming();
            hash = pointsHash(result);
            first = false;
            state.ResumeTiming();
        }
        lines = std::int64_t(result.size());
        if (tracer.stopReason() != StreamlineTracer::Complete)
            state.counters["incomplete"] = 1;
        points = 0;
        for (const Streamline& line : result)
            points += std::int64_t(line.size());
    }
    state.counters["hash"] = double(hash >> 16);
    state.counters["lines"] = double(lines);
    state.counters["points"] = double(points);
    state.counters["points_per_s"] =
        benchmark::Counter(double(points), benchmark::Counter::kIsIterationInvariantRate);
}

void quiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler(quiet);

    const char* fields[] = {"sample_vortex_street", "generated_street_1000x500", "street_1000x500",
                            "gyre_400x200", "big_2000x2000"};
    for (const char* name : fields) {
        for (const double dSep : {0.03, 0.005}) {
            for (const int method : {int(EulerMethod), int(RungeKuttaMethod)}) {
                const std::string label = std::string("place/") + name +
                                          (method == EulerMethod ? "/euler" : "/midpoint") +
                                          (dSep == 0.03 ? "/dsep:0.03" : "/dsep:0.005");
                benchmark::RegisterBenchmark(label.c_str(), place, std::string(name), method, dSep,
                                             0.5, 0.003)
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    for (const int method : {int(EulerMethod), int(RungeKuttaMethod)}) {
        const std::string label = std::string("place/generated_tall_50x500") +
                                  (method == EulerMethod ? "/euler" : "/midpoint") +
                                  "/dsep:0.5/dtest:1/step:0.0001";
        benchmark::RegisterBenchmark(label.c_str(), place, std::string("generated_tall_50x500"),
                                     method, 0.5, 1.0, 0.0001)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete generatedFolder;
    return 0;
}
