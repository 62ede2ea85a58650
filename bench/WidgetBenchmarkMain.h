#pragma once

#include "app/HeapSettings.h"

#include <benchmark/benchmark.h>
#include <QApplication>

// The main of the benchmarks that need a widget application: with the
// program's heap settings, offscreen, and quiet, because the profiling
// timers write a line for every measured call; VELMORA_BENCH_TIMERS=1 keeps
// those lines, to see where a figure goes.
inline int runWidgetBenchmarks(int argc, char** argv)
{
    HeapSettings::keepPictureMemory();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (qEnvironmentVariableIntValue("VELMORA_BENCH_TIMERS") == 0)
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
