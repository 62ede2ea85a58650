// The format table on its own: which format a file's first bytes and name
// choose (signatures before suffixes before the native pair's name rule
// before the guesses on text), what a refused read hands back, the dates
// of CF time coordinates, computed by hand, and the text readers' numbers
// against the C library's strtod.

#include "formats/CfTime.h"
#include "formats/FlowFileReader.h"
#include "formats/TextScanner.h"
#include "formats/VelocityPair.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdlib>
#include <cstring>

class TestFileFormats : public QObject
{
    Q_OBJECT

private slots:
    void chosenFormat_data();
    void chosenFormat();
    void failureOffersCandidates();
    void dialogFilters();
    void cfTime_data();
    void cfTime();
    void onlyComponent_data();
    void onlyComponent();
    void otherFileVariable_data();
    void otherFileVariable();
    void numbers_data();
    void numbers();

private:
    QTemporaryDir folder;
};

void TestFileFormats::chosenFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("withGeometry");
    QTest::addColumn<QString>("format");
    const QByteArray columns = "x y u v\n0 0 1 1\n";
    auto row = [](const char* what, const char* name, const QByteArray& content, bool geometry,
                  const char* format) {
        QTest::newRow(what) << QString::fromLatin1(name) << content << geometry
                            << QString::fromLatin1(format);
    };
    row("NetCDF signature beats .gri", "a.gri", QByteArray("CDF\x01\0\0\0\0", 8), false, "NetCDF");
    row("HDF5 signature in .dat", "b.dat", "\x89HDF\r\n\x1a\n", false, "NetCDF");
    row("VTK legacy signature in .txt", "c.txt", "  # vtk DataFile Version 3.0\n", false,
        "VTK legacy");
    row("XML signature in .vtk", "d.vtk", "<?xml version=\"1.0\"?>", false, "VTK XML");
    row(".nc beats an existing .gri", "e.nc", columns, true, "NetCDF");
    row(".vtr suffix", "f.vtr", columns, false, "VTK XML");
    row("collection in .xml", "f.xml", "<?xml version=\"1.0\"?>\n<VTKFile type=\"Collection\">",
        false, "ParaView collection");
    row(".gri suffix", "g.gri", columns, false, "native pair");
    row(".dat beside its .gri", "h.dat", columns, true, "native pair");
    row("any suffix beside a .gri", "i.csv", columns, true, "native pair");
    row("missing file", "j.dat", QByteArray(), false, "native pair");
    row("binary .dat without .gri", "k.dat", QByteArray("\x01\x02\0\0", 4), false, "native pair");
    row(".csv starting with VARIABLES", "l.csv", "# c\nVARIABLES = x y u v\n", false,
        "Tecplot ASCII");
    row(".plt of numbers", "m.plt", columns, false, "Tecplot ASCII");
    row("keyword only as a prefix", "n.txt", "ZONES x y u v\n", false, "column text");
    row(".dat without .gri", "o.dat", columns, false, "column text");
    row("MAT-file header in .dat", "p.dat",
        QByteArray("MATLAB 5.0 MAT-file").leftJustified(124, ' ') + QByteArray("\0\x01IM", 4),
        false, "MAT-file");
}

void TestFileFormats::chosenFormat()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, withGeometry);
    QFETCH(QString, format);
    const QString path = folder.filePath(name);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    if (withGeometry) {
        QFile geometry(path.left(path.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".gri"));
        QVERIFY(geometry.open(QIODevice::WriteOnly));
    }
    QCOMPARE(FlowFileReader::formatOf(path).name(), format);
}

