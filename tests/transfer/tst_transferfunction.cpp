#include "transfer/ColorTable.h"
#include "transfer/TransferFunction.h"
#include "transfer/TransferFunctionWidget.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(TransferFunction)

class TestTransferFunction : public QObject
{
    Q_OBJECT

private slots:
    void colorTable_data();
    void colorTable();
    void widgetHandsOverItsFunction();
};

namespace {

// Qt's gradients are sampled from a 1024-entry table: a few levels off the
// exact linear value on a steep stretch.
constexpr int tolerance = 4;

// The straight colour of entry i of n: the points' colours with opacity
// 1 - y, blended linearly (premultiplied, as gradients blend) at the entry's
// centre (i + 0.5) / n.
QColor expectedEntry(const TransferFunction& f, int i, int n)
{
    const double t = (i + 0.5) / n;
    const QPolygonF& p = f.points();
    int k = 0;
    while (k + 2 < p.size() && p[k + 1].x() <= t)
        ++k;
    const double w = std::clamp((t - p[k].x()) / (p[k + 1].x() - p[k].x()), 0.0, 1.0);
    const QColor a = f.colors()[k], b = f.colors()[k + 1];
    const double aa = int((1 - p[k].y()) * 255), ba = int((1 - p[k + 1].y()) * 255);
    const double alpha = aa + (ba - aa) * w;
    auto mix = [&](double u, double v) {
        return alpha > 0 ? int(std::lround((u * aa * (1 - w) + v * ba * w) / alpha)) : 0;
    };
    return QColor(mix(a.red(), b.red()), mix(a.green(), b.green()), mix(a.blue(), b.blue()),
                  int(std::lround(alpha)));
}

} // namespace

void TestTransferFunction::colorTable_data()
{
    QTest::addColumn<TransferFunction>("function");
    QTest::addColumn<int>("entries");

    QTest::newRow("half transparent green in the middle")
        << TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {0.5, 0.5}, {1, 1}}),
                            {QColor(0, 0, 255), QColor(0, 255, 0), QColor(255, 0, 0)})
        << 256;
    QTest::newRow("constant opacity 0.6, yellow")
        << TransferFunction(QPolygonF(QList<QPointF>{{0, 0.4}, {1, 0.4}}),
                            {QColor(255, 255, 0), QColor(255, 255, 0)})
        << 64;
    // Few entries: a sample off the entries' centres is many levels off.
    QTest::newRow("black to white, 4 entries")
        << TransferFunction(QPolygonF(QList<QPointF>{{0, 0}, {1, 0}}),
                            {QColor(Qt::black), QColor(Qt::white)})
        << 4;
}

// Every entry against its hand-computed colour, premultiplied in the table.
void TestTransferFunction::colorTable()
{
    QFETCH(TransferFunction, function);
    QFETCH(int, entries);

    const ColorTable table = function.colorTable(entries);
    QCOMPARE(table.count(), entries);
    for (int i = 0; i < entries; ++i) {
        const QColor want = expectedEntry(function, i, entries);
        const QColor got = table.straightColor(i);
        const QRgb word = table.premultiplied(i);
        const int slack = want.alpha() < 128 ? 2 * tolerance : tolerance; // unpremultiplied error
        QVERIFY2(std::abs(got.alpha() - want.alpha()) <= tolerance &&
                     (want.alpha() == 0 || (std::abs(got.red() - want.red()) <= slack &&
                                            std::abs(got.green() - want.green()) <= slack &&
                                            std::abs(got.blue() - want.blue()) <= slack)),
                 qPrintable(QString("entry %1").arg(i)));
        QVERIFY(qRed(word) <= qAlpha(word) && qGreen(word) <= qAlpha(word) &&
                qBlue(word) <= qAlpha(word));
        const bool flat = expectedEntry(function, 0, entries).alpha() == want.alpha() &&
                          expectedEntry(function, entries - 1, entries).alpha() == want.alpha();
        if (flat) // exact where the opacity is constant
            QCOMPARE(got.alpha(), want.alpha());
    }
    // Values beyond the ends take the end entries; 0.999 lies in the second to last.
    QVERIFY(table.indexOf(1.5f) == entries - 1 && table.indexOf(std::nanf("")) == 0);
    QCOMPARE(table.indexOf(0.999f), entries - 2);
}

// The widget emits the function it holds once per change; an equal function
// or one of fewer than two points changes nothing.
void TestTransferFunction::widgetHandsOverItsFunction()
{
    TransferFunctionWidget widget;
    QSignalSpy handed(&widget, &TransferFunctionWidget::transferFunctionChanged);
    const TransferFunction red(QPolygonF(QList<QPointF>{{0, 0.5}, {0.3, 0.2}, {1, 0}}),
                               {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)});
    widget.setTransferFunction(red);
    widget.setTransferFunction(red);
    widget.setTransferFunction(
        TransferFunction(QPolygonF(QList<QPointF>{{0.5, 0.5}}), {QColor(Qt::black)}));
    QCOMPARE(handed.count(), 1);
    QVERIFY(handed[0][0].value<TransferFunction>() == red);
}

QTEST_MAIN(TestTransferFunction)
#include "tst_transferfunction.moc"
