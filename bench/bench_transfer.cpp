#include "bench/WidgetBenchmarkMain.h"
#include "transfer/ColorTable.h"
#include "transfer/HoverPoints.h"
#include "transfer/TransferFunctionWidget.h"

#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

namespace {

// A widget with `stops` points spread evenly, as a user might leave it after
// a few edits; 2 is the initial ramp.
void spreadPoints(TransferFunctionWidget& widget, int stops)
{
    QPolygonF points;
    for (int i = 0; i < stops; ++i)
        points << QPointF(qreal(i) / (stops - 1), 1.0 - qreal(i % 3) / 2);
    widget.editor()->setPoints(points);
}

void fillColorTable(benchmark::State& state)
{
    TransferFunctionWidget widget;
    spreadPoints(widget, int(state.range(1)));
    QImage table(int(state.range(0)), 1, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        widget.fillColorTable(&table);
        benchmark::DoNotOptimize(table.constScanLine(0));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What a layer does on every colorsChanged: a fresh table, filled.
void buildColorTable(benchmark::State& state)
{
    TransferFunctionWidget widget;
    for (auto _ : state) {
        const ColorTable table(widget.transferFunction(), int(state.range(0)));
        benchmark::DoNotOptimize(table.data());
    }
}

} // namespace

BENCHMARK(fillColorTable)
    ->ArgNames({"entries", "points"})
    ->Args({256, 2})
    ->Args({4096, 2})
    ->Args({4096, 8})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(buildColorTable)->Arg(256)->Arg(4096)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    return runWidgetBenchmarks(argc, argv);
}
