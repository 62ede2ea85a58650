#include "tests/transfer/MouseScript.h"
#include "transfer/ColorTable.h"
#include "transfer/HoverPoints.h"
#include "transfer/TransferFunctionWidget.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <limits>

namespace {

// The widget's own size in these tests: the end points sit at pixels (0, 80)
// and (180, 0).
constexpr int widgetWidth = 180;
constexpr int widgetHeight = 80;

// Qt's gradients are sampled from a 1024-entry table: on a steep stretch a
// column can be a few levels off the exact linear value.
constexpr int gradientTolerance = 4;

struct Probe
{
    float value;
    QColor straight;
    int tolerance;
};
using Probes = QList<Probe>;

// A fully transparent colour has no meaningful colour components.
bool near(const QColor& a, const QColor& b, int tolerance)
{
    if (b.alpha() == 0)
        return a.alpha() <= tolerance;
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance && qAbs(a.alpha() - b.alpha()) <= tolerance;
}

QString describe(const QColor& colour)
{
    return colour.name(QColor::HexArgb);
}

void prepare(TransferFunctionWidget& widget, const QColor& picked)
{
    widget.resize(widgetWidth, widgetHeight);
    widget.editor()->setColorPicker([picked](const QColor&) { return picked; });
}

} // namespace

Q_DECLARE_METATYPE(Probes)

class TestTransferFunction : public QObject
{
    Q_OBJECT

private slots:
    void initialRampFillsAnyImage_data();
    void initialRampFillsAnyImage();
    void editsReachTheTable_data();
    void editsReachTheTable();
    void indexOf_data();
    void indexOf();
    void painting_data();
    void painting();
    void layoutKeepsTheHeight();
};

void TestTransferFunction::initialRampFillsAnyImage_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");

    const int premultiplied = QImage::Format_ARGB32_Premultiplied;
    QTest::newRow("one entry") << QSize(1, 1) << premultiplied;
    QTest::newRow("two entries") << QSize(2, 1) << premultiplied;
    QTest::newRow("256 entries") << QSize(256, 1) << premultiplied;
    QTest::newRow("4096 entries") << QSize(4096, 1) << premultiplied;
    QTest::newRow("several rows, straight alpha") << QSize(64, 3) << int(QImage::Format_ARGB32);
}

void TestTransferFunction::initialRampFillsAnyImage()
{
    QFETCH(QSize, size);
    QFETCH(int, format);

    TransferFunctionWidget widget;
    QImage image(size, QImage::Format(format));
    // Whatever the image held before must not show through.
    image.fill(QColor(0, 0, 255, 200));
    widget.fillColorTable(&image);

    const int width = size.width();
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < width; ++x) {
            const QColor actual = QColor::fromRgba(image.pixel(x, y));
            // Transparent white at 0 rising linearly to opaque white at 1,
            // column x sampled at its centre.
            const int alpha = int(255.0 * (x + 0.5) / width);
            QVERIFY2(qAbs(actual.alpha() - alpha) <= gradientTolerance,
                     qPrintable(QStringLiteral("column %1: alpha %2").arg(x).arg(actual.alpha())));
            if (format == QImage::Format_ARGB32_Premultiplied) {
                const QRgb word = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
                QVERIFY2(qRed(word) == qAlpha(word) && qGreen(word) == qAlpha(word) &&
                             qBlue(word) == qAlpha(word),
                         qPrintable(QStringLiteral("column %1: %2").arg(x).arg(word, 8, 16)));
            }
        }
    }
    if (width >= 256) {
        QVERIFY(qAlpha(image.pixel(0, 0)) <= gradientTolerance);
        QVERIFY(qAlpha(image.pixel(width - 1, 0)) >= 255 - gradientTolerance);
    }
}

void TestTransferFunction::editsReachTheTable_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<MouseScript>("script");
    QTest::addColumn<QColor>("picked");
    QTest::addColumn<int>("expectedSignals");
    QTest::addColumn<Probes>("probes");

    const QColor opaqueWhite(255, 255, 255, 255);
    const QColor transparent(0, 0, 0, 0);
    const Probes allOpaqueWhite{
        {0.0f, opaqueWhite, 1}, {0.5f, opaqueWhite, 1}, {1.0f, opaqueWhite, 1}};
    // Unpremultiplying an entry of alpha 127 magnifies the gradient's error.
    const Probes throughRed{{0.0f, transparent, 1},
                            {0.5f, QColor(255, 0, 0, 127), 2 * gradientTolerance},
                            {1.0f, QColor(255, 255, 255, 254), gradientTolerance}};

    for (int entries : {256, 4096}) {
        const QByteArray n = QByteArray::number(entries);
        QTest::newRow(n + ": no edit: the initial ramp, 50 % white in the middle")
            << entries << MouseScript{} << QColor() << 0
            << Probes{{0.0f, transparent, 1},
                      {0.5f, QColor(255, 255, 255, 127), gradientTolerance},
                      {1.0f, QColor(255, 255, 255, 254), gradientTolerance}};
        QTest::newRow(n + ": right end point dragged to the bottom: all transparent")
            << entries << MouseScript{press(179, 1), move(100, 120), release(100, 120)} << QColor()
            << 1 << Probes{{0.0f, transparent, 0}, {0.5f, transparent, 0}, {1.0f, transparent, 0}};
        QTest::newRow(n + ": left end point dragged to the top: opaque white")
            << entries << MouseScript{press(1, 79), move(30, -20), release(30, -20)} << QColor()
            << 1 << allOpaqueWhite;
        QTest::newRow(n + ": a red middle point: the table passes through red")
            << entries << fullDoubleClick(90, 40) << QColor(Qt::red) << 2 << throughRed;
    }
}

