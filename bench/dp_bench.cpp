/*
** dp_bench.cpp -- speed of the value iteration and of the rpo / del files.
**
** The herd is examples/holstein_lb.bio.  Files are written in a temporary
** directory.
**
**   BM_DpPolicy/i/w      the whole DP_POLICY, OPTIMAL, interest i/100 (0 and
**                        0.08), on w threads (2 as in a run, 1 for comparison);
**                        counters: stages, time per stage
**   BM_WriteRpoDel       WRITE_RPO_FILE and WRITE_DEL_FILE together, until saved
**   BM_WritePolRpoDel    the three policy files, until saved
**   BM_PolicyFilesOnRunPath  the three as a run waits for them (their syncs
**                        go on while the herd is projected)
*/
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "bio/bio.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "core/records.h"

#include "bench_support.h"
#include "core/runlog.h"

namespace {

/* Reads the example herd and derives its transitions, once per process. */
void load_herd()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    enter_scratch_folder("dp-bench");
    load_example_herd("holstein_lb.bio", "dp_bench");
}

void clear_results()
{
    std::memset(static_cast<void*>(fut), 0, sizeof(FutRecord));
    RESET_POL_RECORD();
    RESET_RPO_RECORD();
    RESET_INS_RECORD();
    RESET_DEL_RECORD();
}

void BM_DpPolicy(benchmark::State& state)
{
    load_herd();
    bio->interest = static_cast<double>(state.range(0)) / 100.0;
    bio->policy = POLICY_OPTIMAL;
    DP_SET_WORKERS(static_cast<int>(state.range(1)));
    int stages = 0;
    for (auto _ : state) {
        state.PauseTiming();
        clear_results();
        state.ResumeTiming();
        if (DP_POLICY(POLICY_OPTIMAL) != 1)
            state.SkipWithError("not converged");
        stages = DP_STAGES();
    }
    DP_SET_WORKERS(2);
    state.counters["stages"] = stages;
    state.counters["per_stage"] =
        benchmark::Counter(stages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DpPolicy)->ArgsProduct({{0, 8}, {2, 1}})->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

/* Solves the example herd at interest 0 and names the files written. */
void solve_for_files(benchmark::State& state)
{
    load_herd();
    bio->interest = 0.0;
    clear_results();
    if (DP_POLICY(POLICY_OPTIMAL) != 1)
        state.SkipWithError("not converged");
    polfile = "bench.pol";
    rpofile = "bench.rpo";
    delfile = "bench.del";
}

void remove_files()
{
    for (const char* name : {"bench.pol", "bench.rpo", "bench.del", "msg.txt"})
        std::remove(name);
}

/* Waits until the files are saved, timed or not. */
void finish_files(benchmark::State& state, bool timed)
{
    if (!timed)
        state.PauseTiming();
    if (!FINISH_POLICY_FILES())
        state.SkipWithError("not saved");
    if (!timed)
        state.ResumeTiming();
}

void BM_WriteRpoDel(benchmark::State& state)
{
    solve_for_files(state);
    for (auto _ : state) {
        WRITE_RPO_FILE();
        WRITE_DEL_FILE();
        finish_files(state, true);
    }
    remove_files();
}
BENCHMARK(BM_WriteRpoDel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

/* The three policy files of a run, each written through a temporary file,
** synced and renamed; `timed`: until all three are on disk, or as a run
** waits for them (their syncs and renames go on while it projects the
** herd). */
void write_three_files(benchmark::State& state, bool timed)
{
    solve_for_files(state);
    for (auto _ : state) {
        WRITE_POL_FILE();
        WRITE_RPO_FILE();
        WRITE_DEL_FILE();
        finish_files(state, timed);
    }
    remove_files();
}

void BM_WritePolRpoDel(benchmark::State& state)
{
    write_three_files(state, true);
}
BENCHMARK(BM_WritePolRpoDel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_PolicyFilesOnRunPath(benchmark::State& state)
{
    write_three_files(state, false);
}
BENCHMARK(BM_PolicyFilesOnRunPath)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

/* The model's console goes to /dev/null; the report to the original
** standard output. */
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const int saved = dup(1);
    std::ofstream report("/dev/fd/" + std::to_string(saved));
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&report);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
