/*
** bio_bench.cpp -- time of reading the example herd and deriving its
** yield-class transitions (with the calving-interval adjustment), the
** work a run does before the dynamic program starts.
*/
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bio/bio.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

/* Sends the console log to /dev/null while a phase runs. */
class QuietConsole {
public:
    QuietConsole()
    {
        std::fflush(stdout);
        saved_ = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietConsole()
    {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

void BM_ReadBioAndProbabilities(benchmark::State& state)
{
    /* msg.txt is written in the working directory */
    std::string dir = (std::filesystem::temp_directory_path() / "morvenda-bench").string();
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    const std::string file = std::string(MORVENDA_SOURCE_DIR) + "/examples/holstein_lb.bio";
    {
        QuietConsole quiet;
        INIT_BIO_RECORD();
    }
    for (auto _ : state) {
        QuietConsole quiet;
        runname = file;
        if (READ_BIO_FILE() != 0 || bio->ci_adjust != 1) {
            state.SkipWithError("example herd not read");
            break;
        }
        BIO_PROBABILITY();
        benchmark::DoNotOptimize(bio->pnext[8][1][14][3][8]);
    }
}

} // namespace

BENCHMARK(BM_ReadBioAndProbabilities)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
