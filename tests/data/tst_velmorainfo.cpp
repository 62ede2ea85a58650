#include "data/FlowProbe.h"
#include "tests/common/FakeFlowData.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

FlowFiles::Grid infoGrid()
{
    FlowFiles::Grid grid;
    grid.xs = {-1, 0, 2.5f};
    grid.ys = {3, 4};
    grid.vectors = {{3, 4, 0}, {0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, 2, 0}, {0, 0, 0}};
    grid.scalars = {{1, 2, 3, 4, 5, 6}, {0, 0, 0, 0, 0, -7}};
    grid.timeSteps = 24;
    grid.timeDifference = 3600;
    return grid;
}

} // namespace

class TestVelmoraInfo : public QObject
{
    Q_OBJECT

private slots:
    void reports();
    void convertResample();
};

void TestVelmoraInfo::reports()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("flow"));
    QProcess info;
    // A refusal prints the loader's reason; the reasons are tested with the loader.
    info.start(QStringLiteral(VELMORA_INFO_PROGRAM), {name});
    QVERIFY(info.waitForFinished(30000));
    QCOMPARE(info.exitCode(), 1);
    QVERIFY(info.readAllStandardError().contains("opening geometry file failed"));

    QVERIFY(infoGrid().write(name));
    info.start(QStringLiteral(VELMORA_INFO_PROGRAM), {name + QStringLiteral(".gri")});
    QVERIFY(info.waitForFinished(30000));
    QCOMPARE(info.exitStatus(), QProcess::NormalExit);
    QCOMPARE(info.exitCode(), 0);
    QCOMPARE(info.readAllStandardError(), QByteArray());
    const QStringList lines = QString::fromUtf8(info.readAllStandardOutput()).split('\n');
    for (const char* line : {"resolution:        3 x 2 (6 points)", "speed range:       0 to 5",
                             "scalar[1] range:   -7 to 0"})
        QVERIFY2(lines.contains(line), qPrintable(lines.join('\n')));

    // --derive appends the sets after the file's own, in the order given.
    const QString derived = dir.filePath(QStringLiteral("derived"));
    QCOMPARE(QProcess::execute(QStringLiteral(VELMORA_CONVERT_PROGRAM),
                               {name + QStringLiteral(".gri"), derived, QStringLiteral("--derive"),
                                QStringLiteral("divergence,vorticity")}),
             0);
    info.start(QStringLiteral(VELMORA_INFO_PROGRAM), {derived});
    QVERIFY(info.waitForFinished(30000));
    const QStringList again = QString::fromUtf8(info.readAllStandardOutput()).split('\n');
    for (const char* kind : {"divergence", "vorticity"}) {
        const QString line = lines.filter(QStringLiteral("derived %1:").arg(kind)).value(0);
        const QString range =
            line.section(QLatin1Char(':'), 1).section(QStringLiteral("  ("), 0, 0);
        const int at = kind[0] == 'd' ? 2 : 3;
        QVERIFY2(
            !range.trimmed().isEmpty() &&
                again.contains(QStringLiteral("scalar[%1] range:   ").arg(at) + range.trimmed()),
            qPrintable(line + '\n' + again.join('\n')));
    }
}

// The O-grid sample written as a rectilinear pair: the read-out of the pair
// at its grid points is that of the O-grid, the body is blank, and without
// --resample the tool refuses.
void TestVelmoraInfo::convertResample()
{
    const QString sample =
        qEnvironmentVariable("VELMORA_SOURCE_DIR") + QStringLiteral("/dat/cylinder_ogrid.vts");
    QTemporaryDir folder;
    const QString out = folder.filePath(QStringLiteral("resampled.gri"));
    QCOMPARE(QProcess::execute(QStringLiteral(VELMORA_CONVERT_PROGRAM), {sample, out}), 1);
    // The O-grid's derived sets are listed as a rectilinear grid's are.
    QProcess info;
    info.start(QStringLiteral(VELMORA_INFO_PROGRAM), {sample});
    QVERIFY(info.waitForFinished(30000));
    const QString report = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(report.contains(QStringLiteral("derived vorticity:         -")) &&
                 !report.contains(QStringLiteral("not computed")),
             qPrintable(report));
    QCOMPARE(
        QProcess::execute(QStringLiteral(VELMORA_CONVERT_PROGRAM),
                          {sample, out, QStringLiteral("--resample"), QStringLiteral("61x41")}),
        0);
    const std::unique_ptr<FlowData> curved(FlowData::fromFile(sample));
    const std::unique_ptr<FlowData> pair(FlowData::fromFile(out));
    QVERIFY(curved && pair && !pair->isCurvilinear());
    QCOMPARE(pair->resolutionXValue(), 61);
    QCOMPARE(pair->resolutionYValue(), 41);
    int blank = 0;
    const double speed = pair->largestSpeed();
    for (int r = 0; r < 41; ++r) {
        for (int c = 0; c < 61; ++c) {
            const Vector3 a = pair->vectorArray()[r * 61 + c];
            const FlowProbe::Reading b = FlowProbe::read(*curved, c / 60.0, r / 40.0);
            QCOMPARE(std::isnan(a.x), !b.inside || std::isnan(b.vx));
            blank += std::isnan(a.x);
            if (!std::isnan(a.x))
                QVERIFY(std::fabs(speed * a.x - b.vx) < 1e-4 * (1 + std::fabs(b.vx)) &&
                        std::fabs(speed * a.y - b.vy) < 1e-4 * (1 + std::fabs(b.vy)));
        }
    }
    QVERIFY(blank > 0 && std::isnan(pair->vectorArray()[20 * 61 + 30].x));
}

QTEST_GUILESS_MAIN(TestVelmoraInfo)
#include "tst_velmorainfo.moc"
