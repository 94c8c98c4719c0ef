/*
** simulate_command.cpp -- morvenda simulate.
**
** The options are checked before anything is read, so that a bad number
** costs no solve.  The policy is then obtained with the run's own routines
** in the run's order (bio file, biology, records, value iteration or pol
** file), writing none of the run's files; the start herd is found as the
** run finds it; and the chain's own collecting projection and statistics
** give the expectation the console shows beside the simulated herds.
**
** Replicates run on two threads, each replicate with random streams of its
** own (sim_random.h), and are gathered in replicate order, so the summary
** is the same bytes on one thread or two.
**
** A fatal error of a routine unwinds here through END_RUN.
*/
#include "sim/simulate_command.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <thread>

#include "bio/bio.h"
#include "dp/dp.h"
#include "markov/markov.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/runlog.h"
#include "sim/sim_figures.h"
#include "sim/sim_records.h"
#include "stats/stats.h"

namespace {

/* ---- constants -------------------------------------------------------- */

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
const char* const SUMMARY_SUFFIX = "_sim.csv";

constexpr long long MAX_PLACES = 100000;
constexpr long long MAX_YEARS = 50;
constexpr long long MAX_REPLICATES = 100000;
constexpr double MAX_COW_MONTHS = 1e10;
/* Start years whose records (births up to some 20 years before the start,
** the last day 50 years after it) keep four-digit years. */
constexpr long long MIN_START_YEAR = 1900;
constexpr long long MAX_START_YEAR = 9900;
constexpr double MAX_TEST_DAY_CV = 10.0;
/* Both cores of the machine the model is made for. */
constexpr int SIM_THREADS = 2;
/* Statistic years the chain's report covers. */
constexpr int CHAIN_YEARS = 3;

const char* const USAGE =
    "usage: morvenda simulate HERD.bio [--cows N] [--years Y] [--replicates R] [--seed S] [--start YYYY]\n"
    "                         [--records DIR] [--death-share X] [--test-day-cv X] [-o SUMMARY.csv]\n"
    "  N 1..100000 places (100), Y 1..50 years (5), R 1..100000 replicates (100),\n"
    "  N x Y x R x 12 at most 10^10 cow-months; S a whole number 0..2^64-1 (1);\n"
    "  YYYY 1900..9900 (2020); X of --death-share 0..1 (0.33), of --test-day-cv 0..10 (0.10)\n";

struct Options {
    std::string bio_file;
    std::string summary_file;
    std::string records_dir;
    long long places = 100;
    long long years = 5;
    long long replicates = 100;
    std::uint64_t seed = 1;
    long long start_year = 2020;
    double death_share = 0.33;
    double test_day_cv = 0.10;
};

int usage_error(const std::string& what)
{
    std::fprintf(stderr, "morvenda simulate: %s\n%s", what.c_str(), USAGE);
    return EXIT_USAGE;
}

bool parse_whole(const std::string& text, long long lo, long long hi, long long& out)
{
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && out >= lo && out <= hi;
}

bool parse_seed(const std::string& text, std::uint64_t& out)
{
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end;
}

bool parse_real(const std::string& text, double lo, double hi, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(out) && out >= lo && out <= hi;
}

/* Parses the command line; returns -1 when it is good, else the exit status. */
int parse_options(int argc, char** argv, Options& o)
{
    bool have_bio = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return EXIT_DONE;
        }
        if (arg.size() > 1 && arg[0] == '-') {
            if (i + 1 >= argc)
                return usage_error(arg + " needs a value");
            const std::string value = argv[++i];
            bool good = true;
            if (arg == "--cows")
                good = parse_whole(value, 1, MAX_PLACES, o.places);
            else if (arg == "--years")
                good = parse_whole(value, 1, MAX_YEARS, o.years);
            else if (arg == "--replicates")
                good = parse_whole(value, 1, MAX_REPLICATES, o.replicates);
            else if (arg == "--seed")
                good = parse_seed(value, o.seed);
            else if (arg == "--start")
                good = parse_whole(value, MIN_START_YEAR, MAX_START_YEAR, o.start_year);
            else if (arg == "--death-share")
                good = parse_real(value, 0.0, 1.0, o.death_share);
            else if (arg == "--test-day-cv")
                good = parse_real(value, 0.0, MAX_TEST_DAY_CV, o.test_day_cv);
            else if (arg == "--records")
                good = !(o.records_dir = value).empty();
            else if (arg == "-o")
                good = !(o.summary_file = value).empty();
            else
                return usage_error("unknown option " + arg);
            if (!good)
                return usage_error(arg + " out of range or not a number: '" + value + "'");
        } else {
            if (have_bio)
                return usage_error("one bio file, not more");
            o.bio_file = arg;
            have_bio = true;
        }
    }
    if (!have_bio)
        return usage_error("a bio file is needed");
    const double cow_months = static_cast<double>(o.places) * static_cast<double>(o.years) *
                              static_cast<double>(o.replicates) * 12.0;
    if (cow_months > MAX_COW_MONTHS)
        return usage_error("--cows x --years x --replicates x 12 is above 10^10 cow-months");
    return -1;
}

} // namespace

