#include "data/Vector3.h"

#include <QTest>

#include <cmath>

class TestVector3 : public QObject
{
    Q_OBJECT

private slots:
    void angle_data();
    void angle();
};

void TestVector3::angle_data()
{
    QTest::addColumn<Vector3>("v");
    QTest::addColumn<float>("degrees"); // NaN: not a number expected
    QTest::newRow("+x") << Vector3(1, 0, 0) << 0.0f;
    QTest::newRow("-x, y = 0 is not negative") << Vector3(-1, 0, 0) << 180.0f;
    QTest::newRow("fourth quadrant") << Vector3(1, -1, 0) << 315.0f;
    QTest::newRow("zero vector") << Vector3() << std::nanf("");
}

void TestVector3::angle()
{
    QFETCH(Vector3, v);
    QFETCH(float, degrees);
    const float a = v.angle();
    if (std::isnan(degrees))
        QVERIFY(std::isnan(a));
    else
        QVERIFY2(std::abs(a - degrees) <= 1e-4f, qPrintable(QString::number(a)));
}

QTEST_GUILESS_MAIN(TestVector3)
#include "tst_vector3.moc"
