/*
** sim_bench.cpp -- what simulating herds adds to the solve.
**
** The policy of examples/holstein_kg.bio is solved and its steady state
** found once; then 100 herds of 1,000 places are simulated for 10 years
** (12 million cow-months) on both threads, as `morvenda simulate` runs
** them.  The per-state probabilities are the run's own records, read in
** place; what the simulation adds to memory is reported as the growth of
** the resident set over the first simulation (counter extra_rss_mb).
**
**   BM_SimulateHerds   1,000 places x 10 years x 100 replicates, 2 threads
**   BM_SimulateOneThread   the same on one thread
*/
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "dp/dp.h"
#include "core/records.h"
#include "sim/herd_sim.h"
#include "sim/simulate_command.h"

#include "bench_support.h"

namespace {

constexpr int PLACES = 1000;
constexpr int YEARS = 10;
constexpr int REPLICATES = 100;
constexpr std::uint64_t SEED = 1;

double max_rss_mb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

const SimSetup& herd()
{
    static SimSetup setup = [] {
        enter_scratch_folder("sim");
        /* the run's console lines go to /dev/null, the results do not */
        std::fflush(stdout);
        const int console = dup(1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        load_example_herd("holstein_kg.bio", "sim_bench");
        INIT_MKV_RECORD();
        if (DP_POLICY(bio->policy) == 0) {
            std::fprintf(stderr, "sim_bench: the policy did not converge\n");
            std::exit(1);
        }
        FIND_START_HERD();
        std::fflush(stdout);
        dup2(console, 1);
        close(null);
        close(console);
        return SIM_SETUP(PLACES, YEARS, 2020);
    }();
    return setup;
}

void simulate(benchmark::State& state, int threads)
{
    const SimSetup& setup = herd();
    const double before = max_rss_mb();
    for (auto _ : state) {
        std::vector<SimReplicate> reps = RUN_REPLICATES(setup, SEED, REPLICATES, threads, nullptr);
        benchmark::DoNotOptimize(reps.data());
    }
    state.counters["cow_months_per_s"] = benchmark::Counter(
        static_cast<double>(PLACES) * YEARS * 12 * REPLICATES, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["extra_rss_mb"] = max_rss_mb() - before;
}

void BM_SimulateHerds(benchmark::State& state) { simulate(state, 2); }
void BM_SimulateOneThread(benchmark::State& state) { simulate(state, 1); }

BENCHMARK(BM_SimulateHerds)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_SimulateOneThread)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

} // namespace

BENCHMARK_MAIN();
