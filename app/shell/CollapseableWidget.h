#pragma once

#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QSlider;
class QToolButton;

// The dock panel that frames one layer's controls. The header row (bold title
// check box, opacity in percent, opacity slider, collapse button) sits at the
// top left outside any layout; the panel's top contents margin reserves its
// height, so a layout installed on the panel (the layer's form) starts below
// it. The panel knows nothing about layers: the view port connects its two
// signals to the layer.
class CollapseableWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle DESIGNABLE true SCRIPTABLE true STORED true)

public:
    explicit CollapseableWidget(QWidget* parent = nullptr);

    QString title() const;
    void setTitle(const QString& title);

    bool isCollapsed() const { return collapsed; }
    // As the user would: a change emits visibleToggled or opacityChanged.
    void setChecked(bool checked);
    // Clamped to the slider's 0 to 100.
    void setOpacityPercent(int percent);

    // 180 pixels wide whatever the title, header height high.
    QSize minimumSizeHint() const override;

signals:
    // Emitted when the slider moved: slider value / 100, from 0.0 to 1.0.
    void opacityChanged(float opacity);
    // Emitted when the check box changed state, by the user or toggleVisible().
    void visibleToggled(bool visible);

public slots:
    void toggleVisible();
    // Flips the collapse button, then collapses or expands like a click on it.
    void toggleCollapsed();

private slots:
    void collapseToggled();
    void setOpacity(int value);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QFrame* header;
    QCheckBox* visibleCheckBox;
    QLabel* opacityLabel;
    QSlider* opacitySlider;
    QToolButton* collapseButton;
    int headerHeight = 24;
    // The maximum height in force before the panel last collapsed.
    int expandedMaximumHeight = QWIDGETSIZE_MAX;
    bool collapsed = false;
};
