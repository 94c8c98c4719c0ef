/*
** stage_crew.cpp -- the two-thread stage scheduler.
**
** Tasks are handed out one at a time from a counter that also carries the
** stage's generation, so a helper that wakes late takes nothing of a stage
** that has moved on.  The stage ends when every task taken is finished.
** Why the split cannot change a result is told in stage_crew.h.
*/
#include "dp/stage_crew.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {

/* Threads a run uses unless the environment asks for one. */
constexpr int DEFAULT_THREADS = 2;

} // namespace

int stage_threads_from_environment()
{
    const char* v = std::getenv("MORVENDA_THREADS");
    if (v != nullptr && std::strcmp(v, "1") == 0)
        return 1;
    return DEFAULT_THREADS;
}

StageCrew::StageCrew(int workers)
{
    if (workers < 2)
        return;
    try {
        helper_ = std::thread([this] { help(); });
    } catch (const std::system_error&) {
        /* no second thread to be had: the calling thread does it all */
    }
}

StageCrew::~StageCrew()
{
    if (!helper_.joinable())
        return;
    stop_.store(true);
    generation_.fetch_add(1);
    generation_.notify_one();
    helper_.join();
}

void StageCrew::run(Task task, const void* context, int tasks)
{
    const std::uint64_t g = generation_.load() + 1;
    /* The counter moves to the new generation first.  A helper still
    ** looking at the stage before could otherwise read the new task count
    ** while the counter still held the old stage's end, take that number
    ** as a task of its own and run it with the new stage's context, and
    ** the same task would then run twice. */
    next_.store(g << 32);
    task_.store(task);
    context_.store(context);
    tasks_.store(tasks);
    helped_.store(0);
    generation_.store(g);
    if (helper_.joinable())
        generation_.notify_one();
    const int mine = take_tasks(g, false);
    while (mine + helped_.load(std::memory_order_acquire) < tasks_.load())
        std::this_thread::yield();
}

/* Runs tasks of generation g until none is left; returns how many. */
int StageCrew::take_tasks(std::uint64_t g, bool helper)
{
    int count = 0;
    for (;;) {
        std::uint64_t v = next_.load();
        if ((v >> 32) != g)
            break;
        const int k = static_cast<int>(v & 0xffffffffu);
        if (k >= tasks_.load())
            break;
        if (!next_.compare_exchange_weak(v, v + 1))
            continue;
        task_.load()(context_.load(), k);
        count++;
        if (helper)
            helped_.fetch_add(1, std::memory_order_release);
    }
    return count;
}

void StageCrew::help()
{
    std::uint64_t seen = 0;
    for (;;) {
        generation_.wait(seen);
        seen = generation_.load();
        if (stop_.load())
            return;
        take_tasks(seen, true);
    }
}
