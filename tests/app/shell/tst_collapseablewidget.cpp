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
    void minimumSizeHintIgnoresTitle();
    void layoutInAColumn();
};

void TestCollapseableWidget::opacitySlider_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("label");
    QTest::addColumn<float>("opacity");
    QTest::newRow("37 percent") << 37 << "37%" << 0.37f;
    QTest::newRow("zero") << 0 << "0%" << 0.0f;
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
    QTest::newRow("toggle then click expands") << "tc" << false << true;
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

void TestCollapseableWidget::minimumSizeHintIgnoresTitle()
{
    const QString title(200, QChar('W'));
    CollapseableWidget panel;
    // Layer forms set the title through the generic property setter.
    QVERIFY(panel.setProperty("title", title));
    QCOMPARE(panel.findChild<QCheckBox*>()->text(), title);
    QCOMPARE(panel.minimumSizeHint(), QSize(180, 24));
}

void TestCollapseableWidget::layoutInAColumn()
{
    QWidget column;
    auto* columnLayout = new QVBoxLayout(&column);
    auto* panel = new CollapseableWidget;
    columnLayout->addWidget(panel);
    columnLayout->addStretch();
    auto* formLayout = new QVBoxLayout(panel);
    auto* control = new QLabel("control", panel);
    control->setFixedHeight(40);
    formLayout->addWidget(control);
    column.resize(300, 400);
    column.show();
    QVERIFY(QTest::qWaitForWindowExposed(&column));
    QVERIFY2(control->geometry().top() >= 24,
             qPrintable(QString("control top %1").arg(control->geometry().top())));
    const int expandedHeight = panel->height();
    QVERIFY(expandedHeight >= 24 + 40);
    // The header spans the panel's width, before and after a resize.
    auto* header = panel->findChild<QFrame*>();
    QCOMPARE(header->geometry(), QRect(0, 0, panel->width(), 24));
    column.resize(420, 400);
    columnLayout->activate();
    QVERIFY(panel->width() > 300);
    QCOMPARE(header->geometry(), QRect(0, 0, panel->width(), 24));

    panel->toggleCollapsed();
    columnLayout->activate();
    QCOMPARE(panel->height(), 24);
    panel->toggleCollapsed();
    columnLayout->activate();
    QCOMPARE(panel->height(), expandedHeight);
}

QTEST_MAIN(TestCollapseableWidget)
#include "tst_collapseablewidget.moc"
