#include "app/ExtractionDock.h"
#include "app/LayerStack.h"
#include "app/Main.h"
#include "app/SeriesPlayer.h"
#include "app/Session.h"
#include "app/SessionBinding.h"
#include "app/shell/CollapseableWidget.h"
#include "app/TimeBar.h"
#include "app/ViewPort.h"
#include "streamlines/LayerStreamlines.h"
#include "tests/common/FakeFlowData.h"
#include "tests/common/TestEnvironment.h"
#include "transfer/TransferFunctionWidget.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QGroupBox>
#include <QMimeData>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

template <class T> T* control(Main& window, int layer, const char* name)
{
    return window.findChildren<CollapseableWidget*>().at(layer)->findChild<T*>(name);
}

bool settle(Main& window)
{
    return window.viewPort()->layerStack().finishRendering(60000);
}

QByteArray capturedJson(Main& window)
{
    Session session;
    SessionBinding::capture(*window.viewPort(), &session);
    return session.toJson(QDir());
}

// Every kind of setting, changed as a user changes it.
void changeThroughForms(Main& window, bool flipped)
{
    auto panels = window.findChildren<CollapseableWidget*>();
    panels[0]->setChecked(true);
    panels[1]->setOpacityPercent(70);
    control<QComboBox>(window, 1, "scalarIndex")->setCurrentIndex(2);
    control<TransferFunctionWidget>(window, 1, "transferFunction")->applyColorMap("viridis");
    control<QCheckBox>(window, 1, "licTexture")->setChecked(true);
    control<QSpinBox>(window, 1, "licKernelLength")->setValue(14);
    control<QComboBox>(window, 1, "licContrast")->setCurrentIndex(2);
    control<QComboBox>(window, 1, "licCombine")->setCurrentIndex(1);
    control<QDoubleSpinBox>(window, 3, "streamlinesDsep")->setValue(0.05);
    control<QRadioButton>(window, 3, "streamlinesRungeKuttaRadioButton")->click();
    control<QGroupBox>(window, 3, "streamlinesGlyphGroupBox")->setChecked(true);
    control<QSlider>(window, 3, "streamlinesGlyphSizeSlider")->setValue(120);
    control<QSlider>(window, 3, "streamlinesWidthSlider")->setValue(20);
    control<TransferFunctionWidget>(window, 3, "transferFunction")
        ->setTransferFunction(TransferFunction(QPolygonF{{0, 1}, {0.4, 0.2}, {1, 0}},
                                               {Qt::blue, Qt::yellow, Qt::red}));
    // A seed and a rake of five, placed before the zoom changes.
    ViewPort* view = window.viewPort();
    const QPoint middle = view->rect().center();
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, middle);
    control<QSpinBox>(window, 3, "rakeSeedsSpinBox")->setValue(5);
    QTest::mousePress(view, Qt::LeftButton, Qt::ShiftModifier, middle - QPoint(80, 50));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::ShiftModifier, middle + QPoint(80, 30));
    control<QSlider>(window, 5, "arrowQuantitySlider")->setValue(30);
    control<QComboBox>(window, 5, "arrowStyleComboBox")->setCurrentIndex(1);
    control<QSlider>(window, 5, "arrowSizeSlider")->setValue(200);
    control<QSlider>(window, 5, "arrowLengthSlider")->setValue(40);
    control<TransferFunctionWidget>(window, 5, "transferFunction")->applyColorMap("magma");
    window.viewPort()->setScale(0.5f);
    window.viewPort()->setCenter(0.3, 0.6);
    window.findChild<QAction*>("actionFlip_Vertically")->setChecked(flipped);
    window.findChild<QAction*>("actionShow_Legend")->setChecked(true);
    window.findChild<QAction*>("actionShow_Axes")->setChecked(true);
    window.setReferenceFrame(ReferenceFrame::withVelocity(0.05, -0.02));
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        dropDebugLines();
        QVERIFY(dir.isValid());
    }
    void roundTripAndRender_data();
    void roundTripAndRender();
    void droppedSession();
    void refusals_data();
    void refusals();

