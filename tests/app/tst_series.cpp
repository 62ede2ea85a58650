// A series as a user meets it: the cavity sample stepped and played in the
// main window, a NetCDF series whose velocity pair the user chose, and the
// cavity's frames rendered in batch, split over processes.

#include "tests/common/TestEnvironment.h"
#include "tests/transfer/MouseScript.h"

#include "app/Main.h"
#include "app/SeriesPlayer.h"
#include "app/shell/CollapseableWidget.h"
#include "app/TimeBar.h"
#include "app/VariableChoiceDialog.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "layers/LayerArrows.h"
#include "layers/LayerColorCoding.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <netcdf.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

QByteArray contents(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A NetCDF series of `steps` six-hourly steps on a 4 x 3 lon/lat grid with
// the variables named: a or uwnd is 1 + i at column i, b or vwnd 0.5, p is
// 10 t + k at point k of step t, lat_bnds the rows' bounds, as a reanalysis
// file holds them. No reader rule takes a and b, nor uwnd without vwnd.
bool writeFlow(const QString& path, int steps, const QList<QByteArray>& names)
{
    int id = 0, dims[4] = {}, axes[3] = {};
    bool ok = nc_create(path.toLocal8Bit().constData(), NC_CLOBBER, &id) == NC_NOERR &&
              nc_def_dim(id, "time", size_t(steps), &dims[0]) == NC_NOERR &&
              nc_def_dim(id, "lat", 3, &dims[1]) == NC_NOERR &&
              nc_def_dim(id, "lon", 4, &dims[2]) == NC_NOERR &&
              nc_def_dim(id, "nbnds", 2, &dims[3]) == NC_NOERR;
    const char* units = "hours since 2017-02-01 00:00:00";
    for (int d = 0; d < 3 && ok; ++d)
        ok = nc_def_var(id, std::array<const char*, 3>{"time", "lat", "lon"}[size_t(d)], NC_DOUBLE,
                        1, &dims[d], &axes[d]) == NC_NOERR;
    ok = ok && nc_put_att_text(id, axes[0], "units", strlen(units), units) == NC_NOERR;
    std::vector<int> vars(size_t(names.size()));
    for (int c = 0; c < names.size() && ok; ++c)
        ok = nc_def_var(id, names[c].constData(), NC_FLOAT, names[c] == "lat_bnds" ? 2 : 3,
                        names[c] == "lat_bnds" ? &dims[1] : dims, &vars[size_t(c)]) == NC_NOERR;
    ok = ok && nc_enddef(id) == NC_NOERR;
    const double axisValues[3][4] = {{0, 6, 12, 18}, {10, 20, 30}, {0, 2.5, 5, 7.5}};
    for (int d = 0; d < 3 && ok; ++d)
        ok = nc_put_var_double(id, axes[d], axisValues[d]) == NC_NOERR;
    for (int c = 0; c < names.size() && ok; ++c) {
        std::vector<float> values;
        for (int k = 0; k < steps * 12; ++k)
            values.push_back(names[c] == "p"                         ? float(10 * (k / 12) + k % 12)
                             : names[c] == "b" || names[c] == "vwnd" ? 0.5f
                                                                     : 1.0f + float(k % 4));
        ok = nc_put_var_float(id, vars[size_t(c)], values.data()) == NC_NOERR;
    }
    return nc_close(id) == NC_NOERR && ok;
}

} // namespace

class TestSeries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropDebugLines(); }
    void stepsKeepLayerSettings();
    void chosenPairHoldsForEveryStep_data();
    void chosenPairHoldsForEveryStep();
    void choiceCandidates_data();
    void choiceCandidates();
    void framesSplitOverProcesses();
};

