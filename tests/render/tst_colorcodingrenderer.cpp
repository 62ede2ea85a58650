#include "render/ColorCodingRenderer.h"

#include <QTest>

#include <limits>

class TestColorCodingRenderer : public QObject
{
    Q_OBJECT

private slots:
    void valuesSelectTableWords_data();
    void valuesSelectTableWords();
};

void TestColorCodingRenderer::valuesSelectTableWords_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("entry"); // -1: transparent

    QTest::newRow("above one") << 1.7f << 4095;
    QTest::newRow("negative") << -0.3f << 0;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << -1;
}

void TestColorCodingRenderer::valuesSelectTableWords()
{
    QFETCH(float, value);
    QFETCH(int, entry);
    QList<QRgb> table(ColorCodingRenderer::colorTableSize);
    for (int i = 0; i < table.size(); ++i)
        table[i] = qRgba(i >> 4, i & 15, 200, 255); // distinct: the entry shows in the pixel
    const float values[3] = {0.5f, value, 0.0f};
    QRgb out[3] = {1, 1, 1};
    ColorCodingRenderer::mapValues(values, 3, table.constData(), out);
    QCOMPARE(out[1], entry < 0 ? 0u : table[entry]);
    QCOMPARE(out[0], table[2047]);
    QCOMPARE(out[2], table[0]);
}

QTEST_GUILESS_MAIN(TestColorCodingRenderer)
#include "tst_colorcodingrenderer.moc"