void OBTAIN_SIM_POLICY(const std::string& bio_file)
{
    WRITE_MSG_FILE(MSG_INIT_STARTED);
    runname = bio_file;
    INIT_BIO_RECORD();
    if (READ_BIO_FILE() == 1)
        END_RUN(EXIT_FAILED);
    BIO_PROBABILITY();

    WRITE_MSG_FILE(MSG_RESET_MKV);
    INIT_MKV_RECORD();
    OBTAIN_COLD_POLICY();
}

namespace {

/* A file the command writes, with the words that name it. */
struct Target {
    std::string name;
    std::string what;
};

/* False (with the message) when an output would replace the bio file, a
** file of the run, or another output. */
bool outputs_are_safe(const Options& o, const std::vector<Target>& outputs)
{
    const std::vector<Target> taken = {{o.bio_file, "the bio file"},
                                       {"msg.txt", "the progress file"},
                                       {"warm.txt", "the warm-start file"},
                                       {polfile, "the run's pol file"},
                                       {rpofile, "the run's rpo file"},
                                       {delfile, "the run's del file"},
                                       {mkvfile, "the run's MKV file"},
                                       {resfile, "the run's statistics file"}};
    for (std::size_t i = 0; i < outputs.size(); i++) {
        for (const Target& t : taken)
            if (!t.name.empty() && SAME_FILE(outputs[i].name, t.name)) {
                std::fprintf(stderr, "morvenda simulate: %s %s would replace %s\n", outputs[i].what.c_str(),
                             outputs[i].name.c_str(), t.what.c_str());
                return false;
            }
        for (std::size_t j = 0; j < i; j++)
            if (SAME_FILE(outputs[i].name, outputs[j].name)) {
                std::fprintf(stderr, "morvenda simulate: %s and %s are one file: %s\n", outputs[j].what.c_str(),
                             outputs[i].what.c_str(), outputs[i].name.c_str());
                return false;
            }
    }
    return true;
}

/* The chain's own figure of statistic year `yr` for a label the console
** compares. */
double chain_cash(int yr)
{
    return mkv->stats.cash_cyr[yr];
}

void print_cash_lines(const std::vector<SimReplicate>& reps, const SimSetup& setup, bool chain_known)
{
    const SimFigure* cash = SIM_FIGURE("cash_cyr");
    std::vector<double> values;
    for (int year = 1; year <= setup.years; year++) {
        values.clear();
        for (const SimReplicate& r : reps) {
            double v;
            if (REPLICATE_FIGURE(*cash, r.years[static_cast<std::size_t>(year - 1)], setup.places, v))
                values.push_back(v);
        }
        std::sort(values.begin(), values.end());
        const SimEstimate e = ESTIMATE_FIGURE(*cash, year, reps, setup.places);
        std::printf("\n year %d: cash per cow %.2f, 90%% of herds %.2f to %.2f", year, e.value,
                    PERCENTILE(values, 0.05), PERCENTILE(values, 0.95));
        if (chain_known && year <= CHAIN_YEARS)
            std::printf(" (chain: %.2f)", chain_cash(year));
    }
}

bool write_text(const std::string& name, const std::string& text, std::string& error)
{
    OutputFile out(name);
    if (!out.ok() || std::fwrite(text.data(), 1, text.size(), out.fp()) != text.size() || !out.commit()) {
        error = name + ": " + out.error();
        return false;
    }
    return true;
}

int run_simulate(Options o)
{
    std::printf("\n MORVENDA_SIMULATE started ... %s", o.bio_file.c_str());
    if (o.bio_file.size() > MAX_NAME_LENGTH) {
        std::printf("\n MORVENDA_SIMULATE: bio file name longer than %zu characters", MAX_NAME_LENGTH);
        return EXIT_FAILED;
    }
    OBTAIN_SIM_POLICY(o.bio_file);

    if (o.summary_file.empty())
        o.summary_file = runname + SUMMARY_SUFFIX;
    std::vector<Target> outputs = {{o.summary_file, "the summary (-o)"}};
    if (!o.records_dir.empty())
        for (const char* name : SimRecords::FILE_NAMES)
            outputs.push_back({(std::filesystem::path(o.records_dir) / name).string(),
                               std::string("the records' ") + name + " (--records)"});
    if (!outputs_are_safe(o, outputs))
        return EXIT_USAGE;
    std::error_code ec;
    if (!o.records_dir.empty() && std::filesystem::exists(o.records_dir, ec) &&
        !std::filesystem::is_directory(o.records_dir, ec)) {
        std::fprintf(stderr, "morvenda simulate: --records %s is a file, not a folder\n", o.records_dir.c_str());
        return EXIT_USAGE;
    }

    FIND_START_HERD();
    SimSetup setup = SIM_SETUP(static_cast<int>(o.places), static_cast<int>(o.years),
                               static_cast<int>(o.start_year));
    setup.death_share = o.death_share;
    setup.test_day_cv = o.test_day_cv;
    setup.herd_name = runname;

    /* The chain's expectation of the same herd, for the console. */
    const unsigned short months = bio->analysis == 2 || bio->analysis == 3 ? MAXT : CHAIN_YEARS * 12;
    MARKOV_CHAIN(static_cast<unsigned short>(setup.entry_mode), months, 1);
    MARKOV_CHAIN_STATS(months);

    std::printf("\n SIMULATE_HERDS started ... %lld herds of %lld places for %lld years", o.replicates, o.places,
                o.years);
    SimRecords records(setup.herd_name);
    std::string error;
    if (!o.records_dir.empty() && !records.open(o.records_dir, error)) {
        std::printf("\n MORVENDA_SIMULATE: %s", error.c_str());
        return EXIT_FAILED;
    }
    std::vector<SimReplicate> reps;
    try {
        reps = RUN_REPLICATES(setup, o.seed, static_cast<int>(o.replicates), SIM_THREADS,
                              o.records_dir.empty() ? nullptr : &records);
    } catch (const std::bad_alloc&) {
        std::printf("\n MORVENDA_SIMULATE: Insufficient memory available for %lld replicates of %lld years",
                    o.replicates, o.years);
        return EXIT_FAILED;
    }
    for (const SimReplicate& r : reps)
        if (!r.bad_state.empty()) {
            std::printf("\n MORVENDA_SIMULATE: the policy has no valid decision for a cow the herd holds: %s",
                        r.bad_state.c_str());
            return EXIT_FAILED;
        }

    if (!write_text(o.summary_file, SUMMARY_TEXT(reps, setup.places, setup.years), error) ||
        (!o.records_dir.empty() && !records.commit(error))) {
        std::printf("\n MORVENDA_SIMULATE: %s", error.c_str());
        return EXIT_FAILED;
    }
    print_cash_lines(reps, setup, true);
    std::printf("\n\n MORVENDA_SIMULATE done ... %s", o.summary_file.c_str());
    WRITE_MSG_FILE(MSG_COMPLETED);
    return EXIT_DONE;
}

} // namespace

