#include "data/ParallelBlocks.h"

#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

// Callers on several threads at once, and blocks that start runs of their
// own, each see every item handled exactly once, in the blocks the grain
// gives, and none waits for a helper that has not started.
class TestParallelBlocks : public QObject
{
    Q_OBJECT

private slots:
    void everyItemOnce_data();
    void everyItemOnce();
};

void TestParallelBlocks::everyItemOnce_data()
{
    QTest::addColumn<int>("callers");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("grain");
    QTest::addColumn<bool>("nested");

    QTest::newRow("one caller, one block") << 1 << 5 << 10 << false;
    QTest::newRow("one caller, many blocks") << 1 << 10007 << 13 << false;
    QTest::newRow("four callers, many blocks") << 4 << 10007 << 13 << false;
    QTest::newRow("four callers, blocks running runs") << 4 << 60 << 7 << true;
}

void TestParallelBlocks::everyItemOnce()
{
    QFETCH(int, callers);
    QFETCH(int, count);
    QFETCH(int, grain);
    QFETCH(bool, nested);

    constexpr int runsPerCaller = 50;
    constexpr int innerCount = 50;
    std::atomic<int> faults{0};
    const auto caller = [&] {
        std::vector<std::atomic<int>> visits(static_cast<size_t>(count));
        for (int run = 0; run < runsPerCaller; ++run) {
            for (auto& v : visits)
                v.store(0, std::memory_order_relaxed);
            ParallelBlocks::run(count, grain, [&](int block, int first, int last) {
                if (first != block * grain || last > count)
                    faults.fetch_add(1);
                for (int k = first; k < last; ++k)
                    visits[size_t(k)].fetch_add(1, std::memory_order_relaxed);
                if (!nested)
                    return;
                std::atomic<int> inner{0};
                ParallelBlocks::run(innerCount, 3, [&](int, int a, int b) { inner += b - a; });
                if (inner != innerCount)
                    faults.fetch_add(1);
            });
            for (const auto& v : visits)
                if (v.load(std::memory_order_relaxed) != 1)
                    faults.fetch_add(1);
        }
    };
    std::vector<std::thread> threads;
    for (int c = 1; c < callers; ++c)
        threads.emplace_back(caller);
    caller();
    for (std::thread& t : threads)
        t.join();
    QCOMPARE(faults.load(), 0);
}

QTEST_APPLESS_MAIN(TestParallelBlocks)
#include "tst_parallelblocks.moc"
