#include "tests/common/FakeFlowData.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
    void reports_data();
    void reports();
};

void TestVelmoraInfo::reports_data()
{
    QTest::addColumn<bool>("files");
    QTest::addColumn<QStringList>("arguments"); // "@" stands for the data name
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("stdoutLines");
    QTest::addColumn<QString>("stderrText");

    // A refusal prints the loader's reason; the reasons are tested with the loader.
    QTest::newRow("loads") << true << QStringList{"@.gri"} << 0
                           << QStringList{"resolution:        3 x 2 (6 points)",
                                          "speed range:       0 to 5", "scalar[1] range:   -7 to 0"}
                           << QString();
    QTest::newRow("no files") << false << QStringList{"@"} << 1 << QStringList()
                              << "opening geometry file failed";
}

void TestVelmoraInfo::reports()
{
    QFETCH(bool, files);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, stdoutLines);
    QFETCH(QString, stderrText);

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("flow"));
    if (files)
        QVERIFY(infoGrid().write(name));
    for (QString& argument : arguments)
        argument.replace(QLatin1Char('@'), name);

    QProcess info;
    info.start(QStringLiteral(VELMORA_INFO_PROGRAM), arguments);
    QVERIFY(info.waitForFinished(30000));
    QCOMPARE(info.exitStatus(), QProcess::NormalExit);
    QCOMPARE(info.exitCode(), exitCode);
    const QStringList lines = QString::fromUtf8(info.readAllStandardOutput()).split('\n');
    for (const QString& line : stdoutLines)
        QVERIFY2(lines.contains(line), qPrintable(line + " missing in\n" + lines.join('\n')));
    const QString errors = QString::fromUtf8(info.readAllStandardError());
    if (stderrText.isEmpty())
        QVERIFY2(errors.isEmpty(), qPrintable(errors));
    else
        QVERIFY2(errors.contains(stderrText), qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestVelmoraInfo)
#include "tst_velmorainfo.moc"
