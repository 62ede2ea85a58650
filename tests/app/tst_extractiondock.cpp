// Profiles and point series as a user makes them: a Ctrl+drag in the view
// over the cavity series, a Ctrl+click, a step; the dock's plots against the
// extraction core on the same line and point.

#include "tests/common/TestEnvironment.h"
#include "tests/transfer/MouseScript.h"

#include "app/ExtractionDock.h"
#include "app/ExtractionPanel.h"
#include "app/Main.h"
#include "app/PlotWidget.h"
#include "app/SeriesPlayer.h"
#include "app/TimeBar.h"
#include "app/ViewPort.h"
#include "data/FlowProbe.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"
#include "data/RectangularFlowData.h"

#include <QSignalSpy>
#include <QTest>

class TestExtraction : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropDebugLines(); }
    void lineAndPointInTheView();
};

namespace {

// The plot's series are the table's columns from u on, sample for sample.
void comparePlot(const ExtractionPanel& panel, const ExtractionTable& expected, int xColumn,
                 int firstPlotted)
{
    const QList<SeriesPlot::Series>& series = panel.plotWidget()->plot().series();
    QCOMPARE(series.size(), expected.columnCount() - firstPlotted);
    for (int k = 0; k < series.size(); ++k) {
        const ExtractionTable::Column& column = expected.column(firstPlotted + k);
        QCOMPARE(series.at(k).name, column.name);
        QCOMPARE(series.at(k).x, expected.values(xColumn));
        for (size_t i = 0; i < column.values.size(); ++i)
            QVERIFY2(series.at(k).y[i] == column.values[i] ||
                         (std::isnan(series.at(k).y[i]) && std::isnan(column.values[i])),
                     qPrintable(QString("%1 sample %2").arg(column.name).arg(i)));
    }
}

} // namespace

void TestExtraction::lineAndPointInTheView()
{
    Main window;
    window.resize(1100, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFlowData(samplePath("cavity")));
    ViewPort& view = *window.viewPort();
    view.fitToScreen();
    ExtractionDock& dock = *window.extractionDock();

    // A plain drag pans and draws nothing.
    const double centerX = view.centerFractionX();
    play(&view, {press(300, 300), move(340, 300), release(340, 300)});
    QVERIFY(view.centerFractionX() != centerX);
    QVERIFY(view.profileLine().isEmpty());

    // A Ctrl+drag draws a line from press to release, through the eddy.
    const QPoint from(view.width() / 4, view.height() / 3);
    const QPoint to(view.width() * 3 / 4, view.height() * 2 / 3);
    QPointF start;
    QVERIFY(view.domainPosition(from, &start));
    play(&view,
         {press(from.x(), from.y()), move(from.x() + 20, from.y() + 5), move(to.x(), to.y()),
          release(to.x(), to.y())},
         {}, Qt::ControlModifier);
    QCOMPARE(view.profileLine().size(), 2);
    QVERIFY(QLineF(view.profileLine().first(), start).length() < 1e-9);
    QVERIFY(dock.isVisible());
    const auto* grid = dynamic_cast<const RectangularFlowData*>(window.currentFlowData());
    QVERIFY(grid);
    for (int k = 0; k < 2; ++k) {
        const QPointF unit = FlowProbe::unitPosition(*grid, dock.profileVertices().at(k).x(),
                                                     dock.profileVertices().at(k).y());
        QVERIFY(QLineF(unit, view.profileLine().at(k)).length() < 1e-6);
    }
    comparePlot(
        *dock.profilePanel(),
        LineProfile(*grid, dock.profileVertices(), ExtractionDock::defaultSamples).samples(),
        LineProfile::S, LineProfile::U);

    // A Ctrl+click pins a point; its history over the four steps is read.
    QSignalSpy read(&dock, &ExtractionDock::pointHistoryRead);
    play(&view, click(view.width() / 2, view.height() / 2), {}, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(read.count(), 1, 30000);
    QCOMPARE(view.profileLine().size(), 2);
    const FlowSeries& series = *window.timeBar()->series();
    const PointHistory history =
        PointHistory::read(series, dock.pointPosition().x(), dock.pointPosition().y(), 0, 3);
    QCOMPARE(history.rows().rowCount(), 4);
    comparePlot(*dock.pointPanel(), history.rows(), PointHistory::Time, PointHistory::U);
    QCOMPARE(dock.pointPanel()->plotWidget()->plot().markerPosition(), series.stepTime(0));

    // The next step: the profile follows it on the same line, the marker moves.
    QSignalSpy stepped(&window, &Main::flowDataStepped);
    window.timeBar()->player()->next();
    QTRY_COMPARE_WITH_TIMEOUT(stepped.count(), 1, 10000);
    grid = dynamic_cast<const RectangularFlowData*>(window.currentFlowData());
    comparePlot(
        *dock.profilePanel(),
        LineProfile(*grid, dock.profileVertices(), ExtractionDock::defaultSamples).samples(),
        LineProfile::S, LineProfile::U);
    QCOMPARE(dock.pointPanel()->plotWidget()->plot().markerPosition(), series.stepTime(1));
}

QTEST_MAIN(TestExtraction)
#include "tst_extractiondock.moc"
