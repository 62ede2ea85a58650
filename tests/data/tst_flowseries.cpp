#include "data/FlowData.h"
#include "data/FlowDataWriter.h"
#include "data/FlowSeries.h"
#include "tests/common/FakeFlowData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const float timeDifference = 0.5f;

// Grid A: 3 x 2 points. Step K has the vector (K + 1, 0, 0) everywhere but
// at the last point, where it is twice that, and the scalar p * (K + 1) - K
// at point p: extremes -K and 5 + 4K, largest speed 2 (K + 1).
FlowDataWriter stepWriter(int k, bool otherPositions = false, bool otherResolution = false)
{
    FlowDataWriter writer;
    const QList<float> xs = otherResolution ? QList<float>{0, 1, 2, 3} : QList<float>{0, 1, 2};
    const QList<float> ys = otherPositions ? QList<float>{0, 2} : QList<float>{0, 1};
    writer.setGrid(xs, ys);
    const int points = int(xs.size() * ys.size());
    QList<Vector3> vectors(points, Vector3(float(k + 1), 0, 0));
    vectors.last() = Vector3(float(2 * (k + 1)), 0, 0);
    QList<float> scalar;
    for (int p = 0; p < points; ++p)
        scalar.append(float(p * (k + 1) - k));
    writer.setVectors(vectors);
    writer.addScalarSet(scalar);
    writer.setTimeInformation(4, timeDifference);
    return writer;
}

QString numbered(const QString& name, int k, const char* extension)
{
    return name + QStringLiteral(".%1").arg(k, 5, 10, QLatin1Char('0')) + QLatin1String(extension);
}

// Step K as a VTK legacy file.
QByteArray vtkStep(int k)
{
    QByteArray out = "# vtk DataFile Version 3.0\nstep\nASCII\nDATASET STRUCTURED_POINTS\n"
                     "DIMENSIONS 3 2 1\nORIGIN 0 0 0\nSPACING 1 1 1\nPOINT_DATA 6\n"
                     "VECTORS velocity float\n";
    for (int p = 0; p < 6; ++p)
        out += QByteArray::number((p == 5 ? 2 : 1) * (k + 1)) + " 0 0\n";
    out += "SCALARS s float 1\nLOOKUP_TABLE default\n";
    for (int p = 0; p < 6; ++p)
        out += QByteArray::number(p * (k + 1) - k) + "\n";
    return out;
}

