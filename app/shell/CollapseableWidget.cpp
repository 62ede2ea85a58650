#include "app/shell/CollapseableWidget.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QResizeEvent>
#include <QSlider>
#include <QToolButton>

namespace {
constexpr int headerMaximumHeight = 24;
constexpr int headerLighterFactor = 108;
} // namespace

CollapseableWidget::CollapseableWidget(QWidget* parent) : QWidget(parent)
{
    header = new QFrame(this);
    header->setAutoFillBackground(true);
    QPalette headerPalette = header->palette();
    const QBrush headerBrush(headerPalette.color(QPalette::Window).lighter(headerLighterFactor));
    headerPalette.setBrush(QPalette::All, QPalette::Window, headerBrush);
    header->setPalette(headerPalette);
    header->setContentsMargins(0, 0, 0, 0);
    header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    header->setMaximumHeight(headerMaximumHeight);

    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(4, 4, 4, 4);
    headerLayout->setSpacing(3);

    visibleCheckBox = new QCheckBox(header);
    visibleCheckBox->setChecked(true);
    visibleCheckBox->setMinimumWidth(100);
    QFont boldFont;
    boldFont.setWeight(QFont::Bold);
    visibleCheckBox->setFont(boldFont);
    connect(visibleCheckBox, &QCheckBox::toggled, this, &CollapseableWidget::visibleToggled);
    headerLayout->addWidget(visibleCheckBox);

    opacityLabel = new QLabel(header);
    opacityLabel->setMinimumWidth(30);
    opacityLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    opacityLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    headerLayout->addWidget(opacityLabel);

    // Connected before the value is set so that the label shows 100% at once.
    opacitySlider = new QSlider(Qt::Horizontal, header);
    connect(opacitySlider, &QSlider::valueChanged, this, &CollapseableWidget::setOpacity);
    opacitySlider->setRange(0, 100);
    opacitySlider->setValue(100);
    opacitySlider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    opacitySlider->setStatusTip(tr("Opacity"));
    headerLayout->addWidget(opacitySlider);

    collapseButton = new QToolButton(header);
    collapseButton->setCheckable(true);
    collapseButton->setChecked(true);
    collapseButton->setArrowType(Qt::DownArrow);
    collapseButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    collapseButton->setMaximumWidth(20);
    connect(collapseButton, &QToolButton::clicked, this, &CollapseableWidget::collapseToggled);
    headerLayout->addWidget(collapseButton);

    header->resize(header->width(), headerMaximumHeight);
    headerHeight = qMin(header->height(), header->maximumHeight());

    setContentsMargins(0, headerHeight, 0, 0);
    setSizePolicy(sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

QString CollapseableWidget::title() const
{
    return visibleCheckBox->text();
}

void CollapseableWidget::setTitle(const QString& title)
{
    visibleCheckBox->setText(title);
}

QSize CollapseableWidget::minimumSizeHint() const
{
    return QSize(180, headerHeight);
}

void CollapseableWidget::setChecked(bool checked)
{
    visibleCheckBox->setChecked(checked);
}

void CollapseableWidget::setOpacityPercent(int percent)
{
    opacitySlider->setValue(percent);
}

void CollapseableWidget::toggleVisible()
{
    visibleCheckBox->toggle();
}

void CollapseableWidget::toggleCollapsed()
{
    collapseButton->setChecked(!collapseButton->isChecked());
    collapseToggled();
}

void CollapseableWidget::collapseToggled()
{
    collapsed = !collapsed;
    if (collapsed) {
        expandedMaximumHeight = maximumHeight();
        setMaximumHeight(headerHeight);
    } else {
        setMaximumHeight(expandedMaximumHeight);
    }
    updateGeometry();
}

void CollapseableWidget::setOpacity(int value)
{
    opacityLabel->setText(QString::number(value) + QLatin1Char('%'));
    emit opacityChanged(float(value / 100.0));
}

void CollapseableWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (event->size().width() != header->width())
        header->resize(event->size().width(), headerHeight);
}
