/*
** markov_bench.cpp -- cost of the herd projection.
**
**   BM_SteadyStatePass    one 12-month pass without collecting, as the
**                         steady-state search runs it up to 500 times
**   BM_CollectingRun300   a 300-month run with collecting, the mode-3
**                         reset of the accumulators included
**   BM_ResetForCollecting the mode-3 reset alone, for 36 and 300 months
**
**   BM_CollectingMonth    one collecting month, its reset included
**
** The herd is the example herd (examples/holstein_lb.bio) under the policy
** of the solver.  The chain prints its
** progress on the console, so run with the report in a file:
**   markov_bench --benchmark_out=markov.txt --benchmark_out_format=console >/dev/null
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "bio/bio.h"
#include "dp/dp.h"
#include "markov/markov.h"
#include "core/records.h"

#include "bench_support.h"

namespace {

/* The example herd (read by load_example_herd) under the solver's
** policy, started from an empty herd and brought to its steady state as
** the run driver does. */
unsigned short BUILD_HERD()
{
    if (DP_POLICY(bio->policy) == 0) {
        std::fprintf(stderr, "markov_bench: the solver did not converge\n");
        std::exit(1);
    }
    RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
    return STEADY_STATE_LOOP([] { MARKOV_CHAIN(1, 12, 0); });
}

void BM_SteadyStatePass(benchmark::State& state)
{
    for (auto _ : state)
        MARKOV_CHAIN(1, 12, 0);
}
BENCHMARK(BM_SteadyStatePass)->Unit(benchmark::kMillisecond);

void BM_CollectingRun300(benchmark::State& state)
{
    for (auto _ : state)
        MARKOV_CHAIN(1, 300, 1);
}
BENCHMARK(BM_CollectingRun300)->Unit(benchmark::kMillisecond);

/* One collecting month, the reset of its accumulators included. */
void BM_CollectingMonth(benchmark::State& state)
{
    for (auto _ : state)
        MARKOV_CHAIN(1, 1, 1);
}
BENCHMARK(BM_CollectingMonth)->Unit(benchmark::kMillisecond);

void BM_ResetForCollecting(benchmark::State& state)
{
    const auto count = static_cast<unsigned short>(state.range(0));
    for (auto _ : state)
        RESET_MKV_RECORD(RESET_COLLECTING, count);
}
BENCHMARK(BM_ResetForCollecting)->Arg(36)->Arg(300)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    /* msg.txt is written by the chain: keep it out of the source tree. */
    enter_scratch_folder("markov-bench");
    load_example_herd("holstein_lb.bio", "markov_bench");
    INIT_MKV_RECORD();
    const unsigned short passes = BUILD_HERD();
    std::fprintf(stderr, "steady state of the example herd after %d passes\n", passes);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove("msg.txt");
    return 0;
}
