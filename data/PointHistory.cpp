#include "data/PointHistory.h"

#include "data/DerivedFieldGrid.h"
#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/FlowSeries.h"
#include "data/ProbeColumns.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

int PointHistory::gapCount() const
{
    return int(std::count_if(reasons.cbegin(), reasons.cend(),
                             [](const QString& reason) { return !reason.isEmpty(); }));
}

PointHistory PointHistory::read(const FlowSeries& series, double x, double y, int firstIndex,
                                int lastIndex, const QList<DerivedField::Kind>& derived,
                                const Progress& progress, const std::atomic<bool>* cancel,
                                const ReferenceFrame& frame)
{
    PointHistory history;
    history.difference = double(series.timeDifference());
    const int first = std::max(firstIndex, 0);
    const int last = std::min(lastIndex, series.stepCount() - 1);
    const int total = std::max(last - first + 1, 0);
    // The columns need a data set (scalar names and units); rows of steps
    // before the first one that reads wait here.
    std::vector<std::vector<double>> pending;
    std::vector<double> row;
    bool columns = false;
    for (int index = first; index <= last; ++index) {
        if (cancel && cancel->load()) {
            history.cancelled = true;
            break;
        }
        row.assign({double(series.stepNumber(index)), series.stepTime(index)});
        QString reason;
        std::unique_ptr<FlowData> loaded(series.loadStep(index, &reason));
        const auto* data = loaded.get();
        std::unique_ptr<FlowData> framed;
        if (data && !frame.atRest()) {
            framed = frame.apply(*data, &reason);
            if (!framed)
                data = nullptr;
        }
        const auto* moving = framed ? framed.get() : data;
        if (!moving)
            data = nullptr;
        if (data) {
            QList<ScalarSet> sets;
            QList<const ScalarSet*> pointers;
            if (!derived.isEmpty()) {
                sets = DerivedField::compute(DerivedFieldGrid::fromFlowData(*data), derived);
                for (const ScalarSet& set : sets)
                    pointers.append(&set);
            }
            if (!columns) {
                history.table.addColumn(QStringLiteral("step"));
                history.table.addColumn(QStringLiteral("time"));
                history.table.addColumn(QStringLiteral("x"), data->lengthUnit());
                history.table.addColumn(QStringLiteral("y"), data->lengthUnit());
                ProbeColumns::add(history.table, *data, pointers, false);
                for (const std::vector<double>& gap : pending)
                    history.table.appendRow(gap);
                columns = true;
            }
            const QPointF unit = FlowProbe::unitPosition(*data, x, y);
            // The frame keeps the grid: one position serves both data sets.
            const FlowProbe::Reading reading = FlowProbe::read(*moving, unit.x(), unit.y());
            history.outside = !reading.inside;
            row.push_back(x);
            row.push_back(y);
            ProbeColumns::append(row, reading,
                                 FlowProbe::readSets(*data, pointers, unit.x(), unit.y()), nullptr);
        } else if (reason.isEmpty()) {
            reason =
                QStringLiteral("step %1: not a rectilinear grid").arg(series.stepNumber(index));
        }
        history.stepIndices.push_back(index);
        history.reasons.append(data ? QString() : reason);
        if (columns)
            history.table.appendRow(row);
        else
            pending.push_back(row);
        framed.reset();
        loaded.reset();
        if (progress)
            progress(index - first + 1, total);
    }
    if (!columns) {
        // No step read: the columns that need no data set, and the gaps.
        history.table.addColumn(QStringLiteral("step"));
        history.table.addColumn(QStringLiteral("time"));
        for (const std::vector<double>& gap : pending)
            history.table.appendRow(gap);
    }
    return history;
}