// The variable dialog asks from the failure alone, without a second read.
void TestFileFormats::failureOffersCandidates()
{
    const QString path = folder.filePath(QStringLiteral("choice.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("x y u v vx\n0 0 1 1 1\n1 1 1 1 1\n");
    file.close();
    FlowRecord record;
    ReadFailure failure;
    QVERIFY(!FlowFileReader::read(path, LoadOptions(), record, &failure));
    QVERIFY(failure.reason.startsWith(QStringLiteral("column text: more than one column")));
    QVERIFY(failure.offersChoice());
    QCOMPARE(failure.candidates, QStringList({"x", "y", "u", "v", "vx"}));
}

void TestFileFormats::dialogFilters()
{
    QCOMPARE(
        FlowFileReader::fileDialogFilters(),
        QStringList({"Flow data (*.gri *.dat *.nc *.nc4 *.cdf *.txt *.csv *.tsv *.plt *.tec "
                     "*.vtk *.pvd *.vti *.vtr *.vts *.mat)",
                     "Velmora pair (*.gri *.dat)", "NetCDF (*.nc *.nc4 *.cdf)",
                     "Column text (*.txt *.csv *.tsv *.dat)", "Tecplot ASCII (*.dat *.plt *.tec)",
                     "VTK legacy (*.vtk)", "ParaView collection (*.pvd)",
                     "VTK XML image, rectilinear or structured grid (*.vti *.vtr *.vts)",
                     "MATLAB (*.mat)", "All files (*)"}));
}

void TestFileFormats::cfTime_data()
{
    QTest::addColumn<QString>("units");
    QTest::addColumn<QString>("calendar");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    auto row = [](const char* what, const char* units, const char* calendar, double value,
                  const char* text) {
        QTest::newRow(what) << QString::fromLatin1(units) << QString::fromLatin1(calendar) << value
                            << QString::fromLatin1(text);
    };
    // 2017-02-01 00:00 is 17198 days after 1970-01-01; step 31 of hourly steps.
    row("ocean model, step 31", "seconds since 1970-01-01", "", 1486018800, "2017-02-02 07:00");
    row("hr, Z zone", "hr since 2017-02-01 00:00:00Z", "gregorian", 31, "2017-02-02 07:00");
    row("fractional days", "d since 2017-02-01", "standard", 31.0 / 24, "2017-02-02 07:00");
    row("T and an east zone", "min since 2017-02-01T06:30+06:30", "", 1, "2017-02-01 00:01");
    row("seconds shown", "s since 2017-02-01 12:00", "", 61.25, "2017-02-01 12:01:01.25");
    row("negative offset, leap day", "hours since 2000-03-01", "", -24, "2000-02-29 00:00");
    // 0001-01-01 Julian to 1948-01-01: 711128 days; proleptically two days fewer.
    row("Julian before 1582", "hours since 1-1-1 00:00:0.0", "", 17067072, "1948-01-01 00:00");
    row("proleptic Gregorian", "hours since 1-1-1 00:00:0.0", "proleptic_gregorian", 17067072,
        "1948-01-03 00:00");
    row("Gregorian reform", "days since 1582-10-04", "standard", 1, "1582-10-15 00:00");
    row("standard 2000 leap", "days since 2000-01-01", "", 59, "2000-02-29 00:00");
    row("noleap", "days since 2000-01-01", "noleap", 59, "2000-03-01 00:00");
    row("365_day back a year", "days since 2001-01-01", "365_day", -365, "2000-01-01 00:00");
    row("all_leap", "days since 2001-01-01", "all_leap", 59, "2001-02-29 00:00");
    row("366_day year", "days since 2001-01-01", "366_day", 366, "2002-01-01 00:00");
    row("julian 1900 leap", "days since 1900-02-28", "julian", 1, "1900-02-29 00:00");
    row("360_day month 30", "days since 2000-01-01", "360_day", 59, "2000-02-30 00:00");
    row("360_day back", "days since 2000-01-01", "360_day", -1.5, "1999-12-29 12:00");
    row("no reference date", "seconds", "", 111600, "111600 seconds");
    row("months have no length", "months since 2000-01-01", "", 3, "3 months since 2000-01-01");
    row("unknown calendar", "days since 2000-01-01", "julian_day", 3, "3 days since 2000-01-01");
}

void TestFileFormats::cfTime()
{
    QFETCH(QString, units);
    QFETCH(QString, calendar);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(CfTime(units, calendar).text(value), text);
}

// The one x component among a file's variables: -1 for none, -2 for more
// than one, wherever they stand.
void TestFileFormats::onlyComponent_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("skip");
    QTest::addColumn<int>("found");
    QTest::newRow("none") << QStringList{"p", "T"} << -1 << -1;
    QTest::newRow("first") << QStringList{"U", "p"} << -1 << 0;
    QTest::newRow("first and last") << QStringList{"u", "p", "Vx"} << -1 << -2;
    QTest::newRow("the first skipped") << QStringList{"u", "p", "Vx"} << 0 << 2;
}

void TestFileFormats::onlyComponent()
{
    QFETCH(QStringList, names);
    QFETCH(int, skip);
    QFETCH(int, found);
    QCOMPARE(VelocityPair::findOnly(names, VelocityPair::isXComponent, skip), found);
}

void TestFileFormats::otherFileVariable_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("variable");
    QTest::newRow("variable only") << "uwnd"
                                   << ""
                                   << "uwnd";
    QTest::newRow("file and variable") << "vwnd.2017.nc:vwnd"
                                       << "vwnd.2017.nc"
                                       << "vwnd";
    QTest::newRow("colon in the path") << "C:/wind/v.nc:v"
                                       << "C:/wind/v.nc"
                                       << "v";
    QTest::newRow("nothing after the colon") << "v.nc:"
                                             << ""
                                             << "v.nc:";
}

