#include "app/shell/CollapseableWidget.h"

#include <QCheckBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

class TestCollapseableWidget : public QObject
{
    Q_OBJECT

private slots:
    void opacitySlider();
    void collapseSequence_data();
    void collapseSequence();
    void toggleVisibleEmitsOnce();
};

// The slider's percentage reaches the layer as a fraction, once.
void TestCollapseableWidget::opacitySlider()
{
    CollapseableWidget panel;
    auto* slider = panel.findChild<QSlider*>();
    QVERIFY(slider);
    QSignalSpy spy(&panel, &CollapseableWidget::opacityChanged);
    slider->setValue(37);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<float>(), 0.37f);
}

void TestCollapseableWidget::collapseSequence_data()
{
    QTest::addColumn<QString>("actions"); // c = user click, t = toggleCollapsed()
    QTest::addColumn<bool>("collapsed");
    QTest::addColumn<bool>("buttonChecked");
    QTest::newRow("one click collapses") << "c" << true << false;
    QTest::newRow("two clicks restore") << "cc" << false << true;
}

void TestCollapseableWidget::collapseSequence()
{
    QFETCH(QString, actions);
    QFETCH(bool, collapsed);
    QFETCH(bool, buttonChecked);

    CollapseableWidget panel;
    const int customMaximum = 500;
    panel.setMaximumHeight(customMaximum);
    auto* button = panel.findChild<QToolButton*>();
    QVERIFY(button);
    QVERIFY(button->isChecked());

    for (QChar action : actions) {
        if (action == 'c')
            QTest::mouseClick(button, Qt::LeftButton);
        else
            panel.toggleCollapsed();
    }
    QCOMPARE(panel.isCollapsed(), collapsed);
    QCOMPARE(button->isChecked(), buttonChecked);
    QCOMPARE(panel.maximumHeight(), collapsed ? panel.minimumSizeHint().height() : customMaximum);
}

void TestCollapseableWidget::toggleVisibleEmitsOnce()
{
    CollapseableWidget panel;
    QSignalSpy spy(&panel, &CollapseableWidget::visibleToggled);
    panel.toggleVisible();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QVERIFY(!panel.findChild<QCheckBox*>()->isChecked());
}

QTEST_MAIN(TestCollapseableWidget)
#include "tst_collapseablewidget.moc"
