#include "app/shell/CollapseableWidget.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>

class TestCollapseableWidget : public QObject
{
    Q_OBJECT

private slots:
    void controlsReachTheLayer();
    void collapseKeepsTheCustomMaximum();
};

// The slider's percentage reaches the layer as a fraction, once; hiding from
// code ticks the box off and says so once.
void TestCollapseableWidget::controlsReachTheLayer()
{
    CollapseableWidget panel;
    QSignalSpy opacity(&panel, &CollapseableWidget::opacityChanged);
    QSignalSpy visible(&panel, &CollapseableWidget::visibleToggled);
    panel.findChild<QSlider*>()->setValue(37);
    panel.toggleVisible();
    QCOMPARE(opacity.count(), 1);
    QCOMPARE(opacity.at(0).at(0).value<float>(), 0.37f);
    QCOMPARE(visible.count(), 1);
    QCOMPARE(visible.at(0).at(0).toBool(), false);
    QVERIFY(!panel.findChild<QCheckBox*>()->isChecked());
}

// A click collapses the panel to its header; a second one gives back the
// maximum height it had been given.
void TestCollapseableWidget::collapseKeepsTheCustomMaximum()
{
    CollapseableWidget panel;
    panel.setMaximumHeight(500);
    auto* button = panel.findChild<QToolButton*>();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(panel.isCollapsed() && !button->isChecked());
    QCOMPARE(panel.maximumHeight(), panel.minimumSizeHint().height());
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!panel.isCollapsed() && button->isChecked());
    QCOMPARE(panel.maximumHeight(), 500);
}

QTEST_MAIN(TestCollapseableWidget)
#include "tst_collapseablewidget.moc"
