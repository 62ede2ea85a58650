#pragma once

#include <QtGlobal>

#include <algorithm>
#include <thread>
#include <vector>

// How the readers spread one file's work over the cores. The readers link
// nothing of the data sets, whose thread blocks live there, so they start
// their few long threads here: one per part of the file, the calling thread
// taking the first part.
class ReaderThreads
{
public:
    // One thread per core (at most `parts`), or one when the work is below
    // `minimum` units, where starting threads costs more than it saves.
    static int countFor(qint64 units, qint64 minimum, qint64 parts = 64)
    {
        if (units < minimum)
            return 1;
        const qint64 cores = std::max(1u, std::thread::hardware_concurrency());
        return int(std::clamp<qint64>(std::min<qint64>(cores, 64), 1, std::max<qint64>(parts, 1)));
    }

    // work(0) ... work(count - 1), each on its own thread, the calling one
    // doing work(0); returns when every one has.
    template <typename Work> static void run(int count, const Work& work)
    {
        std::vector<std::thread> helpers;
        for (int k = 1; k < count; ++k)
            helpers.emplace_back(work, k);
        work(0);
        for (std::thread& helper : helpers)
            helper.join();
    }
};