private:
    QTemporaryDir dir;
};

void TestSession::roundTripAndRender_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("flipped");
    QTest::newRow("y up") << "double_gyre" << 0 << false;
    QTest::newRow("flipped") << "double_gyre" << 0 << true;
    QTest::newRow("series, step 2") << "cavity" << 2 << false;
}

// Saved, reopened in a fresh window and rendered by velmora-render, the
// settings and the picture stay what the forms made them.
void TestSession::roundTripAndRender()
{
    QFETCH(QString, sample);
    QFETCH(int, step);
    QFETCH(bool, flipped);
    const QString tag = QTest::currentDataTag();
    const QString session = dir.filePath(tag + ".velmora");
    const QString saved = dir.filePath(tag + ".png");
    Main first;
    first.show();
    QVERIFY(first.loadFlowData(samplePath(sample)));
    changeThroughForms(first, flipped);
    if (step)
        first.timeBar()->player()->seek(step);
    QTRY_COMPARE(first.timeBar()->player()->shownStep(), step);
    first.viewPort()->setProfileLine({QPointF(0.2, 0.3), QPointF(0.5, 0.9), QPointF(0.8, 0.6)});
    first.viewPort()->pinPoint(QPointF(0.45, 0.55));
    QVERIFY(settle(first));
    QVERIFY(first.saveSession(session));
    QVERIFY(first.saveImage(saved));

    Main second;
    second.show();
    QVERIFY(second.openSession(session));
    QTRY_COMPARE(second.timeBar()->player()->shownStep(), step);
    QVERIFY(settle(second));
    QCOMPARE(capturedJson(second), capturedJson(first));
    QCOMPARE(control<QDoubleSpinBox>(second, 3, "streamlinesDsep")->value(), 0.05);
    QCOMPARE(control<QSlider>(second, 5, "arrowQuantitySlider")->value(), 30);
    QCOMPARE(control<QSpinBox>(second, 1, "licKernelLength")->value(), 14);
    QCOMPARE(second.viewPort()->layerStack().streamlines().last()->seeds().size(), 6);
    QCOMPARE(second.findChild<QAction*>("actionFlip_Vertically")->isChecked(), flipped);
    QVERIFY(second.findChild<QAction*>("actionShow_Axes")->isChecked());
    QVERIFY(second.referenceFrame() == first.referenceFrame());
    QCOMPARE(second.extractionDock()->profileVertices(), first.extractionDock()->profileVertices());
    QVERIFY(second.extractionDock()->hasPinnedPoint());
    QCOMPARE(second.extractionDock()->pointPosition(), first.extractionDock()->pointPosition());
    QCOMPARE(second.viewPort()->renderImage(), first.viewPort()->renderImage());

    const QString rendered = dir.filePath(tag + "-render.png");
    QProcess process;
    process.start(VELMORA_RENDER_PROGRAM, {"--session", session, rendered});
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitCode(), 0);
    QCOMPARE(QImage(rendered).convertToFormat(QImage::Format_ARGB32),
             QImage(saved).convertToFormat(QImage::Format_ARGB32));
}

// A dropped session opens; what this program does not know is written again.
void TestSession::droppedSession()
{
    const QString session = dir.filePath("dropped.velmora");
    QVERIFY(FlowFiles::writeBytes(
        session, R"({"version": 1, "data": {"file": ")" + samplePath("double_gyre").toUtf8() +
                     R"("}, "view": {"zoom": 0.7}, "comment": "kept",)"
                     R"( "layers": [{"kind": "colorcoding", "note": "kept too"}]})"));
    Main window;
    window.show();
    QMimeData mimeData;
    mimeData.setUrls({QUrl::fromLocalFile(session)});
    QDragEnterEvent enter(window.rect().center(), Qt::CopyAction, &mimeData, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(window.rect().center()), Qt::CopyAction, &mimeData, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QTRY_VERIFY2(window.statusBar()->currentMessage().startsWith("Session dropped.velmora opened"),
                 qPrintable(window.statusBar()->currentMessage()));
    QVERIFY(window.currentFlowData());
    QCOMPARE(window.viewPort()->zoomScale(), 0.7f);
    const QString again = dir.filePath("again.velmora");
    QVERIFY(window.saveSession(again));
    QFile file(again);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QVERIFY(written.contains("\"comment\": \"kept\"") &&
            written.contains("\"note\": \"kept too\""));
}

