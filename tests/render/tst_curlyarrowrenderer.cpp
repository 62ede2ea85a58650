#include "data/Vector3.h"
#include "render/ArrowRenderer.h"
#include "render/CurlyArrowRenderer.h"
#include "tests/common/FakeFlowData.h"
#include "transfer/ColorTable.h"
#include "transfer/TransferFunction.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <vector>

class TestCurlyArrowRenderer : public QObject
{
    Q_OBJECT

private slots:
    void rotationGivesArcs_data();
    void rotationGivesArcs();
    void straightStreamCoversItsOutline_data();
    void straightStreamCoversItsOutline();
};

void TestCurlyArrowRenderer::rotationGivesArcs_data()
{
    QTest::addColumn<float>("aspect");
    QTest::addColumn<QSize>("size");
    QTest::newRow("square") << 1.0f << QSize(400, 400);
    QTest::newRow("wide") << 2.0f << QSize(600, 300);
}

// In a solid-body rotation every curve is an arc of the circle through its
// base point, turning counter-clockwise, and with the length blend at 0 its
// arc is as long as the straight arrow, so it grows with the radius.
void TestCurlyArrowRenderer::rotationGivesArcs()
{
    QFETCH(float, aspect);
    QFETCH(QSize, size);
    const double height = 1.0 / aspect;
    const FakeFlowData data(aspect, Fields::rotation(0.5, 0.5 * height));
    const QSize counts(11, 11);
    std::vector<Vector3> vectors;
    for (int j = 0; j < counts.height(); ++j)
        for (int i = 0; i < counts.width(); ++i)
            vectors.push_back(data.vectorAt(i / 10.0, j / 10.0 * height));
    const ColorTable table = TransferFunction().colorTable(256);
    const std::vector<CurlyArrowRenderer::Curve> curves =
        CurlyArrowRenderer::curves(data, vectors.data(), counts, table, size, 1.0f, 0.0f);
    QVERIFY(curves.size() > 50);

    const double pixels = size.width(); // per domain unit, along x and y alike
    const QPointF centre(size.width() / 2.0, size.height() / 2.0);
    int whole = 0;
    for (const CurlyArrowRenderer::Curve& curve : curves) {
        const QPointF base = curve.points[curve.points.size() / 2] - centre;
        const double radius = std::hypot(base.x(), base.y());
        const double step = curve.length / CurlyArrowRenderer::stepsPerCurve;
        double arc = 0.0;
        for (std::size_t k = 0; k < curve.points.size(); ++k) {
            const QPointF p = curve.points[k] - centre;
            // Within a hundredth of a step: the midpoint rule on a circle.
            QVERIFY2(std::abs(std::hypot(p.x(), p.y()) - radius) <= 0.01 * step,
                     qPrintable(QString("radius %1, point %2").arg(radius).arg(k)));
            if (k > 0)
                arc += std::hypot(curve.points[k].x() - curve.points[k - 1].x(),
                                  curve.points[k].y() - curve.points[k - 1].y());
        }
        // Clipped curves are shorter, none longer than its straight arrow.
        QVERIFY(arc <= curve.length * (1.0 + 1e-6));
        const QPointF tail = curve.points.front() - centre, tip = curve.points.back() - centre;
        QVERIFY(tail.x() * tip.y() - tail.y() * tip.x() > 0.0);
        QCOMPARE(curve.length, ArrowRenderer::lengthFor(float(radius / pixels), size, 1.0f, 0.0f));
        if (int(curve.points.size()) == CurlyArrowRenderer::stepsPerCurve + 1) {
            ++whole;
            QVERIFY(std::abs(arc - curve.length) <= 1e-6 * curve.length);
        }
    }
    QVERIFY(whole > 20);

    // The picture drawn in bands over the cores matches the painter's,
    // also where a curve crosses from one band into the next.
    const QImage banded =
        CurlyArrowRenderer::render(data, vectors.data(), counts, table, size, 1.0f, 0.0f);
    QImage painted(size, QImage::Format_ARGB32_Premultiplied);
    painted.fill(0);
    QPainter painter(&painted);
    painter.setRenderHint(QPainter::Antialiasing);
    CurlyArrowRenderer::paint(painter, data, vectors.data(), counts, table, size, 1.0f, 0.0f);
    painter.end();
    int far = 0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            far += std::abs(qAlpha(banded.pixel(x, y)) - qAlpha(painted.pixel(x, y))) > 96;
    QCOMPARE(far, 0);
}

void TestCurlyArrowRenderer::straightStreamCoversItsOutline_data()
{
    QTest::addColumn<double>("degrees");
    QTest::addColumn<float>("arrowSize");
    QTest::newRow("along x") << 0.0 << 1.0f;
    QTest::newRow("slanted") << 30.0 << 1.0f;
    QTest::newRow("steep, short head") << 100.0 << 3.0f;
}

// In a uniform stream a curve is straight, so its outline is exact: a shaft
// tapering linearly from 0.2 to 1 glyph unit (half-widths) up to the head's
// base, then a head 3 units wide (half) and `head` long. The picture's
// coverage, summed, is that area; a side of the shaft or of the head out of
// place changes it.
void TestCurlyArrowRenderer::straightStreamCoversItsOutline()
{
    QFETCH(double, degrees);
    QFETCH(float, arrowSize);
    const FakeFlowData data(1.0f, Fields::uniform(degrees));
    const QSize size(400, 400);
    const QSize counts(3, 3);
    // The centre arrow alone, clear of the border.
    std::vector<Vector3> vectors(9, Vector3(0.0f, 0.0f, 0.0f));
    vectors[4] = data.vectorAt(0.5, 0.5);
    const ColorTable table = TransferFunction().colorTable(256);
    const std::vector<CurlyArrowRenderer::Curve> curves =
        CurlyArrowRenderer::curves(data, vectors.data(), counts, table, size, arrowSize, 0.0f);
    QCOMPARE(int(curves.size()), 1);
    const CurlyArrowRenderer::Curve& curve = curves.front();
    QCOMPARE(int(curve.points.size()), CurlyArrowRenderer::stepsPerCurve + 1);
    const double s = double(float(size.width()) * arrowSize / 400.0f);
    const double head = std::min(4.0 * s, 0.5 * curve.length);
    const double area = 1.2 * s * (curve.length - head) + 3.0 * s * head;

    const QImage picture =
        CurlyArrowRenderer::render(data, vectors.data(), counts, table, size, arrowSize, 0.0f);
    QVERIFY(qAlpha(curve.color) > 0);
    double covered = 0.0;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            covered += qAlpha(picture.pixel(x, y));
    covered /= qAlpha(curve.color);
    QVERIFY2(std::abs(covered - area) <= 0.02 * area,
             qPrintable(QString("covered %1, outline %2").arg(covered).arg(area)));
}

QTEST_APPLESS_MAIN(TestCurlyArrowRenderer)
#include "tst_curlyarrowrenderer.moc"