void FIND_START_HERD()
{
    /* The reader would make a missing MKV file, a file of the run: an
    ** empty stored herd is what it would start from. */
    std::error_code ec;
    if (std::filesystem::exists(mkvfile, ec)) {
        READ_MKV_FILE();
    } else {
        RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
        mkv->header1 = 1;
        mkv->header_sea = bio->start_sea;
        mkv->header3 = 0;
        mkv->sea_next = bio->start_sea;
    }
    if (bio->analysis != 2 && bio->analysis != 3)
        STEADY_STATE_LOOP([] { MARKOV_CHAIN(ENTRY_REFILL, STEADY_STATE_PASS_MONTHS, CHAIN_PROJECT_ONLY); });
}

std::vector<SimReplicate> RUN_REPLICATES(const SimSetup& setup, std::uint64_t seed, int count, int threads,
                                         SimRecords* records, bool backwards)
{
    std::vector<SimReplicate> reps(static_cast<std::size_t>(count));
    const int n = std::max(1, std::min(threads, count));
    /* a failure of a thread (memory) is raised again on the caller's */
    std::vector<std::exception_ptr> failure(static_cast<std::size_t>(n));
    /* each thread takes the next replicate not yet taken, so a thread the
    ** machine slows down takes fewer; every replicate lands in its own slot */
    std::atomic<int> next{0};
    auto work = [&](int worker) {
        try {
            for (int i = next++; i < count; i = next++) {
                const int k = backwards ? count - 1 - i : i;
                reps[static_cast<std::size_t>(k)] =
                    SIMULATE_REPLICATE(setup, seed, k + 1, k == 0 ? records : nullptr);
            }
        } catch (...) {
            failure[static_cast<std::size_t>(worker)] = std::current_exception();
            next = count; /* the others stop too */
        }
    };
    std::vector<std::thread> crew;
    for (int w = 1; w < n; w++)
        crew.emplace_back(work, w);
    work(0);
    for (std::thread& th : crew)
        th.join();
    for (const std::exception_ptr& e : failure)
        if (e)
            std::rethrow_exception(e);
    return reps;
}

int MORVENDA_SIMULATE(int argc, char** argv)
{
    Options o;
    const int bad = parse_options(argc, argv, o);
    if (bad >= 0)
        return bad;
    int status;
    try {
        status = run_simulate(o);
    } catch (const RunEnded& ended) {
        status = ended.status == 0 ? EXIT_FAILED : ended.status;
    }
    std::printf("\n");
    std::fflush(stdout);
    return status;
}
