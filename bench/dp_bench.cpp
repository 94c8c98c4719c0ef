/*
** dp_bench.cpp -- speed of the value iteration and of the rpo / del files.
**
** The herd is examples/holstein_lb.bio when the bio reader can read it;
** otherwise a hand-set herd of twelve lactations with yield classes that
** spread over up to seven classes at calving.  The console goes to
** /dev/null; files are written in a temporary directory.
**
**   BM_DpPolicy/i/w      the whole DP_POLICY, OPTIMAL, interest i/100 (0 and
**                        0.08), on w threads (2 as in a run, 1 for comparison);
**                        counters: stages, time per stage
**   BM_WriteRpoDel       WRITE_RPO_FILE and WRITE_DEL_FILE together
*/
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "bio/bio.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "run/records.h"
#include "run/runlog.h"

namespace {

void spread_row(int s, int lact, int mim, int k, int width)
{
    double* row = bio->pnext[s][lact][mim][k];
    for (int c = 0; c < NCURR; c++)
        row[c] = 0.0;
    int lo = s - width < 1 ? 1 : s - width;
    int hi = s + width > 15 ? 15 : s + width;
    double sum = 0.0;
    for (int c = lo; c <= hi; c++) {
        row[c] = 1.0 / (1.0 + std::abs(c - s));
        sum += row[c];
    }
    for (int c = lo; c <= hi; c++)
        row[c] /= sum;
    bio->lo[s][lact][mim][k] = static_cast<short>(lo);
    bio->hi[s][lact][mim][k] = static_cast<short>(hi);
}

void hand_set_herd()
{
    std::memset(static_cast<void*>(bio), 0, sizeof(BioRecord));
    bio->kg = 1;
    bio->maxlact = 12;
    bio->vwp[1] = bio->vwp[2] = bio->vwp[3] = 2;
    bio->lbm = 10;
    bio->maxmim = 20;
    bio->start_sea = 1;
    bio->fixedcost1 = bio->fixedcost2 = 0.5;
    bio->p_calf = 100.0;
    bio->sel_factor = 1.0;
    bio->cullcost = 50.0;
    bio->wage = 15.0;
    bio->instime = 20.0;
    bio->inscost = 15.0;
    bio->minrev = -1e9;
    for (int t = 0; t < NSLOT; t++) {
        bio->p_heifer[t] = 1400.0 + 20.0 * (t % 12);
        bio->serve[t] = bio->enter[t] = 8;
    }
    for (int p = 1; p < NMPREG; p++)
        bio->abort[p] = 0.01;
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++) {
            for (int sea = 1; sea <= 12; sea++) {
                bio->pind[l][m][sea] = 0.01 + 0.004 * l;
                bio->conceptionrate[l][m][sea] = 0.45 - 0.02 * l;
                bio->heatdetectionrate[m][sea] = 0.5;
                bio->reprocost[m][sea] = 4.0;
            }
            for (int t = 1; t < NSLOT; t++)
                bio->sel[l][m][t] = 800.0 - 6.0 * m - 20.0 * l;
        }
    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 12; l++)
            for (int m = 1; m <= 24; m++)
                for (int p = 0; p <= 9; p++) {
                    double daily = (l == 1 ? 27.0 : 34.0) * (100.0 + 4.0 * (c - 8)) / 100.0 *
                                   std::exp(-0.06 * (m - 2)) * (p >= 8 ? 0.0 : 1.0);
                    for (int sea = 1; sea <= 12; sea++)
                        bio->milkyield[c][l][m][p][sea] = daily * 30.4;
                    for (int t = 1; t < NSLOT; t++)
                        bio->rev[c][l][m][p][t] = daily * 30.4 * (0.33 + (t % 12 < 4 ? 0.02 : 0.0)) - 136.8;
                }
    for (int s = 1; s <= 15; s++)
        for (int l = 0; l <= 12; l++)
            for (int m = 0; m <= 24; m++) {
                spread_row(s, l, m, 0, m < 10 ? 2 : 0);
                for (int k = 1; k <= 12; k++)
                    spread_row(s, l, m, k, 3);
            }
    for (int c = 0; c < NCURR; c++)
        bio->pnext[0][0][0][0][c] = bio->pnext[8][1][1][1][c];
}

/* Reads the example herd, or sets the stand-in; once per process. */
void load_herd()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    char tmpl[] = "/tmp/morvenda-dp-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr || chdir(tmpl) != 0)
        std::abort();
    INIT_BIO_RECORD();
    runname = std::string(MORVENDA_SOURCE_DIR) + "/examples/holstein_lb.bio";
    bool example = false;
    if (std::FILE* f = std::fopen(runname.c_str(), "r")) {
        std::fclose(f);
        if (READ_BIO_FILE() == 0 && bio->maxlact > 0) {
            BIO_PROBABILITY();
            example = true;
        }
    }
    if (!example)
        hand_set_herd();
    std::fprintf(stderr, "dp_bench herd: %s\n", example ? "examples/holstein_lb.bio" : "hand-set stand-in");
    warmstart = 0;
    INIT_FUT_RECORD();
    INIT_POL_RECORD();
    INIT_RPO_RECORD();
    INIT_INS_RECORD();
    INIT_DEL_RECORD();
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

void BM_WriteRpoDel(benchmark::State& state)
{
    load_herd();
    bio->interest = 0.0;
    clear_results();
    if (DP_POLICY(POLICY_OPTIMAL) != 1)
        state.SkipWithError("not converged");
    rpofile = "bench.rpo";
    delfile = "bench.del";
    for (auto _ : state) {
        WRITE_RPO_FILE();
        WRITE_DEL_FILE();
    }
    std::remove("bench.rpo");
    std::remove("bench.del");
    std::remove("msg.txt");
}
BENCHMARK(BM_WriteRpoDel)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

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