void TestTransferFunction::editsReachTheTable()
{
    QFETCH(int, entries);
    QFETCH(MouseScript, script);
    QFETCH(QColor, picked);
    QFETCH(int, expectedSignals);
    QFETCH(Probes, probes);

    TransferFunctionWidget widget;
    prepare(widget, picked);
    QSignalSpy changes(&widget, &TransferFunctionWidget::colorsChanged);

    play(&widget, script);
    QCOMPARE(changes.count(), expectedSignals);

    const ColorTable table(widget.transferFunction(), entries);
    QCOMPARE(table.count(), entries);
    for (int i = 0; i < entries; ++i) {
        const QRgb word = table.premultiplied(i);
        QVERIFY2(
            qRed(word) <= qAlpha(word) && qGreen(word) <= qAlpha(word) &&
                qBlue(word) <= qAlpha(word),
            qPrintable(
                QStringLiteral("entry %1 holds %2, not premultiplied").arg(i).arg(word, 8, 16)));
    }
    for (const Probe& probe : probes) {
        const QColor actual = table.straightColor(table.indexOf(probe.value));
        QVERIFY2(near(actual, probe.straight, probe.tolerance),
                 qPrintable(describe(actual) + " at " + QString::number(probe.value)));
    }
}

void TestTransferFunction::indexOf_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("index");

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();

    QTest::newRow("4096: half") << 4096 << 0.5f << 2047;
    QTest::newRow("4096: one") << 4096 << 1.0f << 4095;
    QTest::newRow("4096: above one") << 4096 << 1.5f << 4095;
    QTest::newRow("4096: negative") << 4096 << -0.25f << 0;
    QTest::newRow("4096: NaN") << 4096 << nan << 0;
    QTest::newRow("4096: infinity") << 4096 << infinity << 4095;
    QTest::newRow("256: just below one") << 256 << 0.999f << 254;
    QTest::newRow("1: one") << 1 << 1.0f << 0;
}

void TestTransferFunction::indexOf()
{
    QFETCH(int, entries);
    QFETCH(float, value);
    QFETCH(int, index);

    TransferFunctionWidget widget;
    const ColorTable table(widget.transferFunction(), entries);
    QCOMPARE(table.indexOf(value), index);
}

void TestTransferFunction::painting_data()
{
    QTest::addColumn<MouseScript>("script");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("expected");

    // Checkerboard squares of 10 pixels: light grey where the square's
    // column and row parity agree, dark grey elsewhere.
    const auto overChecker = [](int x, int y) {
        const int checker = ((x / 10) % 2 == (y / 10) % 2) ? 192 : 128;
        const qreal alpha = (255.0 * (x + 0.5) / widgetWidth) / 255.0;
        const int grey = qRound(checker + (255 - checker) * alpha);
        return QColor(grey, grey, grey);
    };

    QTest::newRow("light square under a faint ramp")
        << MouseScript{} << QPoint(10, 10) << overChecker(10, 10);
    QTest::newRow("dark square below the curve")
        << MouseScript{} << QPoint(100, 70) << overChecker(100, 70);
    QTest::newRow("a red point on top of the ramp")
        << fullDoubleClick(90, 40) << QPoint(90, 40) << QColor(Qt::red);
}

void TestTransferFunction::painting()
{
    QFETCH(MouseScript, script);
    QFETCH(QPoint, probe);
    QFETCH(QColor, expected);

    TransferFunctionWidget widget;
    prepare(widget, Qt::red);
    play(&widget, script);

    const QImage picture = widget.grab().toImage();
    QCOMPARE(picture.size(), QSize(widgetWidth, widgetHeight));
    const QColor actual = picture.pixelColor(probe);
    QVERIFY2(near(actual, expected, 4), qPrintable(describe(actual)));
}

void TestTransferFunction::layoutKeepsTheHeight()
{
    const QSize windowSize(200, 600);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* widget = new TransferFunctionWidget(&window);
    layout->addWidget(widget);
    window.resize(windowSize);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(widget->height(), 80);
    QCOMPARE(widget->width(), windowSize.width());
}

QTEST_MAIN(TestTransferFunction)
#include "tst_transferfunction.moc"
