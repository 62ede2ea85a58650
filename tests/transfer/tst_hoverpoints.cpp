#include "tests/transfer/MouseScript.h"
#include "transfer/HoverPoints.h"

#include <QSignalSpy>
#include <QTest>

namespace {

const QColor white(255, 255, 255, 255);

using Points = QList<QPointF>;

} // namespace

class TestHoverPoints : public QObject
{
    Q_OBJECT

private slots:
    void editing_data();
    void editing();
    void setPointsDuringADragWithFewerPoints();
};

void TestHoverPoints::editing_data()
{
    QTest::addColumn<Points>("initial");
    QTest::addColumn<bool>("curve"); // end points locked, XSort
    QTest::addColumn<QColor>("picked");
    QTest::addColumn<MouseScript>("script");
    QTest::addColumn<Points>("expectedPoints");
    QTest::addColumn<QList<QColor>>("expectedColors");
    QTest::addColumn<int>("expectedSignals");

    const QColor cancelled;
    const Points ramp = Points() << QPointF(0, 1) << QPointF(1, 0);
    const Points rampWithMiddle = Points() << QPointF(0, 1) << QPointF(0.5, 0.5) << QPointF(1, 0);
    const QList<QColor> oneWhite{white};
    const QList<QColor> twoWhite{white, white};
    const QList<QColor> threeWhite{white, white, white};
    const Points middle = Points() << QPointF(0.5, 0.5);
    const Points pair = Points() << QPointF(0.25, 0.5) << QPointF(0.75, 0.5);

    QTest::newRow("add: XSort inserts before the first point to the right")
        << ramp << true << cancelled << click(100, 50) << rampWithMiddle << threeWhite << 1;

    QTest::newRow("drag: beyond the right and bottom edges stays on them")
        << middle << false << cancelled
        << MouseScript{press(100, 50), move(300, 150), release(300, 150)}
        << (Points() << QPointF(1, 1)) << oneWhite << 1;
    QTest::newRow("drag: a left-locked point moves only vertically")
        << ramp << true << cancelled
        << MouseScript{press(1, 99), move(60, 30), move(80, -10), release(80, -10)}
        << (Points() << QPointF(0, 0) << QPointF(1, 0)) << twoWhite << 2;
    QTest::newRow("drag: XSort past the right neighbour keeps colour and drag")
        << (Points() << QPointF(0, 1) << QPointF(0.25, 0.5) << QPointF(0.5, 0.5) << QPointF(1, 0))
        << true << QColor(Qt::red)
        << MouseScript{doubleClick(50, 50), release(50, 50), press(50, 50),
                       move(150, 40),       move(160, 20),   release(160, 20)}
        << (Points() << QPointF(0, 1) << QPointF(0.5, 0.5) << QPointF(0.8, 0.2) << QPointF(1, 0))
        << QList<QColor>{white, white, QColor(Qt::red), white} << 3;
    QTest::newRow("drag: onto x = 0 stays after the left end point")
        << rampWithMiddle << true << cancelled
        << MouseScript{press(100, 50), move(-20, 50), move(0, 20), release(0, 20)}
        << (Points() << QPointF(0, 1) << QPointF(0, 0.2) << QPointF(1, 0)) << threeWhite << 2;

    QTest::newRow("remove: right press removes an unlocked point")
        << rampWithMiddle << true << cancelled << click(100, 50, Qt::RightButton) << ramp
        << twoWhite << 1;
    QTest::newRow("remove: a locked end point stays but the edit is announced")
        << rampWithMiddle << true << cancelled << click(199, 1, Qt::RightButton) << rampWithMiddle
        << threeWhite << 1;

    QTest::newRow("colour: double-click on a point takes the picked colour")
        << middle << false << QColor(Qt::blue) << fullDoubleClick(100, 50) << middle
        << QList<QColor>{Qt::blue} << 1;
    QTest::newRow("colour: a cancelled dialog keeps the colour")
        << middle << false << cancelled << fullDoubleClick(100, 50) << middle << oneWhite << 0;
    QTest::newRow("colour: double-click on empty space colours the new point")
        << Points() << false << QColor(Qt::green) << fullDoubleClick(60, 40)
        << (Points() << QPointF(0.3, 0.4)) << QList<QColor>{Qt::green} << 2;

    QTest::newRow("remove while dragging: interior point left of the dragged end point")
        << rampWithMiddle << true << cancelled
        << MouseScript{press(199, 1), press(100, 50, Qt::RightButton), move(150, 60),
                       release(150, 60)}
        << (Points() << QPointF(0, 1) << QPointF(1, 0.6)) << twoWhite << 2;
    QTest::newRow("remove while dragging: the dragged point itself ends the drag")
        << pair << false << cancelled
        << MouseScript{press(50, 50), press(50, 50, Qt::RightButton), move(20, 20)}
        << (Points() << QPointF(0.75, 0.5)) << oneWhite << 1;
}

void TestHoverPoints::editing()
{
    QFETCH(Points, initial);
    QFETCH(bool, curve);
    QFETCH(QColor, picked);
    QFETCH(MouseScript, script);
    QFETCH(Points, expectedPoints);
    QFETCH(QList<QColor>, expectedColors);
    QFETCH(int, expectedSignals);

    QWidget host;
    host.resize(200, 100);
    HoverPoints editor(&host, HoverPoints::CircleShape);
    editor.setPoints(initial);
    if (curve) {
        editor.setPointLock(0, HoverPoints::LockToLeft);
        editor.setPointLock(int(initial.size()) - 1, HoverPoints::LockToRight);
        editor.setSortType(HoverPoints::XSort);
    }

    editor.setColorPicker([&](const QColor&) { return picked; });
    QSignalSpy changes(&editor, &HoverPoints::pointsChanged);

    play(&host, script);

    QCOMPARE(Points(editor.points()), expectedPoints);
    QCOMPARE(editor.colors(), expectedColors);
    QCOMPARE(changes.count(), expectedSignals);
    if (!changes.isEmpty())
        QCOMPARE(Points(changes.last().at(0).value<QPolygonF>()), expectedPoints);
}

void TestHoverPoints::setPointsDuringADragWithFewerPoints()
{
    QWidget host;
    host.resize(200, 100);
    HoverPoints editor(&host, HoverPoints::CircleShape);
    editor.setPoints(Points{{0.25, 0.5}, {0.75, 0.5}});
    play(&host, {press(150, 50)});

    // The dragged point no longer exists: further moves change nothing.
    editor.setPoints(Points{{0.5, 0.5}});
    QSignalSpy changes(&editor, &HoverPoints::pointsChanged);
    play(&host, {move(20, 20), release(20, 20)}, Qt::LeftButton);

    QCOMPARE(Points(editor.points()), Points() << QPointF(0.5, 0.5));
    QCOMPARE(changes.count(), 0);
}

QTEST_MAIN(TestHoverPoints)
#include "tst_hoverpoints.moc"
