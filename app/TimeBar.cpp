#include "app/TimeBar.h"

#include "app/SeriesPlayer.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "data/FlowSeriesLoader.h"
#include "data/MonotonicClock.h"
#include "data/SeriesRangeSearch.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QKeySequence>
#include <QLabel>
#include <QProgressBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace {

std::int64_t nowMilliseconds()
{
    return MonotonicClock::now() / (MonotonicClock::frequency() / 1000);
}

// The timer looks this often for a due frame: well below the shortest frame.
constexpr int tickMilliseconds = 5;

} // namespace

TimeBar::TimeBar(QWidget* parent)
    : QWidget(parent), seriesPlayer(new SeriesPlayer(this)),
      loader(new FlowSeriesLoader(
          [this](int step, std::unique_ptr<FlowData> loaded) {
              takeLoadedStep(step, std::move(loaded));
          },
          this)),
      rangeSearch(new SeriesRangeSearch(this)), timer(new QTimer(this)),
      slider(new QSlider(Qt::Horizontal, this)), stepLabel(new QLabel(this)),
      playButton(new QToolButton(this)), loopBox(new QCheckBox(tr("Loop"), this)),
      rateBox(new QDoubleSpinBox(this)), rangeProgress(new QProgressBar(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    auto button = [this, row](QStyle::StandardPixmap icon, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(tip);
        row->addWidget(b);
        return b;
    };
    QToolButton* firstButton = button(QStyle::SP_MediaSkipBackward, tr("First step"));
    QToolButton* previousButton =
        button(QStyle::SP_MediaSeekBackward, tr("Previous step (Page Up)"));
    playButton->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
    playButton->setToolTip(tr("Play / pause (Space)"));
    row->addWidget(playButton);
    QToolButton* nextButton = button(QStyle::SP_MediaSeekForward, tr("Next step (Page Down)"));
    QToolButton* lastButton = button(QStyle::SP_MediaSkipForward, tr("Last step"));
    // The slider keeps a usable length beside the dock in a narrow window.
    slider->setMinimumWidth(120);
    row->addWidget(slider, 1);
    stepLabel->setMinimumWidth(stepLabel->fontMetrics().horizontalAdvance(
        QStringLiteral("step 00000  2000-00-00 00:00:00.000")));
    row->addWidget(stepLabel);
    loopBox->setChecked(seriesPlayer->isLooping());
    row->addWidget(loopBox);
    rateBox->setRange(0.1, 120.0);
    rateBox->setDecimals(1);
    rateBox->setSuffix(tr(" /s"));
    rateBox->setValue(seriesPlayer->framesPerSecond());
    rateBox->setToolTip(tr("Frames per second"));
    row->addWidget(rateBox);
    rangeProgress->setFormat(tr("Series range %p%"));
    rangeProgress->setMaximumWidth(160);
    rangeProgress->hide();
    row->addWidget(rangeProgress);

    timer->setInterval(tickMilliseconds);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this] { seriesPlayer->tick(nowMilliseconds()); });
    connect(firstButton, &QToolButton::clicked, seriesPlayer, &SeriesPlayer::first);
    connect(previousButton, &QToolButton::clicked, seriesPlayer, &SeriesPlayer::previous);
    connect(nextButton, &QToolButton::clicked, seriesPlayer, &SeriesPlayer::next);
    connect(lastButton, &QToolButton::clicked, seriesPlayer, &SeriesPlayer::last);
    connect(playButton, &QToolButton::clicked, this, &TimeBar::togglePlay);
    connect(slider, &QSlider::valueChanged, seriesPlayer, &SeriesPlayer::seek);
    connect(loopBox, &QCheckBox::toggled, seriesPlayer, &SeriesPlayer::setLooping);
    connect(rateBox, &QDoubleSpinBox::valueChanged, seriesPlayer,
            &SeriesPlayer::setFramesPerSecond);

    connect(seriesPlayer, &SeriesPlayer::loadRequested, this, [this](int step) {
        if (!loader->request(flowSeries.get(), step))
            takeLoadedStep(step, nullptr);
    });
    connect(rangeSearch, &SeriesRangeSearch::progressed, rangeProgress, &QProgressBar::setValue);
    connect(rangeSearch, &SeriesRangeSearch::found, this, [this](const QList<ValueRange>& found) {
        ranges = found;
        rangeProgress->hide();
        emit seriesRangesFound(ranges);
    });
    connect(seriesPlayer, &SeriesPlayer::positionChanged, this, &TimeBar::showPosition);
    connect(seriesPlayer, &SeriesPlayer::playingChanged, this, [this](bool playing) {
        playButton->setIcon(
            style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
        if (playing)
            timer->start();
        else
            timer->stop();
    });
    hide();
}