void TestSession::refusals_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("keepsData");
    const QByteArray ramp = R"("transferFunction": {"points": )";
    QByteArray many = ramp + "[";
    for (int i = 0; i < 5000; ++i)
        many += QByteArray(i ? "," : "") + "[0.5, 0, \"#ffffffff\"]";
    QTest::newRow("not JSON") << QByteArray("{\"version\": 1,") << "not JSON" << true;
    QTest::newRow("not an object") << QByteArray("[1]") << "not a JSON object" << true;
    QTest::newRow("newer") << QByteArray(R"({"version": 3})") << "(session version 3;" << true;
    QTest::newRow("wrong type") << QByteArray(R"({"version": 1, "view": {"zoom": "near"}})")
                                << "view.zoom: not a number" << true;
    QTest::newRow("no points") << QByteArray(R"({"version": 1, "layers": [{)" + ramp + "[]}}]}")
                               << "0 points; from 2" << true;
    QTest::newRow("NaN point") << QByteArray(
                                      R"({"version": 1, "layers": [{)" + ramp +
                                      R"([[0, "NaN", "#ffffffff"], [1, 0, "#ffffffff"]]}}]})")
                               << "a point is not" << true;
    QTest::newRow("huge array") << QByteArray(R"({"version": 1, "layers": [{)" + many + "]}}]}")
                                << "5000 points" << true;
    QTest::newRow("profile line of one vertex")
        << QByteArray(R"({"version": 1, "extraction": {"profileLine": [[0, 1]]}})")
        << "extraction.profileLine: not a list" << true;
    QTest::newRow("session is a device") << QByteArray("/dev/zero") << "not a regular file" << true;
    QTest::newRow("data is a device")
        << QByteArray(R"({"version": 1, "data": {"file": "/dev/zero"}})")
        << "/dev/zero is not a regular file" << true;
    QTest::newRow("clamped") << QByteArray(R"({"version": 1, "view": {"zoom": 40}})")
                             << "opened; view.zoom 40 set to 4" << true;
    QTest::newRow("data missing") << QByteArray(R"({"version": 1, "data": {"file": "gone.gri"}})")
                                  << "gone.gri is missing; its settings apply" << true;
    QTest::newRow("other grid")
        << QByteArray(R"({"version": 1, "data": {"file": ")" + samplePath("double_gyre").toUtf8() +
                      R"(", "grid": [3, 3]}})")
        << "saved with a 3 × 3 grid, double_gyre.gri has 320 × 160; its settings apply" << false;
}

// A refused session changes nothing; a clamped one says what it clamped.
void TestSession::refusals()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, message);
    QFETCH(bool, keepsData);
    QString file = QString::fromUtf8(json);
    if (!json.startsWith('/')) {
        file = dir.filePath(QStringLiteral("bad.velmora"));
        QVERIFY(FlowFiles::writeBytes(file, json));
    }
    Main window;
    int asked = 0;
    window.setFileNameAsker([&asked](const QString&, const QString&, const QString&, bool) {
        ++asked;
        return QString();
    });
    QVERIFY(window.loadFlowData(samplePath("cavity")));
    const FlowData* shown = window.currentFlowData();
    window.openSession(file);
    QTRY_VERIFY2(window.statusBar()->currentMessage().contains(message),
                 qPrintable(window.statusBar()->currentMessage()));
    QTRY_COMPARE(asked, int(message.contains("apply")));
    QCOMPARE(window.isSessionPending(), asked == 1);
    QCOMPARE(window.currentFlowData() == shown, keepsData);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
