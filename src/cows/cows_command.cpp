/*
** cows_command.cpp -- morvenda cows.
**
** The cow list is read and checked first, so that a missing column or an
** unreadable file costs no solve.  The policy is then obtained with the
** run's own routines in the run's order (bio file, biology, records, value
** iteration or pol file), but none of the run's files is written: no pol,
** rpo, del or MKV file, no report, no warm.txt.  Only msg.txt shows the
** progress, and the ranked list is the one file written.
**
** The ranked list must not replace a file the run or a later run needs:
** the bio file, the cow list, msg.txt, warm.txt, or a file the bio file
** names (a pol file read under USE_POL, the stored herd, the report).  Nor
** may it go to a device or under /proc, where /dev/stdout would replace a
** console log redirected to a file.  Like a run, the command holds the
** lock of the working folder and of the ranked list's folder, so that its
** msg.txt does not interleave with a run's.
**
** A fatal error of a routine unwinds here through END_RUN.
*/
#include "cows/cows_command.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "bio/bio.h"
#include "cows/cow_list.h"
#include "cows/ranked_list.h"
#include "dp/dp.h"
#include "core/numeric.h"
#include "core/output_check.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/run_lock.h"
#include "core/runlog.h"
#include "core/temp_files.h"

namespace {

/* ---- constants -------------------------------------------------------- */

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
const char* const RANKED_SUFFIX = "_ranked.csv";

const char* const USAGE =
    "usage: morvenda cows HERD.bio COWS.csv [-o RANKED.csv] [--month JAN..DEC | --date YYYY-MM-DD]\n"
    "                     [--columns NAME=HEADER,...]\n"
    "  NAME is one of id, lact, dim, dcc, rel_yield, milk, date\n";


struct Options {
    std::string bio_file;
    std::string cow_file;
    std::string ranked_file;
    int sea = 0; /* 0: today's month */
    ColumnMap columns;
};

/* Parsing went well: go on. */
constexpr int PARSED = -1;

int usage_error(const std::string& what)
{
    std::fprintf(stderr, "morvenda cows: %s\n%s", what.c_str(), USAGE);
    return EXIT_USAGE;
}

int month_of_name(std::string name)
{
    for (char& ch : name)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return MONTH_OF_NAME(name);
}

int todays_month()
{
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_mon + 1;
}

/* The ranked file next to nothing in particular: COWS.csv's stem with
** "_ranked.csv", in the working directory like the run's other files. */
std::string default_ranked_name(const std::string& cow_file)
{
    return std::filesystem::path(cow_file).stem().string() + RANKED_SUFFIX;
}

/* Parses the command line; returns -1 when it is good, else the exit status. */
int parse_options(int argc, char** argv, Options& o)
{
    std::string positional[2];
    int npositional = 0;
    bool month_given = false;
    if (argc < 2) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(USAGE, stdout);
            return EXIT_DONE;
        }
        const bool has_value = i + 1 < argc;
        if (arg == "-o" || arg == "--month" || arg == "--date" || arg == "--columns") {
            if (!has_value)
                return usage_error(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "-o") {
                o.ranked_file = value;
            } else if (arg == "--columns") {
                std::string error;
                if (!PARSE_COLUMN_MAP(value, o.columns, error))
                    return usage_error(error);
            } else {
                if (month_given)
                    return usage_error("give --month or --date once, not both");
                month_given = true;
                o.sea = arg == "--month" ? month_of_name(value) : DATE_MONTH(value);
                if (o.sea == 0)
                    return usage_error(arg == "--month" ? "--month takes JAN..DEC, not '" + value + "'"
                                                        : "--date takes YYYY-MM-DD, not '" + value + "'");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return usage_error("unknown option " + arg);
        } else {
            if (npositional == 2)
                return usage_error("one bio file and one cow list, not more");
            positional[npositional++] = arg;
        }
    }
    if (npositional < 2)
        return usage_error("a bio file and a cow list are needed");
    o.bio_file = positional[0];
    o.cow_file = positional[1];
    if (o.ranked_file.empty())
        o.ranked_file = default_ranked_name(o.cow_file);
    if (o.sea == 0)
        o.sea = todays_month();
    return PARSED;
}

