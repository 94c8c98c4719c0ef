/*
** markov_bench.cpp -- cost of the herd projection.
**
**   BM_SteadyStatePass    one 12-month pass without collecting, as the
**                         steady-state search runs it up to 500 times
**   BM_CollectingRun300   a 300-month run with collecting, the mode-3
**                         reset of the accumulators included
**   BM_ResetForCollecting the mode-3 reset alone, for 36 and 300 months
**
** The herd is synthetic: 12 lactations, yield classes that spread to their
** neighbours every month, a policy that inseminates in the breeding window
** and keeps everything else, heifers free to enter.  The chain prints its
** progress on the console, so run with the report in a file:
**   markov_bench --benchmark_out=markov.txt --benchmark_out_format=console >/dev/null
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "markov/markov.h"
#include "run/records.h"

namespace {

void BUILD_HERD()
{
    bio->maxlact = 12;
    bio->vwp[1] = bio->vwp[2] = bio->vwp[3] = 2;
    bio->lbm = 10;
    bio->maxmim = 20;
    bio->start_sea = 1;
    bio->sel_factor = 0.9;
    bio->p_calf = 100.0;
    for (int p = 1; p <= 8; p++)
        bio->abort[p] = 0.01;
    for (int m = 0; m < NMIM; m++)
        for (int s = 0; s < NSEA; s++) {
            bio->heatdetectionrate[m][s] = 0.5;
            for (int l = 0; l < NLACT; l++) {
                bio->conceptionrate[l][m][s] = 0.4;
                bio->pind[l][m][s] = 0.01 + 0.001 * l;
            }
        }
    for (int t = 0; t < NSLOT; t++) {
        bio->p_milk[t] = 0.3;
        bio->p_heifer[t] = 1500.0;
    }
    for (int c = 1; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    for (int s = 0; s < NSEA; s++)
                        bio->milkyield[c][l][m][p][s] = p >= 8 ? 0.0 : 700.0 - 20.0 * m;
                for (int row = 0; row < NSEA; row++) {
                    const int lo = c > 1 ? c - 1 : 1, hi = c < MAXCURR ? c + 1 : MAXCURR;
                    for (int v = lo; v <= hi; v++)
                        bio->pnext[c][l][m][row][v] = 1.0 / (hi - lo + 1);
                    bio->lo[c][l][m][row] = static_cast<short>(lo);
                    bio->hi[c][l][m][row] = static_cast<short>(hi);
                }
            }
    for (int c = 1; c < NCURR; c++)
        bio->pnext[0][0][0][0][c] = 1.0 / MAXCURR;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    for (int t = 0; t < NSLOT; t++)
                        pol->decision[c][l][m][p][t] =
                            (p == 0 && m >= 2 && m <= 10) ? DEC_INSEMINATE : DEC_KEEP;
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 1;
    RESET_MKV_RECORD(4, MAXT);
    /* Start from a settled herd, as the runs after the search do. */
    for (int i = 0; i < 30; i++)
        MARKOV_CHAIN(1, 12, 0);
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

void BM_ResetForCollecting(benchmark::State& state)
{
    const auto count = static_cast<unsigned short>(state.range(0));
    for (auto _ : state)
        RESET_MKV_RECORD(3, count);
}
BENCHMARK(BM_ResetForCollecting)->Arg(36)->Arg(300)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    /* msg.txt is written by the chain: keep it out of the source tree. */
    char dir[] = "/tmp/markov_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0)
        return 1;
    INIT_BIO_RECORD();
    INIT_FUT_RECORD();
    INIT_POL_RECORD();
    INIT_RPO_RECORD();
    INIT_INS_RECORD();
    INIT_DEL_RECORD();
    INIT_MKV_RECORD();
    BUILD_HERD();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove("msg.txt");
    rmdir(dir);
    return 0;
}
