// The format table on its own: which format a file's first bytes and name
// choose (signatures before suffixes before the native pair's name rule
// before the guesses on text), and what a refused read hands back.

#include "formats/FlowFileReader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFileFormats : public QObject
{
    Q_OBJECT

private slots:
    void chosenFormat_data();
    void chosenFormat();
    void failureOffersCandidates();
    void dialogFilters();

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
                     "*.vtk *.vti *.vtr *.mat)",
                     "Velmora pair (*.gri *.dat)", "NetCDF (*.nc *.nc4 *.cdf)",
                     "Column text (*.txt *.csv *.tsv *.dat)", "Tecplot ASCII (*.dat *.plt *.tec)",
                     "VTK legacy (*.vtk)", "VTK XML image or rectilinear grid (*.vti *.vtr)",
                     "MATLAB (*.mat)", "All files (*)"}));
}

QTEST_GUILESS_MAIN(TestFileFormats)
#include "tst_fileformats.moc"