void TestFileFormats::otherFileVariable()
{
    QFETCH(QString, option);
    QFETCH(QString, file);
    QFETCH(QString, variable);
    QString splitFile;
    QString splitVariable;
    VelocityPair::splitVariable(option, &splitFile, &splitVariable);
    QCOMPARE(splitFile, file);
    QCOMPARE(splitVariable, variable);
}

void TestFileFormats::numbers_data()
{
    QTest::addColumn<QList<QByteArray>>("texts");
    const auto row = [](const char* name, const QList<QByteArray>& texts) {
        QTest::newRow(name) << texts;
    };
    row("short decimals", {"0", "-0", "0.1", "-0.75", ".5", "5.", "-.5e+1", "4.35", "1.5E-3",
                           "123456789012345678", "9007199254740992", "9007199254740993", "1e22",
                           "1e23", "3.14159265358979323846", "1e-22", "1e-23"});
    row("beyond the short form",
        {"1.7976931348623157e308", "4.9e-324", "1e400", "-1e-400", "0.0000000000000000000000001",
         "1.5D3", "-2.5d-2", "1.0D400", "-1d-400", "nan", "-inf", "+7", "18446744073709551617"});
    row("not numbers", {"", "-", ".", "e5", "1e", "1e+", "1.5x", "0x10", "1..5", "--1", "1 2",
                        "1e400x", "-1e-400.5", "1.5D3x"});
    // Random decimals of 1 to 19 digits, the point anywhere, exponents either
    // side of the exact powers of ten.
    QRandomGenerator random(29);
    QList<QByteArray> sweep;
    for (int n = 0; n < 20000; ++n) {
        QByteArray text = random.bounded(2) ? "-" : "";
        const int digits = 1 + int(random.bounded(19));
        const int point = int(random.bounded(digits + 1));
        for (int d = 0; d < digits; ++d)
            text += (d == point ? "." : "") + QByteArray::number(int(random.bounded(10)));
        if (random.bounded(2))
            text += "e" + QByteArray::number(int(random.bounded(61)) - 30);
        sweep.append(text);
    }
    row("random decimals", sweep);
}

// Every text reader goes through parseNumber: a value must be strtod's to
// the bit, and a text strtod does not read whole must be refused.
void TestFileFormats::numbers()
{
    QFETCH(QList<QByteArray>, texts);
    std::setlocale(LC_NUMERIC, "C");
    for (const QByteArray& text : texts) {
        QByteArray spelled = text;
        spelled.replace('d', 'e').replace('D', 'e');
        const char* begin = spelled.constData();
        char* stop = nullptr;
        const double expected = std::strtod(begin, &stop);
        const bool whole = !spelled.isEmpty() && stop == begin + spelled.size() &&
                           !spelled.startsWith("0x") && !std::isspace(uchar(spelled[0]));
        double value = 0.0;
        const bool parsed =
            TextScanner::parseNumber(text.constData(), text.constData() + text.size(), &value);
        QVERIFY2(parsed == whole, text.constData());
        if (whole && !std::isnan(expected))
            QVERIFY2(std::memcmp(&value, &expected, sizeof value) == 0, text.constData());
    }
}

QTEST_GUILESS_MAIN(TestFileFormats)
#include "tst_fileformats.moc"
