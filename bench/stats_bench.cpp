/*
** stats_bench.cpp -- the herd statistics and the report of a 300-month
** projection.
**
** A dense projection is made up once: every state of every month carries
** some mass, so no sum is skipped.  Each iteration runs MARKOV_CHAIN_STATS
** and WRITE_MKV_STATS on it; the totals the statistics leave in the record
** then grow from one iteration to the next, which costs nothing extra.
*/
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "core/records.h"
#include "stats/stats.h"

namespace {

/* The routines log to the console; the benchmark's own report must not
** drown in it.  Sends standard output to /dev/null until the returned
** descriptor is handed to console_back. */
int console_off()
{
    std::fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    return saved;
}

void console_back(int saved)
{
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
}

void make_projection()
{
    INIT_BIO_RECORD();
    INIT_MKV_RECORD();
    std::memset(static_cast<void*>(mkv), 0, sizeof(MkvRecord));
    bio->analysis = 2;
    bio->interest = 0.06;
    bio->start_sea = 4;
    bio->maxlact = 12;
    bio->p_lactfeed = 0.2;
    for (int c = 1; c <= MAXCURR; c++)
        bio->smy[c] = 0.7 + 0.04 * c;
    for (int t = 1; t < NSLOT; t++)
        bio->p_heifer[t] = 1500.0;
    resfile = "stats_bench_res.txt";
    runname = "bench";

    for (int t = 1; t <= MAXT; t++) {
        double x = 0.001 * (1 + t % 7);
        mkv->total_cash[t] = 150.0 + t % 11;
        mkv->milksales[t] = 400.0;
        mkv->cwt[t] = 9.0;
        mkv->milking[t] = 0.85;
        mkv->dim_sum[t] = 150.0;
        mkv->serv_n[t] = 0.1;
        mkv->serv_preg[t] = 0.04;
        mkv->delayed_n[t] = 0.02;
        for (int c = 1; c <= MAXCURR; c++) {
            mkv->open[c][t] = x;
            mkv->preg[c][t] = 2 * x;
            mkv->present[c][t] = 3 * x;
            mkv->repl[c][t] = x / 10;
            mkv->pind[c][t] = x / 20;
            for (int m = 1; m <= MAXMIM; m++) {
                mkv->delval[c][m][t] = x;
                mkv->delval_n[c][m][t] = x;
                mkv->replopen_n[c][m][t] = x;
                mkv->replopen_mlk[c][m][t] = x * 800;
            }
            for (int l = 1; l <= MAXLACT; l++) {
                mkv->newpreg[c][l][t] = x;
                for (int m = 1; m <= MAXMIM; m++) {
                    mkv->conceptions[t][c][l][m] = x;
                    mkv->delayserv[t][c][l][m] = x;
                    mkv->firstserv[t][c][l][m] = x;
                    mkv->bred[t][c][l][m] = m < 12 ? x : 0.0;
                    for (int p = 0; p <= MAXMPREG; p++) {
                        mkv->rpo_vwp[c][l][m][p] += 500 * x;
                        mkv->rpo_vwp_n[c][l][m][p] += x;
                        mkv->rpo_vwp_t[t][p] += 500 * x;
                        mkv->rpo_vwp_t_n[t][p] += x;
                        if (p >= 1) {
                            mkv->rpo_vwp_t[t][10] += 500 * x;
                            mkv->rpo_vwp_t_n[t][10] += x;
                        }
                    }
                }
            }
        }
        for (int l = 1; l <= MAXLACT; l++)
            for (int m = 1; m <= MAXMIM; m++)
                mkv->calvings[l][m][t] = x;
        for (int m = 1; m <= MAXMIM; m++) {
            mkv->milkyield[m][t] = 30.0;
            mkv->cows_mim[m][t] = 0.04;
            mkv->insval[m][t] = x;
            mkv->breedable_mim[m][t] = x;
            mkv->pind_mim[m][t] = x;
            mkv->repl_mim[m][t] = x;
        }
    }
}

void BM_StatsAndReport300(benchmark::State& state)
{
    static bool made = false;
    int saved = console_off();
    if (!made) {
        make_projection();
        made = true;
    }
    for (auto _ : state) {
        MARKOV_CHAIN_STATS(300);
        WRITE_MKV_STATS(300);
        benchmark::ClobberMemory();
    }
    console_back(saved);
    std::remove("stats_bench_res.txt");
}

} // namespace

BENCHMARK(BM_StatsAndReport300)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