/* The file of the bio file's or the run's that the ranked list would
** replace, with its words; "" when there is none. */
std::string replaced_run_file(const std::string& ranked)
{
    const struct {
        const std::string* name;
        const char* item;
    } files[] = {
        {&polfile, "pol file"}, {&rpofile, "rpo file"}, {&delfile, "del file"},
        {&mkvfile, "mkv file"}, {&resfile, "res file"},
    };
    for (const auto& f : files)
        if (!f.name->empty() && SAME_FILE(ranked, *f.name))
            return std::string("the ") + f.item + " " + *f.name + " of the bio file";
    return "";
}

/* The policy of the bio file, as a run obtains it; true when the pay-offs
** are known (solved), false when the decisions came from the pol file. */
bool obtain_policy(const std::string& bio_file, const std::string& ranked_file)
{
    WRITE_MSG_FILE(MSG_INIT_STARTED);
    runname = bio_file;
    INIT_BIO_RECORD();
    if (READ_BIO_FILE() == 1)
        END_RUN(EXIT_FAILED);
    const std::string replaced = replaced_run_file(ranked_file);
    if (!replaced.empty()) {
        std::printf("\n MORVENDA_COWS: %s would overwrite %s", ranked_file.c_str(), replaced.c_str());
        END_RUN(EXIT_FAILED);
    }
    BIO_PROBABILITY();
    return OBTAIN_COLD_POLICY();
}

int run_cows(const Options& o)
{
    std::printf("\n MORVENDA_COWS started ... %s %s", o.bio_file.c_str(), o.cow_file.c_str());
    if (o.bio_file.size() > MAX_NAME_LENGTH) {
        std::printf("\n MORVENDA_COWS: bio file name longer than %zu characters", MAX_NAME_LENGTH);
        return EXIT_FAILED;
    }
    if (SAME_FILE(o.ranked_file, o.cow_file) || SAME_FILE(o.ranked_file, o.bio_file)) {
        std::printf("\n MORVENDA_COWS: %s would overwrite an input file", o.ranked_file.c_str());
        return EXIT_FAILED;
    }
    for (const char* run_file : {"msg.txt", "warm.txt"})
        if (SAME_FILE(o.ranked_file, run_file)) {
            std::printf("\n MORVENDA_COWS: %s would overwrite the run's %s", o.ranked_file.c_str(), run_file);
            return EXIT_FAILED;
        }
    const std::string refusal = OUTPUT_REFUSAL(o.ranked_file);
    if (!refusal.empty()) {
        std::printf("\n MORVENDA_COWS: %s cannot be written: %s", o.ranked_file.c_str(), refusal.c_str());
        return EXIT_FAILED;
    }
    RunLock lock;
    if (!lock.lock_working_folder() || !lock.lock_folder_of(o.ranked_file)) {
        std::printf("\n MORVENDA_COWS: another run is writing in this folder or in the folder of %s",
                    o.ranked_file.c_str());
        return EXIT_FAILED;
    }
    const std::string ranked_folder = std::filesystem::path(o.ranked_file).parent_path().string();
    (void)SWEEP_STALE_TEMP_FILES(ranked_folder.empty() ? "." : ranked_folder);

    CowList list;
    std::string error;
    if (!READ_COW_LIST(o.cow_file, o.columns, o.sea, list, error)) {
        std::printf("\n MORVENDA_COWS: %s", error.c_str());
        return EXIT_FAILED;
    }
    std::printf("\n READ_COW_LIST done ... %zu rows", list.rows.size());

    const bool payoffs_known = obtain_policy(o.bio_file, o.ranked_file);

    const RankedHerd herd = VALUE_COWS(list, payoffs_known);
    if (!WRITE_RANKED_FILE(o.ranked_file, herd, error)) {
        std::printf("\n MORVENDA_COWS: %s", error.c_str());
        return EXIT_FAILED;
    }
    PRINT_RANKED_TABLE(herd, payoffs_known);
    std::printf("\n\n MORVENDA_COWS done ... %s", o.ranked_file.c_str());
    WRITE_MSG_FILE(MSG_COMPLETED);
    return REJECTED_COUNT(herd) > 0 ? EXIT_FAILED : EXIT_DONE;
}

} // namespace

int MORVENDA_COWS(int argc, char** argv)
{
    Options o;
    const int parsed = parse_options(argc, argv, o);
    if (parsed != PARSED)
        return parsed;
    int status;
    try {
        status = run_cows(o);
    } catch (const RunEnded& ended) {
        status = ended.status == 0 ? EXIT_FAILED : ended.status;
    }
    std::printf("\n");
    std::fflush(stdout);
    return status;
}
