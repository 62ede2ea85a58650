#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "layers/LayerColorCoding.h"
#include "tests/common/FakeFlowData.h"
#include "tests/transfer/MouseScript.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int gridSide = 21;

// Solid-body rotation, counter-clockwise as seen with y up, around the
// middle of [0, 1]^2; the one scalar is y.
bool writeRotation(const QString& dataName)
{
    FlowFiles::Grid grid{FlowFiles::axis(gridSide), FlowFiles::axis(gridSide), {}, {}};
    grid.vectors = grid.sample([](float x, float y) { return Vector3(0.5f - y, x - 0.5f, 0.0f); });
    grid.scalars = {grid.sample([](float, float y) { return y; })};
    return grid.write(dataName);
}

} // namespace

class TestOrientation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void picture_data();
    void picture();
    void dragAndZoomFollowThePointer_data();
    void dragAndZoomFollowThePointer();

private:
    QTemporaryDir dir;
    QString rotation;
};

void TestOrientation::initTestCase()
{
    rotation = dir.filePath("rotation");
    QVERIFY(writeRotation(rotation));
}

void TestOrientation::picture_data()
{
    QTest::addColumn<bool>("flipped");
    QTest::newRow("y up") << false;
    QTest::newRow("flipped vertically") << true;
}

void TestOrientation::picture()
{
    QFETCH(bool, flipped);
    std::unique_ptr<FlowData> data(FlowData::fromFile(rotation + ".gri"));
    QVERIFY(data);
    auto* field = new LayerColorCoding(0, true);
    ViewPort view({field});
    view.setFlippedVertically(flipped);
    view.setScale(0.4f);
    field->setTransferFunction(
        TransferFunction(QPolygonF({QPointF(0, 0), QPointF(1, 0)}), {Qt::black, Qt::white}));
    view.setFlowData(data.get());
    QVERIFY(view.layerStack().finishRendering(10000));
    const QImage picture = view.renderImage();
    QCOMPARE(picture.size(), QSize(400, 400));

    // Large y at the top when y is up. Every layer's picture is composed
    // alike (the end-to-end test compares arrows and lines pixel by pixel);
    // an arrow's direction in its own picture is the arrow renderer's test.
    const int top = qGray(picture.pixel(20, 5));
    const int bottom = qGray(picture.pixel(20, 394));
    QVERIFY2(flipped ? top < bottom : top > bottom,
             qPrintable(QString("%1 %2").arg(top).arg(bottom)));
}

void TestOrientation::dragAndZoomFollowThePointer_data()
{
    picture_data();
}

void TestOrientation::dragAndZoomFollowThePointer()
{
    QFETCH(bool, flipped);
    std::unique_ptr<FlowData> data(FlowData::fromFile(rotation + ".gri"));
    ViewPort view(QList<Layer*>{});
    view.setFlippedVertically(flipped);
    view.resize(300, 200);
    QResizeEvent resize(QSize(300, 200), QSize());
    QApplication::sendEvent(&view, &resize);
    view.setFlowData(data.get());

    // The data point under the pointer stays under it while dragging.
    QPointF before, after;
    QVERIFY(view.domainPosition(QPoint(150, 120), &before));
    play(&view, {press(150, 120), move(190, 60), release(190, 60)});
    QVERIFY(view.domainPosition(QPoint(190, 60), &after));
    QVERIFY2(QLineF(before, after).length() < 1e-9,
             qPrintable(QString::number(QLineF(before, after).length())));

    // A wheel step keeps the point at the view's centre.
    const QPoint centre(150, 100);
    QVERIFY(view.domainPosition(centre, &before));
    wheel(&view, QPointF(10, 10), -120);
    QCOMPARE(view.zoomScale(), 1.25f);
    QVERIFY(view.domainPosition(centre, &after));
    QVERIFY(QLineF(before, after).length() < 1e-9);
}

QTEST_MAIN(TestOrientation)
#include "tst_orientation.moc"
