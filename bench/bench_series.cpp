// Stepping and playing a series in the program: from a step request (the
// Page Down key's slot) to the painted picture with all six layers shown, on
// the cavity sample and on a 1000 x 1000 series; and the peak memory while a
// 1000-step series plays through at 60 frames per second.
//
// The 1000 x 1000 series is written into a temporary folder: four distinct
// steps of a swaying double gyre; the 1000-step series links its data files
// to those four in turn.

#include "app/Main.h"
#include "app/SeriesPlayer.h"
#include "app/shell/Layer.h"
#include "app/TimeBar.h"
#include "app/ViewPort.h"
#include "bench/WidgetBenchmarkMain.h"
#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/FlowSeries.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr int bigSide = 1000;
constexpr int distinctSteps = 4;
constexpr int longSeriesSteps = 1000;

QString stepName(const QString& base, int k)
{
    return base + QStringLiteral(".%1.dat").arg(k, 5, 10, QLatin1Char('0'));
}

// big.gri with big.0000K.dat for K < 4, and long.gri with 1000 data files
// linked to them; the name of big.gri, empty on failure.
QString bigSeries()
{
    static QTemporaryDir dir;
    static QString name;
    if (!name.isEmpty())
        return name;
    QList<float> coordinates(bigSide);
    for (int i = 0; i < bigSide; ++i)
        coordinates[i] = float(i) / float(bigSide - 1);
    const double pi = 3.14159265358979;
    for (int k = 0; k < distinctSteps; ++k) {
        const double e = 0.25 * std::sin(2.0 * pi * k / distinctSteps);
        QList<Vector3> vectors(bigSide * bigSide);
        QList<float> vorticity(bigSide * bigSide);
        for (int j = 0; j < bigSide; ++j) {
            for (int i = 0; i < bigSide; ++i) {
                const double x0 = 2.0 * i / (bigSide - 1);
                const double x = e * x0 * x0 + (1.0 - 2.0 * e) * x0;
                const double y = double(j) / (bigSide - 1);
                vectors[j * bigSide + i] =
                    Vector3(float(-pi * std::sin(pi * x) * std::cos(pi * y)),
                            float(pi * std::cos(pi * x) * std::sin(pi * y)), 0.0f);
                vorticity[j * bigSide + i] =
                    float(2.0 * pi * pi * std::sin(pi * x) * std::sin(pi * y));
            }
        }
        FlowDataWriter writer;
        writer.setGrid(coordinates, coordinates);
        writer.setVectors(vectors);
        writer.addScalarSet(vorticity);
        writer.setTimeInformation(distinctSteps, 0.1f);
        if ((k == 0 && (!writer.writeGeometry(dir.filePath("big.gri")) ||
                        !writer.writeGeometry(dir.filePath("long.gri")))) ||
            !writer.writeData(stepName(dir.filePath("big"), k)))
            return QString();
    }
    for (int k = 0; k < longSeriesSteps; ++k)
        if (!QFile::link(stepName(dir.filePath("big"), k % distinctSteps),
                         stepName(dir.filePath("long"), k)))
            return QString();
    name = dir.filePath("big.gri");
    return name;
}

QString cavity()
{
    return QStringLiteral(VELMORA_SOURCE_DIR "/dat/cavity.gri");
}

long statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool openWithAllLayers(Main& window, const QString& fileName)
{
    window.resize(1200, 900);
    window.show();
    if (fileName.isEmpty() || !window.loadFlowData(fileName))
        return false;
    for (Layer* layer : window.viewPort()->layerList())
        layer->setVisibility(true);
    return window.viewPort()->layerStack().finishRendering(120000);
}

// Next step (round to the first), until the new data set is on show, every
// layer has rendered it and the view has painted.
bool stepToPicture(Main& window)
{
    SeriesPlayer* player = window.timeBar()->player();
    const FlowData* before = window.currentFlowData();
    const int step = player->nextPlayable(player->position(), true);
    player->seek(step);
    const QDeadlineTimer deadline(60000);
    QTimer wake;
    wake.start(2);
    while (window.currentFlowData() == before && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (window.currentFlowData() == before ||
        !window.viewPort()->layerStack().finishRendering(60000))
        return false;
    window.viewPort()->repaint();
    return true;
}

void stepSeries(benchmark::State& state, const QString& fileName)
{
    Main window;
    if (!openWithAllLayers(window, fileName)) {
        state.SkipWithError("series did not load");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!stepToPicture(window)) {
            state.SkipWithError("step not shown");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}

void stepCavity(benchmark::State& state)
{
    stepSeries(state, cavity());
}

void stepBig(benchmark::State& state)
{
    stepSeries(state, bigSeries());
}

// Plays the 1000 steps once, without looping, at 60 frames per second.
void playLongSeries(benchmark::State& state)
{
    const QString big = bigSeries();
    Main window;
    if (big.isEmpty() ||
        !openWithAllLayers(
            window, QString(big).replace(QStringLiteral("big.gri"), QStringLiteral("long.gri")))) {
        state.SkipWithError("series did not load");
        return;
    }
    SeriesPlayer* player = window.timeBar()->player();
    if (player->stepCount() != longSeriesSteps) {
        state.SkipWithError("not 1000 steps");
        return;
    }
    int shown = 0;
    QObject::connect(player, &SeriesPlayer::showRequested, [&shown] { ++shown; });
    for (auto _ : state) {
        const long before = statusKilobytes("VmRSS:");
        // Resets the peak to the present size (Linux 4.0 and later).
        QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
        if (clearRefs.open(QIODevice::WriteOnly))
            clearRefs.write("5");
        clearRefs.close();
        player->setLooping(false);
        player->setFramesPerSecond(60.0);
        player->first();
        window.timeBar()->togglePlay();
        const auto start = std::chrono::steady_clock::now();
        const QDeadlineTimer deadline(600000);
        while (player->isPlaying() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.counters["rss_before_MB"] = double(before) / 1024.0;
        state.counters["peak_MB"] = double(statusKilobytes("VmHWM:")) / 1024.0;
        state.counters["shown"] = shown;
        state.counters["skipped"] = player->skippedFrames();
    }
}

} // namespace

BENCHMARK(stepCavity)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(stepBig)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(12);
BENCHMARK(playLongSeries)->Unit(benchmark::kSecond)->UseManualTime()->Iterations(1);

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
