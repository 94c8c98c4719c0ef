/*
** stage_crew.h -- the two threads that share the cow states of a stage.
**
** A stage of the value iteration reads only the old working buffer and
** writes only the new one, and each cow state writes its own cells of the
** new buffer and of the result records.  No state reads what another state
** of the same stage writes, and every state is computed by the same
** arithmetic in the same order whichever thread runs it.  Splitting the
** states over threads therefore cannot change a single result: the files
** of a run on one thread and on two are the same to the byte.
**
** Work is handed out as numbered tasks (the stage uses one per
** lactation).  The calling thread takes tasks itself and never waits for a
** helper that has not started: on a busy machine it simply does them all.
*/
#ifndef MORVENDA_STAGE_CREW_H
#define MORVENDA_STAGE_CREW_H

#include <atomic>
#include <cstdint>
#include <thread>

/* Threads of the value iteration: 2, or 1 when the environment sets
** MORVENDA_THREADS=1; any value but 1 or 2 is warned of on the error
** stream, naming it, and 2 threads are used. */
int stage_threads_from_environment();

class StageCrew {
public:
    /* A task: runs task number k (0..tasks - 1) of the stage `context`. */
    using Task = void (*)(const void* context, int k);

    /* workers: 1 runs every task on the calling thread, 2 adds a helper. */
    explicit StageCrew(int workers);
    ~StageCrew();
    StageCrew(const StageCrew&) = delete;
    StageCrew& operator=(const StageCrew&) = delete;

    /* Runs tasks 0..tasks - 1 and returns when all are done. */
    void run(Task task, const void* context, int tasks);

private:
    int take_tasks(std::uint64_t generation, bool helper);
    void help();

    std::thread helper_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint64_t> next_{0}; /* generation << 32 | next task */
    std::atomic<Task> task_{nullptr};
    std::atomic<const void*> context_{nullptr};
    std::atomic<int> tasks_{0};
    std::atomic<int> helped_{0};
    std::atomic<bool> stop_{false};
};

#endif
