#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class FlowData;

// Which step of a series is shown, and when the next one is due: stepping,
// play and pause, looping, and reading one step ahead. Knows no clock and no
// thread: tick(now) is called with the time in milliseconds (a timer in the
// program, a test clock in tests), loads are asked for with loadRequested and
// answered with stepLoaded.
//
// At most one load runs at a time and at most one loaded step waits to be
// shown, so besides the data set on show at most two more are held. When the
// step due is not loaded by the time the following one is due, it is skipped
// rather than waited for; a step that arrives late while playing is still
// shown if it lies between the one on show and the one due. Steps that are not playable are passed
// over.
//
// Ownership: data sets travel as std::unique_ptr. One handed to stepLoaded
// belongs to the player until it is moved into the show receiver, the single
// owner of every step shown (setShowReceiver); one the player no longer needs
// it deletes. Signals carry no data set, so a second listener cannot come to
// own one.
class SeriesPlayer : public QObject
{
    Q_OBJECT

public:
    // Takes the data set of the step to show; the data set shown before stays
    // with the receiver, to delete once everything has switched.
    using ShowReceiver = std::function<void(int step, std::unique_ptr<FlowData> data)>;

    explicit SeriesPlayer(QObject* parent = nullptr);
    ~SeriesPlayer() override;

    // Without a receiver the steps to show are deleted.
    void setShowReceiver(ShowReceiver receiver) { showReceiver = std::move(receiver); }

    // A series of `count` steps with step `shown` on show; stops playing and
    // drops what was read ahead; a load still running must not be answered.
    // `playable` tells whether a step may be shown
    // (all of them without it).
    void reset(int count, int shown, std::function<bool(int)> playable = {});

    int stepCount() const { return count; }
    // The step the bar shows: the one due, which may still be loading.
    int position() const { return playhead; }
    // The step whose data set is on show.
    int shownStep() const { return shown; }
    bool isPlaying() const { return playing; }
    bool isLooping() const { return looping; }
    double framesPerSecond() const { return rate; }
    // Steps passed over while playing because they were not ready in time.
    int skippedFrames() const { return skipped; }
    // The step being read (-1 when none) and the one read ahead (-1 when none).
    int loadingStep() const { return loading; }
    int readAheadStep() const { return aheadStep; }

    // The playable step after / before `step`, wrapping round when looping
    // (after) or never (before); -1 when there is none.
    int nextPlayable(int step, bool wrap) const;
    int previousPlayable(int step) const;

    // The answer to loadRequested: the data set, or null when the step did
    // not load (it is passed over from now on only if `playable` says so).
    // Not a slot, since signals cannot carry the owner.
    void stepLoaded(int step, std::unique_ptr<FlowData> data);

public slots:
    void setLooping(bool loop) { looping = loop; }
    // Frames per second, at least 0.1.
    void setFramesPerSecond(double framesPerSecond);
    // Starts playing at `now`: the next step is due one frame later.
    void play(std::int64_t now);
    void pause();
    void togglePlay(std::int64_t now);
    // Advances while playing when a frame is due.
    void tick(std::int64_t now);
    void seek(int step);
    void first();
    void previous();
    void next();
    void last();

signals:
    void loadRequested(int step);
    // Emitted when the data set of `step` has gone to the show receiver.
    void showRequested(int step);
    void positionChanged(int step);
    void playingChanged(bool playing);

private:
    bool isPlayable(int step) const;
    void goTo(int step);
    // Makes sure `step` is loaded, being loaded or queued behind the load.
    void want(int step);
    void dropReadAhead();
    void show(int step, std::unique_ptr<FlowData> data);
    // Steps from `from` forwards to `to`, round the end when looping.
    int forward(int from, int to) const;

    int count = 0;
    int shown = -1;
    int playhead = -1;
    std::function<bool(int)> playable;
    bool playing = false;
    bool looping = true;
    double rate = 10.0;
    std::int64_t due = 0;
    int skipped = 0;
    int loading = -1;
    int queued = -1;
    int aheadStep = -1;
    std::unique_ptr<FlowData> ahead;
    ShowReceiver showReceiver;
};
