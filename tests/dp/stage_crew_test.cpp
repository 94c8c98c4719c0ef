// The stage scheduler: every task of every stage runs exactly once, on one
// thread or two, each thread from its own end of the tasks, and the
// environment chooses one thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "dp/stage_crew.h"

namespace {

struct Tally {
    std::vector<std::atomic<int>> runs;
    std::vector<std::atomic<bool>> by_caller;
    std::thread::id caller = std::this_thread::get_id();
    explicit Tally(int n) : runs(n), by_caller(n) {}
};

void count_task(const void* context, int k)
{
    Tally& tally = *const_cast<Tally*>(static_cast<const Tally*>(context));
    tally.runs[k].fetch_add(1);
    tally.by_caller[k].store(std::this_thread::get_id() == tally.caller);
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
            /* The calling thread works up from the first task and the
            ** helper down from the last, so that each keeps to the same
            ** tasks from stage to stage. */
            for (int k = 1; k < tasks; k++)
                ASSERT_FALSE(tally.by_caller[k] && !tally.by_caller[k - 1]) << "stage " << stage << " task " << k;
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
    setenv("MORVENDA_THREADS", "2", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(stage_threads_from_environment(), 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    /* a value the crew cannot use is named in a warning */
    for (const char* other : {"0", "-1", "abc", "999", ""}) {
        setenv("MORVENDA_THREADS", other, 1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(stage_threads_from_environment(), 2) << other;
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "morvenda: warning: MORVENDA_THREADS='" + std::string(other) + "' is not 1 or 2: 2 threads are used\n");
    }
    if (saved != nullptr)
        setenv("MORVENDA_THREADS", keep.c_str(), 1);
    else
        unsetenv("MORVENDA_THREADS");
}
