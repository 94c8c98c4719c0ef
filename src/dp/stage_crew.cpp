/*
** stage_crew.cpp -- the two-thread stage scheduler.
**
** Tasks are handed out one at a time from a counter that also carries the
** stage's generation, so a helper that wakes late takes nothing of a stage
** that has moved on.  The stage ends when every task taken is finished.
** Why the split cannot change a result is told in stage_crew.h.
**
** The calling thread takes tasks from the low end and the helper from the
** high end, so each thread keeps to the same lactations stage after stage
** and finds the values it wrote in the stage before still in its own
** cache.  Handed out from one end, a lactation went to whichever thread
** came first, and the stage spent more time fetching the other core's
** lines than the second thread saved: two threads were slower than one.
**
** The counter word: generation << 32 | high end << 16 | low end; the
** tasks left are low .. high - 1.
*/
#include "dp/stage_crew.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace {

/* Threads a run uses unless the environment asks for one. */
constexpr int DEFAULT_THREADS = 2;
/* Bits of each end of the task range in the counter word. */
constexpr int END_BITS = 16;
constexpr std::uint64_t END_MASK = (std::uint64_t{1} << END_BITS) - 1;
constexpr int GENERATION_SHIFT = 2 * END_BITS;

} // namespace

int stage_threads_from_environment()
{
    const char* v = std::getenv("MORVENDA_THREADS");
    if (v == nullptr || std::strcmp(v, "2") == 0)
        return DEFAULT_THREADS;
    if (std::strcmp(v, "1") == 0)
        return 1;
    /* A value the crew cannot use: said on the error stream, which the
    ** console log of a run does not share, before the run starts. */
    std::fprintf(stderr, "morvenda: warning: MORVENDA_THREADS='%s' is not 1 or 2: %d threads are used\n", v,
                 DEFAULT_THREADS);
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
    assert(tasks >= 0 && static_cast<std::uint64_t>(tasks) <= END_MASK);
    const std::uint64_t g = generation_.load() + 1;
    /* The counter moves to the new generation first.  A helper still
    ** looking at the stage before could otherwise read the new task count
    ** while the counter still held the old stage's end, take that number
    ** as a task of its own and run it with the new stage's context, and
    ** the same task would then run twice. */
    next_.store(g << GENERATION_SHIFT | static_cast<std::uint64_t>(tasks) << END_BITS);
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

/* Runs tasks of generation g until none is left, from the low end for the
** calling thread and from the high end for the helper; returns how many. */
int StageCrew::take_tasks(std::uint64_t g, bool helper)
{
    constexpr std::uint64_t ONE_HIGH = std::uint64_t{1} << END_BITS;
    int count = 0;
    for (;;) {
        std::uint64_t v = next_.load();
        if ((v >> GENERATION_SHIFT) != g)
            break;
        const int low = static_cast<int>(v & END_MASK);
        const int high = static_cast<int>((v >> END_BITS) & END_MASK);
        if (low >= high)
            break;
        const int k = helper ? high - 1 : low;
        if (!next_.compare_exchange_weak(v, helper ? v - ONE_HIGH : v + 1))
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
