#include "data/DerivedFieldGrid.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"

#include <QProcess>
#include <QTest>

using Polyline = QList<QPointF>;

class TestVelmoraProbe : public QObject
{
    Q_OBJECT

private slots:
    void runs_data();
    void runs();
};

void TestVelmoraProbe::runs_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error"); // a part of standard error
    // What the output must equal: a profile of these vertices (with the
    // vorticity when `derived`) or, for one vertex, its history.
    QTest::addColumn<Polyline>("vertices");
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("derived");
    const QStringList wake{"--line", "3,-2,3,2", "--samples", "41"};
    QTest::newRow("line across the wake")
        << "vortex_street" << wake << 0 << QString() << Polyline{{3, -2}, {3, 2}} << 41 << false;
    QTest::newRow("polyline with vorticity")
        << "vortex_street" << QStringList{"--polyline", "1,0.7,4,-0.5,6,1", "--derive", "vorticity"}
        << 0 << QString() << Polyline{{1, 0.7}, {4, -0.5}, {6, 1}} << 101 << true;
    QTest::newRow("line leaving the grid")
        << "cavity" << QStringList{"--line", "0.5,0.5,1.5,0.5", "--samples", "5"} << 0
        << "2 of 5 samples lie outside the grid" << Polyline{{0.5, 0.5}, {1.5, 0.5}} << 5 << false;
    QTest::newRow("point in the eddy, steps 1 to 2")
        << "cavity" << QStringList{"--point", "0.41,0.63", "--frames", "1:2"} << 0 << QString()
        << Polyline{{0.41, 0.63}} << 0 << false;
    QTest::newRow("no such file") << "nothing" << wake << 1 << "nothing" << Polyline{} << 0
                                  << false;
    const QList<QStringList> refused{{"--line", "1,2,3"},
                                     {"--line", "1,2,3,x"},
                                     {"--polyline", "1,2,3,4,5"},
                                     {"--line", "1,1,1,1"},
                                     {"--line", "0,0,1,1", "--point", "0,0"},
                                     {"--line", "0,0,1,1", "--samples", "1"},
                                     {"--line", "0,0,1,1", "--frames", "0:3"},
                                     {"--point", "0,0", "--frames", "3:1"},
                                     {"--point", "0,0", "--derive", "vorticity,swirl"},
                                     {"--samples", "4"}};
    for (const QStringList& arguments : refused)
        QTest::newRow(qPrintable("refused: " + arguments.join(' ')))
            << "cavity" << arguments << 2 << "usage: velmora-probe" << Polyline{} << 0 << false;
}

// The CSV is the core's table, every number read back exactly; the header
// names the columns.
void TestVelmoraProbe::runs()
{
    QFETCH(QString, sample);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(Polyline, vertices);
    QFETCH(int, samples);
    QFETCH(bool, derived);
    const QString file = samplePath(sample);
    QProcess probe;
    probe.start(QStringLiteral(VELMORA_PROBE_PROGRAM), QStringList{file} + arguments);
    QVERIFY(probe.waitForFinished(60000));
    const QString errors = QString::fromUtf8(probe.readAllStandardError());
    QCOMPARE(probe.exitCode(), status);
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : errors.contains(error), qPrintable(errors));
    if (vertices.isEmpty())
        return;

    ExtractionTable expected;
    if (vertices.size() == 1) {
        const std::unique_ptr<FlowSeries> series(FlowSeries::open(file));
        QVERIFY(series);
        expected = PointHistory::read(*series, vertices[0].x(), vertices[0].y(), 1, 2).rows();
    } else {
        const std::unique_ptr<FlowData> data(FlowData::fromFile(file));
        const auto* grid = dynamic_cast<const RectangularFlowData*>(data.get());
        QVERIFY(grid);
        const QList<ScalarSet> sets =
            derived ? DerivedField::compute(DerivedFieldGrid::fromFlowData(*grid),
                                            {DerivedField::Vorticity})
                    : QList<ScalarSet>();
        const QList<const ScalarSet*> pointers =
            derived ? QList<const ScalarSet*>{&sets[0]} : QList<const ScalarSet*>();
        expected = LineProfile(*grid, vertices, samples, pointers).samples();
    }
    const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split('\n');
    QCOMPARE(lines.size(), expected.rowCount() + 2);
    QStringList headings;
    for (int c = 0; c < expected.columnCount(); ++c)
        headings << expected.heading(c);
    QCOMPARE(lines[0], headings.join(','));
    QVERIFY(lines[0].startsWith(vertices.size() == 1 ? "step,time,x,y,u,v,speed,Scalar 0"
                                                     : "s,x,y,u,v,speed,tangential,normal"));
    QVERIFY(!derived || lines[0].endsWith(",Vorticity"));
    for (int r = 0; r < expected.rowCount(); ++r) {
        const QStringList fields = lines[r + 1].split(',');
        QCOMPARE(fields.size(), expected.columnCount());
        for (int c = 0; c < expected.columnCount(); ++c) {
            const double want = expected.value(r, c);
            QVERIFY2(std::isnan(want) ? fields[c].isEmpty() : fields[c].toDouble() == want,
                     qPrintable(QStringLiteral("row %1: %2").arg(r).arg(lines[r + 1])));
        }
    }
}

QTEST_GUILESS_MAIN(TestVelmoraProbe)
#include "tst_velmoraprobe.moc"
