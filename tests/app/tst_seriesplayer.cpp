#include "app/SeriesPlayer.h"
#include "data/FlowData.h"

#include <QHash>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

// Counts the data sets alive, to check the player's memory bound.
struct CountedData : FlowData
{
    static int alive;
    CountedData() { ++alive; }
    ~CountedData() override { --alive; }
};
int CountedData::alive = 0;

// Plays the loader and the main window for a player: answers loads when the
// script says so (or at once), owns the shown data set.
class Harness : public QObject
{
public:
    SeriesPlayer player;
    QSet<int> unplayable;
    bool instant = false;
    int pending = -1;
    bool overlapped = false;
    QStringList shown;
    std::unique_ptr<FlowData> onShow;
    int mostAlive = 0;

    Harness()
    {
        connect(&player, &SeriesPlayer::loadRequested, this, [this](int step) {
            overlapped = overlapped || pending >= 0;
            pending = step;
            if (instant)
                answer(true);
        });
        player.setShowReceiver([this](int step, std::unique_ptr<FlowData> data) {
            onShow = std::move(data);
            shown << QString::number(step);
        });
    }

    void answer(bool ok)
    {
        const int step = std::exchange(pending, -1);
        if (step < 0)
            return;
        std::unique_ptr<FlowData> data;
        if (ok)
            data.reset(new CountedData);
        else
            unplayable.insert(step); // as the series marks a step that does not read
        mostAlive = std::max(mostAlive, CountedData::alive);
        player.stepLoaded(step, std::move(data));
    }
};

} // namespace

class TestSeriesPlayer : public QObject
{
    Q_OBJECT

private slots:
    void plays_data();
    void plays();
};

void TestSeriesPlayer::plays_data()
{
    QTest::addColumn<QString>("unplayable");
    QTest::addColumn<double>("framesPerSecond");
    // instant (loads answered at once), noloop, play@T, tick@T, pause, load /
    // fail (answer the running load), settle (answer until none runs), next,
    // prev, first, last, seekK. Four steps, step 0 on show.
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<bool>("playing");

    QTest::newRow("loops") << "" << 10.0
                           << "instant play@0 tick@100 tick@200 tick@300 tick@400 tick@450 tick@500"
                           << "1 2 3 0 1" << 1 << 0 << true;
    QTest::newRow("stops at the end without loop")
        << "" << 10.0 << "instant noloop play@0 tick@100 tick@200 tick@300 tick@400"
        << "1 2 3" << 3 << 0 << false;
    QTest::newRow("play at the end starts over")
        << "" << 10.0 << "instant noloop last play@0 tick@100"
        << "3 0 1" << 1 << 0 << true;
    QTest::newRow("frames not ready in time are skipped")
        << "" << 10.0 << "play@0 tick@100 tick@200 tick@300 load load"
        << "1 3" << 3 << 2 << true;
    QTest::newRow("loads slower than a frame still show")
        << "" << 10.0 << "play@0 tick@100 tick@200 load tick@300 load"
        << "1 2" << 3 << 2 << true;
    QTest::newRow("late frame shown while still due") << "" << 10.0 << "play@0 tick@100 load"
                                                      << "1" << 1 << 0 << true;
    QTest::newRow("unplayable steps passed over")
        << "1 2" << 10.0 << "instant play@0 tick@100 tick@200"
        << "3 0" << 0 << 0 << true;
    QTest::newRow("failed step passed over")
        << "" << 10.0 << "play@0 fail settle tick@100 settle tick@200"
        << "2 3" << 3 << 0 << true;
    QTest::newRow("manual steps wait for their load")
        << "" << 10.0 << "next settle next settle prev settle last settle first settle"
        << "1 2 1 3 0" << 0 << 0 << false;
    QTest::newRow("seek while a load runs") << "" << 10.0 << "seek2 seek3 load load"
                                            << "3" << 3 << 0 << false;
    QTest::newRow("frame rate") << "" << 20.0 << "instant play@0 tick@49 tick@50 tick@99 tick@100"
                                << "1 2" << 2 << 0 << true;
    QTest::newRow("beat restarts after a stall")
        << "" << 10.0 << "instant play@0 tick@1000 tick@1050 tick@1100"
        << "1 2" << 2 << 0 << true;
    QTest::newRow("pause") << "" << 10.0 << "instant play@0 tick@100 pause tick@200 tick@300"
                           << "1" << 1 << 0 << false;
}

void TestSeriesPlayer::plays()
{
    QFETCH(QString, unplayable);
    QFETCH(double, framesPerSecond);
    QFETCH(QString, script);
    QFETCH(QString, shown);
    QFETCH(int, position);
    QFETCH(int, skipped);
    QFETCH(bool, playing);

    {
        Harness harness;
        for (const QString& step : unplayable.split(' ', Qt::SkipEmptyParts))
            harness.unplayable.insert(step.toInt());
        SeriesPlayer& player = harness.player;
        player.reset(4, 0, [&harness](int step) { return !harness.unplayable.contains(step); });
        player.setFramesPerSecond(framesPerSecond);
        const QHash<QString, void (SeriesPlayer::*)()> buttons{{"pause", &SeriesPlayer::pause},
                                                               {"next", &SeriesPlayer::next},
                                                               {"prev", &SeriesPlayer::previous},
                                                               {"first", &SeriesPlayer::first},
                                                               {"last", &SeriesPlayer::last}};
        for (const QString& command : script.split(' ', Qt::SkipEmptyParts)) {
            const qint64 time = command.section('@', 1).toLongLong();
            if (command == "instant")
                harness.instant = true;
            else if (command == "noloop")
                player.setLooping(false);
            else if (command.startsWith("play@"))
                player.play(time);
            else if (command.startsWith("tick@"))
                player.tick(time);
            else if (buttons.contains(command))
                (player.*buttons.value(command))();
            else if (command == "load" || command == "fail")
                harness.answer(command == "load");
            else if (command == "settle")
                while (harness.pending >= 0)
                    harness.answer(true);
            else if (command.startsWith("seek"))
                player.seek(command.mid(4).toInt());
            else
                QFAIL(qPrintable("unknown command " + command));
        }
        QCOMPARE(harness.shown.join(' '), shown);
        QCOMPARE(player.position(), position);
        QCOMPARE(player.skippedFrames(), skipped);
        QCOMPARE(player.isPlaying(), playing);
        QVERIFY(!harness.overlapped);
        // The shown data set, one read ahead, one being read.
        QVERIFY2(harness.mostAlive <= 3, qPrintable(QString::number(harness.mostAlive)));
        harness.answer(true);
    }
    QCOMPARE(CountedData::alive, 0);
}

QTEST_GUILESS_MAIN(TestSeriesPlayer)
#include "tst_seriesplayer.moc"