void TestSeries::stepsKeepLayerSettings()
{
    Main window;
    window.resize(1100, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QVERIFY(window.loadFlowData(samplePath("cavity")));
    ViewPort& view = *window.viewPort();
    TimeBar& bar = *window.timeBar();
    QVERIFY(bar.isVisible());

    // Settings a user makes: another field and a transfer function on the
    // shown colour coding, the whole-series range, more arrows, zoom, pan.
    LayerColorCoding* colorCoding = view.layerStack().colorCodings().at(1);
    LayerArrows* arrows = view.layerStack().arrows().at(1);
    auto* contents = window.findChild<QWidget*>("scrollAreaWidgetContents");
    const QList<CollapseableWidget*> panels =
        contents->findChildren<CollapseableWidget*>(QString(), Qt::FindDirectChildrenOnly);
    panels.at(1)->findChild<QComboBox*>("scalarIndex")->setCurrentIndex(1);
    const TransferFunction function(QPolygonF{{0, 0}, {0.5, 1}, {1, 0.2}},
                                    {Qt::blue, Qt::yellow, Qt::red});
    colorCoding->setTransferFunction(function);
    colorCoding->setColorRange(LayerColorCoding::WholeSeries);
    panels.at(5)->findChild<QSlider*>("arrowQuantitySlider")->setValue(33);
    QVERIFY(view.setScale(1.3f));
    play(&view, {press(400, 300), move(430, 300), release(430, 300)});
    const double centerX = view.centerFractionX();
    QTRY_VERIFY_WITH_TIMEOUT(!bar.seriesRanges().isEmpty(), 30000);
    QVERIFY(view.layerStack().finishRendering(60000));
    const QImage first = view.renderImage();
    const QImage firstArrows = arrows->currentImage();

    // Page Down on the view shows step 1 in place of step 0.
    const FlowData* stepZero = window.currentFlowData();
    QSignalSpy stepped(&window, &Main::flowDataStepped);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_PageDown);
    QTRY_COMPARE_WITH_TIMEOUT(stepped.count(), 1, 10000);
    QCOMPARE(bar.player()->shownStep(), 1);
    QVERIFY(view.layerStack().finishRendering(60000));
    QVERIFY(window.currentFlowData() != stepZero);
    QVERIFY(view.renderImage() != first);
    QVERIFY(arrows->currentImage() != firstArrows);

    QCOMPARE(colorCoding->currentScalarIndex(), 1);
    QCOMPARE(colorCoding->transferFunction(), function);
    QCOMPARE(colorCoding->colorRange(), LayerColorCoding::WholeSeries);
    QCOMPARE(colorCoding->valueRange(), bar.seriesRanges().at(1));
    QCOMPARE(panels.at(5)->findChild<QSlider*>("arrowQuantitySlider")->value(), 33);
    QCOMPARE(arrows->currentImage().size(), view.imageSize());
    QCOMPARE(view.zoomScale(), 1.3f);
    QCOMPARE(view.centerFractionX(), centerX);

    // Space plays through the last step and round to the first.
    QList<int> shown;
    connect(bar.player(), &SeriesPlayer::showRequested, this,
            [&shown](int step) { shown.append(step); });
    QTest::keyClick(&view, Qt::Key_Space);
    QVERIFY(bar.player()->isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(shown.contains(0), 20000);
    QTest::keyClick(&view, Qt::Key_Space);
    QVERIFY(!bar.player()->isPlaying());
    QCOMPARE(shown.mid(0, shown.indexOf(0) + 1), (QList<int>{2, 3, 0}));
}

void TestSeries::chosenPairHoldsForEveryStep_data()
{
    // u is the first variable, v the second or that of a second file.
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QList<QByteArray>>("otherNames");
    QTest::newRow("one file") << QList<QByteArray>{"a", "b", "p"} << QList<QByteArray>{};
    QTest::newRow("u and v in two files")
        << QList<QByteArray>{"uwnd", "p", "lat_bnds"} << QList<QByteArray>{"vwnd"};
}

void TestSeries::chosenPairHoldsForEveryStep()
{
    QFETCH(QList<QByteArray>, names);
    QFETCH(QList<QByteArray>, otherNames);
    const QString u = names[0];
    const QString v = otherNames.value(0, names[1]);
    QTemporaryDir dir;
    const QString file = dir.filePath("flow.nc");
    const QString other = dir.filePath("other.nc");
    QVERIFY(writeFlow(file, 4, names));
    QVERIFY(otherNames.isEmpty() || writeFlow(other, 4, otherNames));
    // The rules find no pair, so nothing is chosen: the user picks u, then v
    // (from the other file when there is one).
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<VariableChoiceDialog*>(widget)) {
                const QList<QComboBox*> boxes = dialog->findChildren<QComboBox*>();
                boxes.at(0)->setCurrentText(u);
                emit boxes.at(0)->activated(boxes.at(0)->currentIndex());
                if (!otherNames.isEmpty()) {
                    boxes.at(1)->setCurrentIndex(boxes.at(1)->count() - 1);
                    emit boxes.at(1)->activated(boxes.at(1)->currentIndex());
                }
                boxes.at(1)->setCurrentText(v);
                dialog->accept();
            }
    });
    answer.start(20);
    Main window;
    window.setFileNameAsker(
        [&](const QString&, const QString&, const QString&, bool) { return other; });
    QVERIFY(window.loadFlowData(file));
    answer.stop();
    TimeBar& bar = *window.timeBar();
    QCOMPARE(bar.series()->stepCount(), 4);

    QSignalSpy stepped(&window, &Main::flowDataStepped);
    bar.player()->next();
    QTRY_COMPARE_WITH_TIMEOUT(stepped.count(), 1, 10000);
    QCOMPARE(window.currentFlowData()->scalarSets().at(0).minimum, 10.0f);
    const QLabel* label = bar.findChild<QLabel*>();
    QCOMPARE(label->text(), "step 1  2017-02-01 06:00");

    // A step that no longer reads is marked on the bar over the picture of
    // the step before, which stays.
    QVERIFY(QFile::remove(file));
    bar.player()->last();
    QTRY_VERIFY2_WITH_TIMEOUT(label->text().endsWith("(missing)"), qPrintable(label->text()),
                              10000);
    QCOMPARE(stepped.count(), 1);
}

