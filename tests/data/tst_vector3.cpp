#include "data/ProfileTimer.h"
#include "data/Vector3.h"
#include "tests/common/MessageCapture.h"

#include <QDebug>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <thread>

class TestVector3 : public QObject
{
    Q_OBJECT

private slots:
    void angle_data();
    void angle();
    void debugForm();
    void timerLine();
};

void TestVector3::angle_data()
{
    QTest::addColumn<Vector3>("v");
    QTest::addColumn<float>("degrees"); // NaN: not a number expected
    QTest::newRow("+x") << Vector3(1, 0, 0) << 0.0f;
    QTest::newRow("+y") << Vector3(0, 1, 0) << 90.0f;
    QTest::newRow("-x, y = 0 is not negative") << Vector3(-1, 0, 0) << 180.0f;
    QTest::newRow("-y") << Vector3(0, -1, 0) << 270.0f;
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

void TestVector3::debugForm()
{
    MessageCapture capture;
    qDebug() << "v:" << Vector3(1, 2.5f, 0) << "after";
    QCOMPARE(capture.lines(), QStringList{"v: [1, 2.5, 0] after"});
}

// Timers started in two threads at once: each writes its own line with its
// name and a whole number of microseconds.
void TestVector3::timerLine()
{
    MessageCapture capture;
    auto measure = [](const QString& name, qint64* elapsed) {
        ProfileTimer timer(name);
        timer.start();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        *elapsed = timer.stop();
    };
    qint64 firstElapsed = 0;
    qint64 secondElapsed = 0;
    std::thread first(measure, QStringLiteral("first"), &firstElapsed);
    std::thread second(measure, QStringLiteral("second"), &secondElapsed);
    first.join();
    second.join();
    QVERIFY(firstElapsed >= 2000);
    QVERIFY(secondElapsed >= 2000);
    QCOMPARE(ProfileTimer::ticksPerMicrosecond(), 1000);

    const QRegularExpression line(QStringLiteral("^(first|second)  time:  (\\d+) us$"));
    const QStringList lines = capture.lines();
    QCOMPARE(lines.size(), 2);
    for (const QString& text : lines) {
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QVERIFY(match.captured(2).toLongLong() >= 2000);
    }
}

QTEST_GUILESS_MAIN(TestVector3)
#include "tst_vector3.moc"