TimeBar::~TimeBar()
{
    // The search and the loader read the series, and members go before
    // children: both stop here.
    rangeSearch->cancel();
    loader->cancel();
}

void TimeBar::setStepReceiver(std::function<void(std::unique_ptr<FlowData>)> receiver)
{
    seriesPlayer->setShowReceiver(
        [receiver = std::move(receiver)](int, std::unique_ptr<FlowData> loaded) {
            if (receiver)
                receiver(std::move(loaded));
        });
}

void TimeBar::takeLoadedStep(int step, std::unique_ptr<FlowData> loaded)
{
    const bool failed = !loaded;
    seriesPlayer->stepLoaded(step, std::move(loaded));
    // A step that turns out not to read is marked where the bar stands; the
    // picture is still the previous step's.
    if (failed && step == seriesPlayer->position())
        showPosition(step);
}

void TimeBar::addKeysTo(QWidget* view)
{
    if (view->focusPolicy() == Qt::NoFocus)
        view->setFocusPolicy(Qt::ClickFocus);
    // Bound to the view (and this bar) only, so that a focused spin box keeps
    // its own Space and Page keys.
    for (QWidget* target : {view, static_cast<QWidget*>(this)}) {
        if (target == view) {
            auto* space = new QShortcut(QKeySequence(Qt::Key_Space), target);
            space->setContext(Qt::WidgetWithChildrenShortcut);
            connect(space, &QShortcut::activated, this, &TimeBar::togglePlay);
        }
        auto* up = new QShortcut(QKeySequence(Qt::Key_PageUp), target);
        up->setContext(Qt::WidgetWithChildrenShortcut);
        connect(up, &QShortcut::activated, seriesPlayer, &SeriesPlayer::previous);
        auto* down = new QShortcut(QKeySequence(Qt::Key_PageDown), target);
        down->setContext(Qt::WidgetWithChildrenShortcut);
        connect(down, &QShortcut::activated, seriesPlayer, &SeriesPlayer::next);
    }
}

void TimeBar::togglePlay()
{
    seriesPlayer->togglePlay(nowMilliseconds());
}

void TimeBar::setSeries(FlowSeries* series)
{
    rangeSearch->cancel();
    rangeProgress->hide();
    loader->cancel();
    timer->stop();
    rangesSought = false;
    ranges.clear();
    flowSeries.reset(series);
    const FlowSeries* current = flowSeries.get();
    const int count = current ? current->stepCount() : 0;
    {
        const QSignalBlocker blocker(slider);
        slider->setRange(0, qMax(count - 1, 0));
        slider->setPageStep(qMax(1, count / 10));
    }
    seriesPlayer->reset(count, current ? current->chosenIndex() : -1,
                        [current](int step) { return current->isPlayable(step); });
    setVisible(count > 1);
    // Layers that show the whole-series range ask for the new one.
    emit seriesRangesFound(ranges);
}

void TimeBar::findSeriesRanges()
{
    if (!flowSeries || flowSeries->stepCount() < 2 || rangesSought)
        return;
    rangesSought = rangeSearch->start(flowSeries.get());
    if (!rangesSought)
        return;
    rangeProgress->setRange(0, flowSeries->stepCount());
    rangeProgress->setValue(0);
    rangeProgress->show();
}

void TimeBar::showPosition(int step)
{
    if (slider->value() != step) {
        const QSignalBlocker blocker(slider);
        slider->setValue(step);
    }
    if (!flowSeries || step < 0) {
        stepLabel->clear();
        return;
    }
    QString text =
        tr("step %1  %2").arg(flowSeries->stepNumber(step)).arg(flowSeries->stepTimeText(step));
    if (!flowSeries->isPlayable(step)) {
        text += tr(" (missing)");
        stepLabel->setToolTip(flowSeries->stepReason(step));
    } else {
        stepLabel->setToolTip(QString());
    }
    stepLabel->setText(text);
}

bool TimeBar::isFindingRanges() const
{
    return rangeSearch->isRunning();
}
