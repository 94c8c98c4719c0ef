/*
** calib_bench.cpp -- how long `morvenda calibrate` takes beyond its model
** run: reading one herd's records and fitting them, for one real herd of
** the examples and for the 60 herds of the shared records (each read from
** the files of all of them, as the command line does with --herd).
*/
#include <benchmark/benchmark.h>

#include <set>
#include <string>
#include <vector>

#include "bench_support.h"
#include "calib/calib_fit.h"
#include "calib/calib_records.h"
#include "core/input_file.h"
#include "bio/bio_items.h"

namespace {

const char* const COLUMNS =
    "tests.herd=herd_id,tests.cow=anim_id,tests.date=ctrl_date,tests.lact=parity,tests.calving=calv_date,"
    "inseminations.herd=herd_id,inseminations.cow=cow_id,inseminations.date=ai_date,exits.herd=herd_id,"
    "exits.cow=anim_id,exits.entry=date_in,exits.entry_reason=cause_in,exits.date=date_out,exits.reason=caus_out,"
    "cows.cow=anim_id,cows.birth=birth_date";

RecordSources sources(const std::string& dir, const std::string& herd)
{
    RecordSources s;
    s.tests = dir + "/rec.csv";
    s.inseminations = dir + "/ai.csv";
    s.exits = dir + "/mvt.csv";
    s.cows = dir + "/anim.csv";
    s.herd = herd;
    parse_column_map(COLUMNS, s.columns);
    parse_exit_reasons("B=culled,M=died,E=sold,H=moved,C=ignore", s.exit_reasons);
    return s;
}

BaseValues base()
{
    std::string text, why;
    READ_INPUT_FILE(std::string(MORVENDA_SOURCE_DIR) + "/examples/holstein_kg.bio", LARGEST_BIO_FILE, text, why);
    return bio_values(text);
}

bool calibrate(const RecordSources& s, const BaseValues& b)
{
    HerdRecords rec;
    std::string error;
    if (!READ_HERD_RECORDS(s, rec, error))
        return false;
    const CalibResult r = CALIBRATE_HERD(rec, b, CalibOptions());
    benchmark::DoNotOptimize(r.estimates.data());
    return r.missing.empty();
}

/* One herd of about 1,800 test days and 700 inseminations. */
void BM_CalibrateOneHerd(benchmark::State& state)
{
    const BaseValues b = base();
    const RecordSources s = sources(std::string(MORVENDA_SOURCE_DIR) + "/examples/herd-records", "FR000001");
    for (auto _ : state)
        if (!calibrate(s, b))
            state.SkipWithError("FR000001 did not calibrate");
}
BENCHMARK(BM_CalibrateOneHerd)->Unit(benchmark::kMillisecond);

/* The 60 herds of the shared records, one after the other. */
void BM_CalibrateSixtyHerds(benchmark::State& state)
{
    const BaseValues b = base();
    const std::string dir = std::string(MORVENDA_SOURCE_DIR) + "/../shared/data/herd-records";
    std::string text, why;
    if (READ_INPUT_FILE(dir + "/rec.csv", 64u << 20, text, why) != InputRead::read) {
        state.SkipWithError("no shared herd records");
        return;
    }
    std::set<std::string> herds;
    for (std::size_t at = text.find('\n'); at != std::string::npos && at + 1 < text.size(); at = text.find('\n', at + 1))
        herds.insert(text.substr(at + 1, text.find(',', at + 1) - at - 1));
    herds.erase("");
    for (auto _ : state) {
        int ok = 0;
        for (const std::string& h : herds)
            ok += calibrate(sources(dir, h), b);
        state.counters["herds"] = static_cast<double>(herds.size());
        state.counters["calibrated"] = ok;
    }
}
BENCHMARK(BM_CalibrateSixtyHerds)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
