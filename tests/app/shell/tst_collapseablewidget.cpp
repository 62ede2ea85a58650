#include "app/shell/CollapseableWidget.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

class TestCollapseableWidget : public QObject
{
    Q_OBJECT

private slots:
    void opacitySlider_data();
    void opacitySlider();
    void collapseSequence_data();
    void collapseSequence();
    void toggleVisibleEmitsOnce();
};

void TestCollapseableWidget::opacitySlider_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("label");
    QTest::addColumn<float>("opacity");
    QTest::newRow("37 percent") << 37 << "37%" << 0.37f;
}

void TestCollapseableWidget::opacitySlider()
{
    QFETCH(int, value);
    QFETCH(QString, label);
    QFETCH(float, opacity);

    CollapseableWidget panel;
    auto* slider = panel.findChild<QSlider*>();
    auto* opacityLabel = panel.findChild<QLabel*>();
    QVERIFY(slider && opacityLabel);
    QCOMPARE(opacityLabel->text(), QString("100%"));
    QCOMPARE(slider->value(), 100);

    // Start from a different value so that every row moves the slider.
    slider->setValue(50);
    QSignalSpy spy(&panel, &CollapseableWidget::opacityChanged);
    slider->setValue(value);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<float>(), opacity);
    QCOMPARE(opacityLabel->text(), label);
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
