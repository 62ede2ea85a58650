#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "layers/LayerArrows.h"
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

// The mean vertical offset from `center` of the rows where the arrow there is
// wider than its shaft: the rows of its head, so the sign says where it points.
double headOffset(const QImage& picture, const QPoint& center, int reach, int shaftWidth)
{
    double sum = 0.0;
    int rows = 0;
    for (int dy = -reach; dy <= reach; ++dy) {
        int width = 0;
        for (int dx = -reach; dx <= reach; ++dx) {
            const QColor c = picture.pixelColor(center + QPoint(dx, dy));
            width += c.red() > 200 && c.green() < 60 ? 1 : 0;
        }
        if (width > shaftWidth + 2) {
            sum += dy;
            ++rows;
        }
    }
    return rows > 0 ? sum / rows : 0.0;
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
    auto* arrows = new LayerArrows(true);
    ViewPort view({field, arrows});
    view.setFlippedVertically(flipped);
    view.setScale(0.4f);
    const QPolygonF opaque({QPointF(0, 0), QPointF(1, 0)});
    field->setTransferFunction(TransferFunction(opaque, {Qt::black, Qt::white}));
    arrows->setTransferFunction(TransferFunction(opaque, {Qt::red, Qt::red}));
    view.setFlowData(data.get());
    arrows->setQuantity(5);
    arrows->setArrowSize(300);
    QVERIFY(view.layerStack().finishRendering(10000));
    const QImage picture = view.renderImage();
    QCOMPARE(picture.size(), QSize(400, 400));

    // Large y at the top when y is up.
    const int top = qGray(picture.pixel(20, 5));
    const int bottom = qGray(picture.pixel(20, 394));
    QVERIFY2(flipped ? top < bottom : top > bottom,
             qPrintable(QString("%1 %2").arg(top).arg(bottom)));
    // On the right the flow runs up (counter-clockwise): the head of the
    // arrow at three quarters of the width sits above its middle.
    // Glyph units are 3 pixels here: a shaft 6 wide, a head 18 wide.
    const double head = headOffset(picture, QPoint(300, 200), 14, 6);
    QVERIFY2(flipped ? head > 0 : head < 0, qPrintable(QString::number(head)));
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
    const QPoint from(150, 120);
    const QPoint to(190, 60);
    QPointF before;
    QPointF after;
    QVERIFY(view.domainPosition(from, &before));
    play(&view, {press(150, 120), move(190, 60), release(190, 60)});
    QVERIFY(view.domainPosition(to, &after));
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
