/*
** cows_bench.cpp -- what valuing a herd's cows adds to the solve.
**
** The policy of examples/holstein_kg.bio is solved once; then a made-up
** list of 100,000 cows (lactations 1-8, days in milk 5-600, about half
** pregnant, test-day milk, dry cows without it) is valued.  Files are
** written in a temporary directory; the console table goes to /dev/null.
**
**   BM_ReadCowList      reading and checking the CSV file
**   BM_ValueCows        mapping, valuing and ranking
**   BM_WriteRankedFile  the ranked CSV file
**   BM_ConsoleTable     the console table and summary
**   BM_WholeValuation   all four: the time the command adds to the solve
*/
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bio/bio.h"
#include "cows/cow_list.h"
#include "cows/ranked_list.h"
#include "dp/dp.h"
#include "core/records.h"

#include "bench_support.h"

namespace {

constexpr int HERD_SIZE = 100000;
constexpr int APRIL = 4;
const char* const LIST_FILE = "cows.csv";
const char* const RANKED_FILE = "cows_ranked.csv";

/* A list like a real herd's, from a fixed seed. */
std::string made_up_list()
{
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> yield(1.0, 0.11);
    const int lacts[20] = {1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 4, 4, 5, 6, 8};
    std::string text = "id,lact,dim,dcc,milk\n";
    char line[128];
    for (int i = 0; i < HERD_SIZE; i++) {
        const int lact = lacts[static_cast<int>(unit(rng) * 20)];
        const int dim = unit(rng) < 0.9 ? 5 + static_cast<int>(unit(rng) * 395) : 400 + static_cast<int>(unit(rng) * 200);
        int dcc = 0;
        if (dim > 75 && unit(rng) < 0.6) {
            const int conceived = 55 + static_cast<int>(unit(rng) * ((dim - 10 < 330 ? dim - 10 : 330) - 55));
            dcc = dim - conceived > 282 ? 282 : dim - conceived;
        }
        const double curve = (lact == 1 ? 30.0 : 38.0) * (1.0 - dim / 900.0);
        if (dcc >= 213)
            std::snprintf(line, sizeof line, "%d,%d,%d,%d,\n", 100000 + i, lact, dim, dcc);
        else
            std::snprintf(line, sizeof line, "%d,%d,%d,%d,%.1f\n", 100000 + i, lact, dim, dcc, curve * yield(rng));
        text += line;
    }
    return text;
}

/* Solves the example herd and writes the list, once per process. */
void prepare()
{
    static bool ready = false;
    if (ready)
        return;
    ready = true;
    enter_scratch_folder("cows-bench");
    std::FILE* quiet = std::freopen("/dev/null", "r", stdin);
    (void)quiet;
    load_example_herd("holstein_kg.bio", "cows_bench");
    if (DP_POLICY(bio->policy) == 0)
        std::exit(1);
    std::FILE* fp = std::fopen(LIST_FILE, "w");
    const std::string text = made_up_list();
    if (fp == nullptr || std::fwrite(text.data(), 1, text.size(), fp) != text.size() || std::fclose(fp) != 0)
        std::abort();
    std::fflush(stdout);
}

CowList read_list()
{
    CowList list;
    std::string error;
    if (!READ_COW_LIST(LIST_FILE, {}, APRIL, list, error)) {
        std::fprintf(stderr, "cows_bench: %s\n", error.c_str());
        std::exit(1);
    }
    return list;
}

/* The console table with standard output sent to /dev/null. */
void print_quietly(const RankedHerd& cows)
{
    std::fflush(stdout);
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    PRINT_RANKED_TABLE(cows, true);
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
}

void write_ranked(const RankedHerd& cows)
{
    std::string error;
    if (!WRITE_RANKED_FILE(RANKED_FILE, cows, error)) {
        std::fprintf(stderr, "cows_bench: %s\n", error.c_str());
        std::exit(1);
    }
}

void BM_ReadCowList(benchmark::State& state)
{
    prepare();
    for (auto _ : state) {
        CowList list = read_list();
        benchmark::DoNotOptimize(list.rows.data());
    }
    state.counters["cows"] = HERD_SIZE;
}

void BM_ValueCows(benchmark::State& state)
{
    prepare();
    const CowList list = read_list();
    for (auto _ : state) {
        RankedHerd cows = VALUE_COWS(list, true);
        benchmark::DoNotOptimize(cows.order.data());
    }
}

void BM_WriteRankedFile(benchmark::State& state)
{
    prepare();
    const CowList list = read_list();
    const RankedHerd cows = VALUE_COWS(list, true);
    for (auto _ : state)
        write_ranked(cows);
}

void BM_ConsoleTable(benchmark::State& state)
{
    prepare();
    const CowList list = read_list();
    const RankedHerd cows = VALUE_COWS(list, true);
    for (auto _ : state)
        print_quietly(cows);
}

void BM_WholeValuation(benchmark::State& state)
{
    prepare();
    for (auto _ : state) {
        const CowList list = read_list();
        const RankedHerd cows = VALUE_COWS(list, true);
        write_ranked(cows);
        print_quietly(cows);
    }
}

} // namespace

BENCHMARK(BM_ReadCowList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ValueCows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRankedFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConsoleTable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeValuation)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
