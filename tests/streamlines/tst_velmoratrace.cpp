#include "tests/common/FakeFlowData.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <utility>

// Runs the velmora-trace program on a data set written into a temporary folder.
class TestVelmoraTrace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir folder;
    QString dataSet;
};

void TestVelmoraTrace::initTestCase()
{
    // A 20 x 10 grid (aspect 2) of a shear flow along x.
    FlowFiles::Grid grid{FlowFiles::axis(20, 0, 19), FlowFiles::axis(10, 0, 9), {}, {}};
    grid.vectors = grid.sample([](float, float y) { return Vector3(1.0f + 0.1f * y, 0.2f, 0); });
    dataSet = folder.filePath("shear");
    QVERIFY(grid.write(dataSet));
    for (const auto& [name, text] : {std::pair{"seeds.csv", "x,y\n3, 4.5\n# the second\n10,2\n"},
                                     std::pair{"bad-seeds.csv", "x,y\n3,4\n\n3;4\n"}}) {
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
    }
}

void TestVelmoraTrace::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("toFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QString data = "DATA";
    QTest::newRow("start values to standard output") << QStringList{data} << false << 0 << "lines,";
    QTest::newRow("midpoint, dense, to a file")
        << QStringList{data, "--method", "midpoint", "--dsep", "0.01"} << true << 0 << "points,";
    QTest::newRow("missing data set")
        << QStringList{folder.filePath("absent")} << true << 1 << "absent";
    QTest::newRow("in the frame of the mean flow")
        << QStringList{data, "--subtract", "mean"} << true << 0 << "lines,";
    QTest::newRow("frame velocity not two numbers")
        << QStringList{data, "--subtract", "1;0"} << true << 2 << "--subtract";
    QTest::newRow("through seeds")
        << QStringList{data, "--seeds", folder.filePath("seeds.csv")} << true << 0 << "lines,";
    QTest::newRow("seed list with a bad line")
        << QStringList{data, "--seeds", folder.filePath("bad-seeds.csv")} << true << 2
        << "bad-seeds.csv: line 4:";
    QTest::newRow("unparsable dsep")
        << QStringList{data, "--dsep", "0.0x3"} << true << 2 << "--dsep";
    QTest::newRow("unwritable output")
        << QStringList{data, "-o", folder.filePath("no/such/folder.csv")} << false << 1
        << "folder.csv";
}

void TestVelmoraTrace::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, toFile);
    QFETCH(int, exitCode);
    QFETCH(QString, message);

    arguments.replaceInStrings("DATA", dataSet);
    const QString output = folder.filePath(QString("out-%1.csv").arg(QTest::currentDataTag()));
    if (toFile)
        arguments << "-o" << output;
    QProcess trace;
    trace.start(VELMORA_TRACE_PROGRAM, arguments);
    QVERIFY(trace.waitForFinished(60000));
    const QString errors = QString::fromUtf8(trace.readAllStandardError());
    QCOMPARE(trace.exitCode(), exitCode);
    QVERIFY2(errors.contains(message), qPrintable(errors));
    // The loader's chatter stays out of both streams.
    QVERIFY2(!errors.contains("FlowData/load"), qPrintable(errors));

    QByteArray csv = trace.readAllStandardOutput();
    if (toFile) {
        QCOMPARE(QFile::exists(output), exitCode == 0);
        QFile file(output);
        if (file.open(QIODevice::ReadOnly))
            csv = file.readAll();
    }
    if (exitCode != 0) {
        QVERIFY(csv.isEmpty());
        return;
    }

    const QList<QByteArray> rows = csv.trimmed().split('\n');
    QCOMPARE(rows.first(), QByteArray("line,x,y,magnitude,texture,taper"));
    QVERIFY(rows.size() > 100);
    int lastLine = 0;
    for (int r = 1; r < rows.size(); ++r) {
        const QList<QByteArray> fields = rows[r].split(',');
        QCOMPARE(fields.size(), 6);
        const int line = fields[0].toInt();
        QVERIFY(line >= lastLine);
        lastLine = line;
        const double x = fields[1].toDouble(), y = fields[2].toDouble();
        QVERIFY2(x >= 0.0 && x <= 1.0 && y >= 0.0 && y <= 0.5, rows[r].constData());
    }
    QVERIFY2(errors.contains(QString(", %1 points,").arg(rows.size() - 1)), qPrintable(errors));
}

QTEST_GUILESS_MAIN(TestVelmoraTrace)
#include "tst_velmoratrace.moc"
