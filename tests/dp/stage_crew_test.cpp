// The stage scheduler: every task of every stage runs exactly once, on one
// thread or two, and the environment chooses one thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "dp/stage_crew.h"

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs;
    explicit Tally(int n) : runs(n) {}
};

void count_task(const void* context, int k)
{
    const Tally& tally = *static_cast<const Tally*>(context);
    const_cast<Tally&>(tally).runs[k].fetch_add(1);
}

} // namespace

TEST(StageCrew, EveryTaskOfEveryStageRunsOnce)
{
    /* Task counts that change from stage to stage, many times over: a
    ** helper late from one stage must never take a task of the next. */
    for (int workers : {1, 2}) {
        StageCrew crew(workers);
        for (int stage = 0; stage < 50000; stage++) {
            const int tasks = 1 + stage % 12;
            Tally tally(tasks);
            crew.run(count_task, &tally, tasks);
            for (int k = 0; k < tasks; k++)
                ASSERT_EQ(tally.runs[k].load(), 1) << "workers " << workers << " stage " << stage << " task " << k;
        }
    }
}

TEST(StageCrew, ThreadsFromTheEnvironment)
{
    const char* saved = std::getenv("MORVENDA_THREADS");
    const std::string keep = saved != nullptr ? saved : "";
    unsetenv("MORVENDA_THREADS");
    EXPECT_EQ(stage_threads_from_environment(), 2);
    setenv("MORVENDA_THREADS", "1", 1);
    EXPECT_EQ(stage_threads_from_environment(), 1);
    for (const char* other : {"2", "0", "one", ""}) {
        setenv("MORVENDA_THREADS", other, 1);
        EXPECT_EQ(stage_threads_from_environment(), 2) << other;
    }
    if (saved != nullptr)
        setenv("MORVENDA_THREADS", keep.c_str(), 1);
    else
        unsetenv("MORVENDA_THREADS");
}