// Tokens: g shared NAME.gri; gK / hK (other positions) / rK (other
// resolution, with its data) NAME.0000K.gri; dK NAME.0000K.dat; cK a
// truncated NAME.0000K.dat; n NAME.dat; vK step K as NAME_K.vtk; pK,L,...
// NAME.pvd listing NAME_K.vtk, NAME_L.vtk at times K / 2, L / 2. dK=J writes
// step K with the values of step J.
bool writeFiles(const QString& name, const QString& tokens)
{
    for (const QString& token : tokens.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QChar kind = token[0];
        const int k = token.mid(1).section(QLatin1Char('='), 0, 0).toInt();
        const int values =
            token.contains(QLatin1Char('=')) ? token.section(QLatin1Char('='), 1).toInt() : k;
        bool ok = false;
        if (token == QLatin1String("g"))
            ok = stepWriter(0).writeGeometry(name + QStringLiteral(".gri"));
        else if (token == QLatin1String("n"))
            ok = stepWriter(0).writeData(name + QStringLiteral(".dat"));
        else if (kind == QLatin1Char('g') || kind == QLatin1Char('h'))
            ok = stepWriter(k, kind == QLatin1Char('h')).writeGeometry(numbered(name, k, ".gri"));
        else if (kind == QLatin1Char('r'))
            ok = stepWriter(k, false, true).write(FlowData::dataName(numbered(name, k, ".dat")));
        else if (kind == QLatin1Char('d'))
            ok = stepWriter(values).writeData(numbered(name, k, ".dat"));
        else if (kind == QLatin1Char('v'))
            ok = FlowFiles::writeBytes(name + QStringLiteral("_%1.vtk").arg(k), vtkStep(k));
        else if (kind == QLatin1Char('p')) {
            QByteArray pvd = "<VTKFile type=\"Collection\"><Collection>\n";
            for (const QString& entry : token.mid(1).split(QLatin1Char(',')))
                pvd += QStringLiteral("<DataSet timestep=\"%1\" part=\"0\" file=\"flow_%2.vtk\"/>"
                                      "<DataSet timestep=\"%1\" part=\"1\" file=\"none\"/>\n")
                           .arg(entry.toInt() * 0.5)
                           .arg(entry)
                           .toLatin1();
            ok = FlowFiles::writeBytes(name + ".pvd", pvd + "</Collection></VTKFile>\n");
        } else if (kind == QLatin1Char('c'))
            ok = FlowFiles::writeBytes(numbered(name, k, ".dat"), QByteArray(20, '\0'));
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

class TestFlowSeries : public QObject
{
    Q_OBJECT

private slots:
    void findsSteps_data();
    void findsSteps();
    void seriesRanges_data();
    void seriesRanges();
};

void TestFlowSeries::findsSteps_data()
{
    QTest::addColumn<QString>("files");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("chosenIndex");
    QTest::addColumn<QString>("numbers");
    // Each step's state once it was loaded: Present, Missing or Refused.
    QTest::addColumn<QString>("states");

    auto row = [](const char* name, const char* files, const char* chosen, int count,
                  int chosenIndex, const char* numbers, const char* states) {
        QTest::newRow(name) << files << chosen << count << chosenIndex << numbers << states;
    };
    row("shared geometry", "g d0 d1 d2", ".gri", 3, 0, "0 1 2", "PPP");
    row("geometry per step", "g0 d0 g1 d1", ".00000.gri", 2, 0, "0 1", "PP");
    row("later step chosen", "g0 d0 g1 d1 g2 d2", ".00002.dat", 3, 2, "0 1 2", "PPP");
    row("gap", "g d0 d1 d3", ".gri", 4, 0, "0 1 2 3", "PPMP");
    row("corrupt step", "g d0 c1 d2", ".gri", 3, 0, "0 1 2", "PRP");
    row("corrupt first step", "g c0 d1 d2", ".gri", 3, 0, "0 1 2", "RPP");
    row("other resolution", "g d0 r1 d2", ".gri", 3, 0, "0 1 2", "PRP");
    row("other positions", "g d0 h1 d1", ".gri", 2, 0, "0 1", "PR");
    row("no geometry for a step", "g0 d0 d1", ".00000.dat", 2, 0, "0 1", "PM");
    row("numbers start above zero", "g d3 d4", ".gri", 2, 0, "3 4", "PP");
    row("own data file is a single set", "g n d0 d1", ".gri", 1, 0, "0", "P");
    row("numbered VTK, numeric order", "v10 v3 v1", "_3.vtk", 3, 1, "1 3 10", "PPP");
    row("collection, part 0", "v0 v1 v2 p0,1,2", ".pvd", 3, 0, "0 1 2", "PPP");
    row("collection entry missing", "v0 v2 p0,1,2", ".pvd", 3, 0, "0 1 2", "PMP");
}

void TestFlowSeries::findsSteps()
{
    QFETCH(QString, files);
    QFETCH(QString, chosen);
    QFETCH(int, count);
    QFETCH(int, chosenIndex);
    QFETCH(QString, numbers);
    QFETCH(QString, states);

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("flow"));
    QVERIFY(writeFiles(name, files));
    QString reason;
    std::unique_ptr<FlowSeries> series(FlowSeries::open(name + chosen, LoadOptions(), &reason));
    QVERIFY2(series, qPrintable(reason));
    QCOMPARE(series->stepCount(), count);
    QCOMPARE(series->chosenIndex(), chosenIndex);

    for (int k = 0; k < count; ++k) {
        const int number = numbers.split(QLatin1Char(' ')).at(k).toInt();
        QCOMPARE(series->stepNumber(k), number);
        // VTK files carry no time; a collection's times are those of the native steps.
        QCOMPARE(series->stepTime(k),
                 chosen.endsWith(".vtk") ? 0.0 : number * double(timeDifference));
        std::unique_ptr<FlowData> step(series->loadStep(k, &reason));
        QCOMPARE(bool(step), states[k] == QLatin1Char('P'));
        if (step) {
            // Each step is its own data set with its own extremes.
            QCOMPARE(step->scalarSets()[0].minimum, float(-number));
            QCOMPARE(step->scalarSets()[0].maximum, float(5 + 4 * number));
        } else {
            QVERIFY(!series->stepReason(k).isEmpty());
            QVERIFY(!series->isPlayable(k));
        }
        QCOMPARE(QLatin1Char("UPMR"[series->stepState(k)]), states[k]);
    }
}

void TestFlowSeries::seriesRanges_data()
{
    QTest::addColumn<QString>("files");
    QTest::addColumn<double>("scalarMinimum");
    QTest::addColumn<double>("scalarMaximum");
    QTest::addColumn<double>("speedMaximum");
    // Progress answers "stop" after this many steps; 0: never.
    QTest::addColumn<int>("cancelAfter");

    QTest::newRow("three steps") << "g d0 d1 d2" << -2.0 << 13.0 << 6.0 << 0;
    QTest::newRow("corrupt and missing steps left out") << "g d0 c1 d3" << -3.0 << 17.0 << 8.0 << 0;
    QTest::newRow("extremes in an earlier step") << "g d0=3 d1" << -3.0 << 17.0 << 8.0 << 0;
    QTest::newRow("one step") << "g d2" << -2.0 << 13.0 << 6.0 << 0;
    QTest::newRow("cancelled") << "g d0 d1 d2" << 0.0 << 0.0 << 0.0 << 2;
}

void TestFlowSeries::seriesRanges()
{
    QFETCH(QString, files);
    QFETCH(double, scalarMinimum);
    QFETCH(double, scalarMaximum);
    QFETCH(double, speedMaximum);
    QFETCH(int, cancelAfter);

    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("flow"));
    QVERIFY(writeFiles(name, files));
    std::unique_ptr<FlowSeries> series(FlowSeries::open(name + QStringLiteral(".gri")));
    QVERIFY(series);
    int calls = 0;
    const QList<ValueRange> ranges = series->seriesRanges([&](int done, int total) {
        ++calls;
        return done == calls && total == series->stepCount() && calls != cancelAfter;
    });
    if (cancelAfter > 0) {
        QVERIFY(ranges.isEmpty());
        QCOMPARE(calls, cancelAfter);
        return;
    }
    QCOMPARE(calls, series->stepCount());
    QCOMPARE(ranges.size(), 2);
    QCOMPARE(ranges[0], (ValueRange{scalarMinimum, scalarMaximum}));
    QCOMPARE(ranges[1], (ValueRange{0.0, speedMaximum}));
}

QTEST_GUILESS_MAIN(TestFlowSeries)
#include "tst_flowseries.moc"