void TestSeries::choiceCandidates_data()
{
    QTest::addColumn<QStringList>("grids");
    QTest::addColumn<QString>("u");
    QTest::addColumn<QStringList>("vItems");
    const QStringList ncep{"144 x 73", "144 x 73", "2 x 73"};
    QTest::newRow("bounds on another grid left out")
        << ncep << "uwnd" << QStringList{"uwnd", "vwnd", "another file…"};
    QTest::newRow("no u yet: every candidate")
        << ncep << "" << QStringList{"uwnd", "vwnd", "lat_bnds", "another file…"};
    QTest::newRow("u on the bounds' grid")
        << ncep << "lat_bnds" << QStringList{"lat_bnds", "another file…"};
    QTest::newRow("one grid for all (columns)")
        << QStringList{} << "uwnd" << QStringList{"uwnd", "vwnd", "lat_bnds"};
}

void TestSeries::choiceCandidates()
{
    QFETCH(QStringList, grids);
    QFETCH(QString, u);
    QFETCH(QStringList, vItems);
    ReadFailure offer;
    offer.candidates = {"uwnd", "vwnd", "lat_bnds"};
    offer.candidateGrids = grids;
    offer.readsOtherFiles = !grids.isEmpty(); // as NetCDF; column text neither
    VariableChoiceDialog dialog(offer);
    QComboBox* uBox = dialog.findChildren<QComboBox*>().at(0);
    uBox->setCurrentText(u);
    emit uBox->activated(uBox->currentIndex());
    QStringList items;
    for (int k = 0; k < dialog.findChildren<QComboBox*>().at(1)->count(); ++k)
        items << dialog.findChildren<QComboBox*>().at(1)->itemText(k);
    QCOMPARE(items, vItems);
}

void TestSeries::framesSplitOverProcesses()
{
    QTemporaryDir dir;
    auto render = [&](const QString& output, const QStringList& options) {
        auto* process = new QProcess(this);
        process->start(VELMORA_RENDER_PROGRAM,
                       QStringList{samplePath("cavity"), dir.filePath(output)} + options);
        return process;
    };
    const QStringList seriesRange{"--range", "series", "--background", "black"};
    for (const char* folder : {"whole", "split", "step"})
        QVERIFY(QDir(dir.path()).mkpath(folder));
    QProcess* whole = render("whole/f.png", QStringList{"--frames", "all"} + seriesRange);
    // Two disjoint ranges at the same time, as two jobs of an array would.
    QProcess* low = render("split/f.png", QStringList{"--frames", "0:1"} + seriesRange);
    QProcess* high = render("split/f.png", QStringList{"--frames", "2:3"} + seriesRange);
    QProcess* single = render("single.png", {"--background", "black"});
    for (QProcess* process : {whole, low, high, single}) {
        QVERIFY(process->waitForFinished(120000));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
    }
    for (int k = 0; k < 4; ++k) {
        const QString name = QString("f.%1.png").arg(k, 5, 10, QChar('0'));
        const QByteArray frame = contents(dir.filePath("whole/" + name));
        QVERIFY2(!frame.isEmpty(), qPrintable(name));
        QVERIFY2(frame == contents(dir.filePath("split/" + name)), qPrintable(name));
    }
    QCOMPARE(QDir(dir.filePath("split")).entryList(QDir::Files).size(), 4);
    // Per step, frame 0 equals a single render of the data set.
    QProcess* perStep = render("step/f.png", {"--frames", "0:0", "--background", "black"});
    QVERIFY(perStep->waitForFinished(120000));
    QCOMPARE(perStep->exitCode(), 0);
    QCOMPARE(contents(dir.filePath("step/f.00000.png")), contents(dir.filePath("single.png")));
}

QTEST_MAIN(TestSeries)
#include "tst_series.moc"
