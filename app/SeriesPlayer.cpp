#include "app/SeriesPlayer.h"

#include "data/FlowData.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {
constexpr double minimumRate = 0.1;
} // namespace

SeriesPlayer::SeriesPlayer(QObject* parent) : QObject(parent) {}

SeriesPlayer::~SeriesPlayer() = default;

void SeriesPlayer::reset(int newCount, int newShown, std::function<bool(int)> newPlayable)
{
    pause();
    dropReadAhead();
    count = std::max(newCount, 0);
    shown = newShown >= 0 && newShown < count ? newShown : -1;
    playable = std::move(newPlayable);
    playhead = shown;
    // The caller drops a load still running for the previous series.
    loading = -1;
    queued = -1;
    skipped = 0;
    emit positionChanged(playhead);
}

bool SeriesPlayer::isPlayable(int step) const
{
    return step >= 0 && step < count && (!playable || playable(step));
}

int SeriesPlayer::nextPlayable(int step, bool wrap) const
{
    for (int k = step + 1; k < count; ++k)
        if (isPlayable(k))
            return k;
    if (!wrap)
        return -1;
    for (int k = 0; k < std::min(step, count); ++k)
        if (isPlayable(k))
            return k;
    return -1;
}

int SeriesPlayer::previousPlayable(int step) const
{
    for (int k = std::min(step, count) - 1; k >= 0; --k)
        if (isPlayable(k))
            return k;
    return -1;
}

void SeriesPlayer::setFramesPerSecond(double framesPerSecond)
{
    rate = std::isfinite(framesPerSecond) ? std::max(framesPerSecond, minimumRate) : 10.0;
}

void SeriesPlayer::play(std::int64_t now)
{
    if (playing || count < 2)
        return;
    // At the end without looping, play starts over.
    if (!looping && nextPlayable(playhead, false) < 0) {
        const int start = nextPlayable(-1, false);
        if (start >= 0 && start != playhead)
            goTo(start);
    }
    playing = true;
    due = now + std::int64_t(std::llround(1000.0 / rate));
    want(nextPlayable(playhead, looping));
    emit playingChanged(true);
}

void SeriesPlayer::pause()
{
    if (!playing)
        return;
    playing = false;
    emit playingChanged(false);
}

void SeriesPlayer::togglePlay(std::int64_t now)
{
    if (playing)
        pause();
    else
        play(now);
}

void SeriesPlayer::tick(std::int64_t now)
{
    if (!playing || now < due)
        return;
    const int step = nextPlayable(playhead, looping);
    if (step < 0) {
        pause();
        return;
    }
    const std::int64_t period = std::max<std::int64_t>(1, std::llround(1000.0 / rate));
    due += period;
    // After a stall (a slow paint, a suspended machine) the beat restarts
    // from now instead of racing through the frames it missed.
    if (due <= now)
        due = now + period;
    if (playhead != shown)
        ++skipped;
    goTo(step);
    if (!looping && nextPlayable(playhead, false) < 0 && shown == playhead)
        pause();
}

void SeriesPlayer::seek(int step)
{
    if (step >= 0 && step < count && step != playhead)
        goTo(step);
}

void SeriesPlayer::first()
{
    seek(nextPlayable(-1, false));
}

void SeriesPlayer::previous()
{
    seek(previousPlayable(playhead));
}

void SeriesPlayer::next()
{
    seek(nextPlayable(playhead, false));
}

void SeriesPlayer::last()
{
    seek(previousPlayable(count));
}

void SeriesPlayer::goTo(int step)
{
    playhead = step;
    emit positionChanged(step);
    if (step != shown && aheadStep == step) {
        aheadStep = -1;
        show(step, std::move(ahead));
    } else if (step != shown) {
        dropReadAhead();
        want(step);
        return;
    }
    want(nextPlayable(step, looping));
}

void SeriesPlayer::want(int step)
{
    if (step < 0 || step == shown || step == aheadStep || step == loading)
        return;
    if (loading >= 0) {
        queued = step;
        return;
    }
    loading = step;
    emit loadRequested(step);
}

int SeriesPlayer::forward(int from, int to) const
{
    const int distance = to - from;
    return looping && distance < 0 ? distance + count : distance;
}

void SeriesPlayer::dropReadAhead()
{
    ahead.reset();
    aheadStep = -1;
}

void SeriesPlayer::show(int step, std::unique_ptr<FlowData> data)
{
    shown = step;
    if (showReceiver)
        showReceiver(step, std::move(data));
    emit showRequested(step);
}

void SeriesPlayer::stepLoaded(int step, std::unique_ptr<FlowData> data)
{
    if (step != loading)
        return;
    loading = -1;
    const int waiting = std::exchange(queued, -1);
    // While playing, a step between the one on show and the one due is shown
    // although it came late: with loads slower than a frame, every step would
    // otherwise arrive after its successor was due and none would be shown.
    const bool onTheWay = playing && shown >= 0 && forward(shown, step) > 0 &&
                          forward(shown, step) <= forward(shown, playhead);
    if (data && step != shown && (step == playhead || onTheWay)) {
        show(step, std::move(data));
        if (!looping && playing && nextPlayable(step, false) < 0)
            pause();
    } else if (data && step == nextPlayable(playhead, looping) && step != shown) {
        dropReadAhead();
        ahead = std::move(data);
        aheadStep = step;
    }
    if (waiting >= 0 && waiting != step)
        want(waiting);
    else
        want(nextPlayable(playhead, looping));
}
