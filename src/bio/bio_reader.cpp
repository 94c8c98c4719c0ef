/*
** bio_reader.cpp -- reads the bio file and derives the per-state biology.
**
** The bio file is the single input of a run.  It is read by position:
** a first line kept as the file's time stamp, then a stream of tokens
** (numbers and a few keywords) broken up by heading lines that are skipped
** unread.  READ_BIO_FILE loads the whole file into memory and walks it with
** a small cursor, so that a heading is "skip white space, then the rest of
** the line" and a number is always a whole token.
**
** After the last item the reader places the 24-month price and switch
** series on their calendar months and derives the tables that the dynamic
** program and the Markov chain read: monthly milk yield, revenue and income
** over feed cost, involuntary disposal, conception rates, body weight and
** sale value, dry-matter intake and labour time of every cow state.  The
** mean yields of the yield classes come from BIO_SMY (probability.cpp).
**
** A file that cannot be read to the end (a missing token, a token that is
** not a number, a keyword or range that would index outside the records)
** or a value outside its item's range (the guide's item table) is reported
** with the file, the item and the token, followed by the STOP pause, and the
** run ends.  Only a regular file of bio-file size is read at all.
*/
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bio/bio.h"
#include "run/input_file.h"
#include "run/records.h"
#include "run/runlog.h"

namespace {

constexpr double LB_PER_KG = 2.204624;
constexpr std::size_t STAMP_LENGTH = 24;    /* longest time stamp line */
constexpr std::size_t HEADING_LENGTH = 49;  /* longest heading line */
constexpr std::size_t SKIPPED_LENGTH = 449; /* longest line of item 35 */
constexpr std::size_t LARGEST_BIO_FILE = 4u << 20; /* a bio file is some 20 kB */

/* Valid ranges of the items (the guide's item table lists them).  Bounds
** far above any herd's keep every derived figure finite; money is in any
** currency, weights and milk in pounds or kilograms. */
constexpr double LARGEST_MONEY = 1e7;        /* a price or cost of one item */
constexpr double LARGEST_FACTOR = 10.0;      /* factors on yield, disposal, conception, sale value */
constexpr double LARGEST_DAILY_MILK = 500.0; /* per cow and day */
constexpr double LARGEST_WEIGHT = 5000.0;    /* a cow's body weight */
constexpr double LARGEST_INTAKE = 500.0;     /* dry matter per cow and day */
constexpr double LARGEST_MINUTES = 44000.0;  /* minutes in a month */
constexpr double LARGEST_PERCENT = 100.0;

/* The reader's temporary tables, discarded when it returns. */
struct ReaderTables {
    double milkcurve[4][NMIM][NSEA]; /* daily yield of an open cow, lact 1..3 */
    double pindlact[NLACT];
    double pindmim[NMIM][NSEA];
    double conclact[NLACT];
    double lactfactor[NLACT];        /* lactations 4..12 */
    short serve[NSLOT];              /* the 24-month series in model-month order */
    short enter[NSLOT];
    double p_heifer[NSLOT];
    double p_milk[NSLOT];
    double p_bodyweight[NSLOT];
};

/* Cursor over the bio file held in memory. */
struct BioText {
    std::string name; /* the bio file's name, for messages */
    std::string text;
    std::size_t pos = 0;
};

bool is_blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

void skip_white(BioText& in)
{
    while (in.pos < in.text.size() && is_blank(in.text[in.pos]))
        in.pos++;
}

[[noreturn]] void early_end(const BioText& in, int item, const char* what)
{
    std::printf("\n READ_BIO_FILE: %s, item %d (%s): the file ends early, no value found",
                in.name.c_str(), item, what);
    STOP(1);
    END_RUN(1);
}

[[noreturn]] void bad_token(const BioText& in, int item, const char* what,
                            const std::string& token, const char* expected)
{
    std::printf("\n READ_BIO_FILE: %s, item %d (%s): %s expected, found \"%s\"",
                in.name.c_str(), item, what, expected, token.c_str());
    STOP(1);
    END_RUN(1);
}

/* Skips white space, then takes the rest of the line up to and including
** its line end, at most `longest` characters.  The text is not used. */
void skip_heading(BioText& in, int item, const char* what, std::size_t longest)
{
    skip_white(in);
    if (in.pos >= in.text.size())
        early_end(in, item, what);
    std::size_t taken = 0;
    while (in.pos < in.text.size() && taken < longest) {
        char c = in.text[in.pos++];
        taken++;
        if (c == '\n')
            break;
    }
}

std::string next_token(BioText& in, int item, const char* what)
{
    skip_white(in);
    if (in.pos >= in.text.size())
        early_end(in, item, what);
    std::size_t start = in.pos;
    while (in.pos < in.text.size() && !is_blank(in.text[in.pos]))
        in.pos++;
    return in.text.substr(start, in.pos - start);
}

double read_value(BioText& in, int item, const char* what)
{
    std::string token = next_token(in, item, what);
    const char* s = token.c_str();
    char* end = nullptr;
    double v = std::strtod(s, &end);
    if (end == s || end != s + token.size() || !std::isfinite(v))
        bad_token(in, item, what, token, "a number");
    return v;
}

short read_integer(BioText& in, int item, const char* what)
{
    std::string token = next_token(in, item, what);
    const char* s = token.c_str();
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (end == s || end != s + token.size() || errno == ERANGE || v < SHRT_MIN || v > SHRT_MAX)
        bad_token(in, item, what, token, "a whole number");
    return static_cast<short>(v);
}

/* A number in lowest..highest; any other ends the run naming the token. */
double read_ranged(BioText& in, int item, const char* what, double lowest, double highest)
{
    const std::size_t start = in.pos;
    const double v = read_value(in, item, what);
    if (!(v >= lowest && v <= highest)) {
        in.pos = start;
        const std::string token = next_token(in, item, what);
        std::printf("\n READ_BIO_FILE: %s, item %d (%s): \"%s\" is outside %g..%g", in.name.c_str(),
                    item, what, token.c_str(), lowest, highest);
        STOP(1);
        END_RUN(1);
    }
    return v;
}

/* A probability or rate: 0..1. */
double read_probability(BioText& in, int item, const char* what)
{
    return read_ranged(in, item, what, 0.0, 1.0);
}

/* A price or cost that cannot be negative. */
double read_cost(BioText& in, int item, const char* what)
{
    return read_ranged(in, item, what, 0.0, LARGEST_MONEY);
}

/* A body weight: positive. */
double read_weight(BioText& in, int item, const char* what)
{
    const double w = read_ranged(in, item, what, 0.0, LARGEST_WEIGHT);
    if (w <= 0.0) {
        std::printf("\n READ_BIO_FILE: %s, item %d (%s): a weight must be above 0", in.name.c_str(),
                    item, what);
        STOP(1);
        END_RUN(1);
    }
    return w;
}

/* A factor on a figure of the herd. */
double read_factor(BioText& in, int item, const char* what)
{
    return read_ranged(in, item, what, 0.0, LARGEST_FACTOR);
}

std::string read_name(BioText& in, int item, const char* what)
{
    std::string token = next_token(in, item, what);
    if (token.find('\0') != std::string::npos) {
        /* The name would be cut at the NUL: another file than the one written. */
        std::printf("\n READ_BIO_FILE: %s, item %d: the %s holds a NUL character", in.name.c_str(),
                    item, what);
        STOP(1);
        END_RUN(1);
    }
    if (token.size() > MAX_NAME_LENGTH) {
        std::printf("\n READ_BIO_FILE: %s, item %d: the %s is longer than %zu characters",
                    in.name.c_str(), item, what, MAX_NAME_LENGTH);
        STOP(1);
        END_RUN(1);
    }
    return token;
}

/* Ends the run when a stored value would index outside the records. */
void check_range(const BioText& in, int item, const char* what, long value, long lowest,
                 long highest)
{
    if (value < lowest || value > highest) {
        std::printf("\n READ_BIO_FILE: %s, item %d (%s): %ld is outside %ld..%ld",
                    in.name.c_str(), item, what, value, lowest, highest);
        STOP(1);
        END_RUN(1);
    }
}

/* Switch keyword of the insemination and heifer-entry series:
** 1 forced, 0 forbidden, 8 left to the policy. */
short switch_code(const std::string& token)
{
    if (token == "YES" || token == "yes")
        return 1;
    if (token == "NO" || token == "no")
        return 0;
    return 8;
}

/* Rows first..last of 12 values (calendar months 1..12), each in
** lowest..highest. */
template <std::size_t R>
void read_month_table(BioText& in, int item, const char* what, double (&table)[R][NSEA],
                      int first, int last, double lowest, double highest)
{
    for (int m = first; m <= last; m++)
        for (int s = 1; s <= 12; s++)
            table[m][s] = read_ranged(in, item, what, lowest, highest);
}

/* The first line: at most 24 characters, kept with its line end when
** shorter.  The rest of a longer line is skipped with a warning. */
void read_time_stamp(BioText& in)
{
    std::size_t end = in.text.find('\n');
    std::size_t length = end == std::string::npos ? in.text.size() : end;
    if (length < STAMP_LENGTH) {
        std::size_t take = end == std::string::npos ? length : length + 1;
        biofiletime = in.text.substr(0, take);
        in.pos = take;
    } else if (length == STAMP_LENGTH) {
        biofiletime = in.text.substr(0, STAMP_LENGTH);
        in.pos = STAMP_LENGTH; /* the line end is skipped with the next token */
    } else {
        biofiletime = in.text.substr(0, STAMP_LENGTH);
        std::printf("\n READ_BIO_FILE: first line longer than %zu characters, the rest is ignored",
                    STAMP_LENGTH);
        in.pos = end == std::string::npos ? in.text.size() : end + 1;
    }
}

/* Reads items 2 to 36 into the record and the temporary tables. */
void read_items(BioText& in, ReaderTables& tmp)
{
    /* 2: run name and file names */
    runname = read_name(in, 2, "run name");
    rpofile = read_name(in, 2, "rpo file name");
    delfile = read_name(in, 2, "del file name");
    mkvfile = read_name(in, 2, "mkv file name");
    resfile = read_name(in, 2, "res file name");
    polfile = read_name(in, 2, "pol file name");

    warmstart = read_integer(in, 3, "warm start flag");
    check_range(in, 3, "warm start flag", warmstart, 0, 1);
    double version = read_value(in, 4, "version number");
    std::printf(" version: %.1f", version);
    bio->kg = next_token(in, 5, "units keyword") == "KG" ? 1 : 0;
    bio->analysis = read_integer(in, 6, "analysis mode");
    if (bio->analysis != 1 && bio->analysis != 2 && bio->analysis != 3 && bio->analysis != 71) {
        std::printf("\n READ_BIO_FILE: %s, item 6 (analysis mode): %d is not 1, 2, 3 or 71",
                    in.name.c_str(), bio->analysis);
        STOP(1);
        END_RUN(1);
    }

    skip_heading(in, 7, "milk factor by month of pregnancy", HEADING_LENGTH);
    for (int p = 1; p <= 9; p++)
        bio->milk_mpreg[p] = read_factor(in, 7, "milk factor by month of pregnancy");

    static const char* const curve_names[4] = {"", "milk curve of lactation 1",
                                               "milk curve of lactation 2",
                                               "milk curve of lactation 3"};
    for (int l = 1; l <= 3; l++) {
        skip_heading(in, 7 + l, curve_names[l], HEADING_LENGTH);
        read_month_table(in, 7 + l, curve_names[l], tmp.milkcurve[l], 1, 24, 0.0, LARGEST_DAILY_MILK);
    }

    skip_heading(in, 11, "involuntary disposal by lactation", HEADING_LENGTH);
    for (int l = 1; l <= 12; l++)
        tmp.pindlact[l] = read_factor(in, 11, "involuntary disposal by lactation");

    skip_heading(in, 12, "involuntary disposal by month in milk", HEADING_LENGTH);
    read_month_table(in, 12, "involuntary disposal by month in milk", tmp.pindmim, 1, 24, 0.0, 1.0);

    skip_heading(in, 13, "abortion risk", HEADING_LENGTH);
    for (int p = 2; p <= 9; p++)
        bio->abort[p] = read_probability(in, 13, "abortion risk");

    static const char* const vwp_names[4] = {"", "waiting period of lactation 1",
                                             "waiting period of lactation 2",
                                             "waiting period of later lactations"};
    for (int g = 1; g <= 3; g++) {
        bio->vwp[g] = static_cast<short>(read_integer(in, 14, vwp_names[g]) - 1);
        check_range(in, 14, vwp_names[g], bio->vwp[g] + 1, 1, 24);
    }
    bio->lbm = static_cast<short>(read_integer(in, 15, "last breeding month") - 1);
    check_range(in, 15, "last breeding month", bio->lbm + 1, 1, 24);
    for (int g = 1; g <= 3; g++)
        if (bio->lbm < bio->vwp[g]) {
            /* No month would be left to inseminate in. */
            std::printf("\n READ_BIO_FILE: %s, item 15 (last breeding month): %d is before the %s %d",
                        in.name.c_str(), bio->lbm + 1, vwp_names[g], bio->vwp[g] + 1);
            STOP(1);
            END_RUN(1);
        }

    bio->instime = read_ranged(in, 16, "insemination time", 0.0, LARGEST_MINUTES);
    bio->inscost = read_cost(in, 16, "insemination cost");

    bio->maxlact = read_integer(in, 17, "highest lactation");
    check_range(in, 17, "highest lactation", bio->maxlact, 1, MAXLACT);

    for (int l = 1; l <= 12; l++)
        tmp.conclact[l] = read_factor(in, 18, "conception factor by lactation");

    skip_heading(in, 19, "heat detection rate", HEADING_LENGTH);
    read_month_table(in, 19, "heat detection rate", bio->heatdetectionrate, 2, 15, 0.0, 1.0);
    skip_heading(in, 20, "conception rate", HEADING_LENGTH);
    read_month_table(in, 20, "conception rate", bio->conceptionrate[0], 2, 15, 0.0, 1.0);
    skip_heading(in, 21, "reproduction cost", HEADING_LENGTH);
    read_month_table(in, 21, "reproduction cost", bio->reprocost, 2, 15, 0.0, LARGEST_MONEY);

    skip_heading(in, 22, "open body weight", HEADING_LENGTH);
    for (int m = 1; m <= 24; m++) {
        bio->bodyweight[1][m][0] = read_weight(in, 22, "open body weight");
        bio->bodyweight[2][m][0] = read_weight(in, 22, "open body weight");
    }

    skip_heading(in, 23, "body weight gain in pregnancy", HEADING_LENGTH);
    for (int p = 1; p <= 9; p++) {
        double gain = read_ranged(in, 23, "body weight gain in pregnancy", 0.0, LARGEST_WEIGHT);
        bio->bodyweight_mpreg[1][p] = gain;
        for (int m = 1; m <= 24; m++)
            bio->bodyweight[1][m][p] = gain + bio->bodyweight[1][m][0];
    }
    for (int p = 1; p <= 9; p++) {
        double gain = read_ranged(in, 23, "body weight gain in pregnancy", 0.0, LARGEST_WEIGHT);
        bio->bodyweight_mpreg[2][p] = gain;
        for (int l = 2; l <= 12; l++)
            for (int m = 1; m <= 24; m++)
                bio->bodyweight[l][m][p] = gain + bio->bodyweight[2][m][0];
    }

    skip_heading(in, 24, "insemination switches", HEADING_LENGTH);
    for (int f = 1; f <= 24; f++)
        tmp.serve[f] = switch_code(next_token(in, 24, "insemination switches"));
    skip_heading(in, 25, "heifer entry switches", HEADING_LENGTH);
    for (int f = 1; f <= 24; f++)
        tmp.enter[f] = switch_code(next_token(in, 25, "heifer entry switches"));

    skip_heading(in, 26, "prices", HEADING_LENGTH);
    for (int f = 1; f <= 24; f++)
        tmp.p_heifer[f] = read_cost(in, 26, "heifer price");
    for (int f = 1; f <= 24; f++)
        tmp.p_milk[f] = read_cost(in, 26, "milk price");
    for (int f = 1; f <= 24; f++)
        tmp.p_bodyweight[f] = read_cost(in, 26, "cull cow price");

    skip_heading(in, 27, "write switches", HEADING_LENGTH);
    bio->writepol = next_token(in, 27, "pol file switch") == "YES" ? 1 : 0;
    bio->writerpo = next_token(in, 27, "rpo file switch") == "YES" ? 1 : 0;

    static const char* const month_names[13] = {"", "JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    std::string start = next_token(in, 28, "start month");
    bio->start_sea = 0;
    for (int s = 1; s <= 12; s++)
        if (start == month_names[s])
            bio->start_sea = static_cast<short>(s);
    if (bio->start_sea == 0) {
        /* The series could not be placed on calendar months. */
        std::printf("\n start_sea error");
        STOP(1);
        END_RUN(1);
    }

    std::string policy = next_token(in, 29, "policy");
    if (policy == "OPTIMAL")
        bio->policy = POLICY_OPTIMAL;
    else if (policy == "KEEPPREG")
        bio->policy = POLICY_KEEPPREG;
    else if (policy == "KEEPALL")
        bio->policy = POLICY_KEEPALL;
    else if (policy == "USE_POL")
        bio->policy = POLICY_USE_POL;
    else {
        std::printf("\n bio->policy error");
        std::printf("\n READ_BIO_FILE: %s, item 29 (policy): \"%s\" is not OPTIMAL, KEEPPREG, KEEPALL or USE_POL",
                    in.name.c_str(), policy.c_str());
        STOP(1);
        END_RUN(1);
    }

    bio->maxmim = read_integer(in, 30, "highest month in milk");
    if (bio->maxmim <= bio->lbm)
        bio->maxmim = MAXMIM;
    check_range(in, 30, "highest month in milk", bio->maxmim, 1, MAXMIM);

    bio->minmilk = read_ranged(in, 31, "minimum milk yield", 0.0, LARGEST_DAILY_MILK);
    bio->minrev = read_ranged(in, 31, "minimum net revenue", -LARGEST_MONEY, LARGEST_MONEY);
    bio->interest = read_probability(in, 31, "interest rate");
    bio->cullcost = read_cost(in, 31, "culling cost");
    bio->sel_factor = read_factor(in, 31, "sale value factor");

    bio->ci_adjust = next_token(in, 32, "calving interval adjustment") == "YES" ? 1 : 0;

    /* A calf may cost more to dispose of than it fetches. */
    bio->p_calf = read_ranged(in, 33, "calf value", -LARGEST_MONEY, LARGEST_MONEY);
    bio->fixedcost1 = read_cost(in, 33, "fixed cost 1");
    bio->fixedcost2 = read_cost(in, 33, "fixed cost 2");
    bio->drycost = read_cost(in, 33, "daily cost of a dry cow");
    bio->lactcost = read_cost(in, 33, "daily cost of a lactating cow");
    bio->p_lactfeed = read_cost(in, 33, "feed price of lactating cows");
    bio->p_dryfeed = read_cost(in, 33, "feed price of dry cows");
    bio->drydmi = read_ranged(in, 33, "dry cow intake", 0.0, LARGEST_INTAKE);
    bio->fat = read_ranged(in, 33, "milk fat percentage", 0.0, LARGEST_PERCENT);
    bio->yield_sd = read_ranged(in, 33, "yield standard deviation", -LARGEST_PERCENT, LARGEST_PERCENT);
    if (bio->yield_sd < 0.0) {
        /* Negative class probabilities would follow. */
        std::printf("\n READ_BIO_FILE: %s, item 33 (yield standard deviation): %g is negative",
                    in.name.c_str(), bio->yield_sd);
        STOP(1);
        END_RUN(1);
    }
    bio->yield_corr = read_value(in, 33, "yield correlation");
    if (bio->yield_corr < -1.0 || bio->yield_corr > 1.0) {
        /* The spread of next lactation's yield would be the root of a
        ** negative number. */
        std::printf("\n READ_BIO_FILE: %s, item 33 (yield correlation): %g is outside -1..1",
                    in.name.c_str(), bio->yield_corr);
        STOP(1);
        END_RUN(1);
    }
    bio->wage = read_cost(in, 33, "wage");
    bio->freshtime = read_ranged(in, 33, "labour time of a fresh cow", 0.0, LARGEST_MINUTES);
    bio->lacttime = read_ranged(in, 33, "labour time of a lactating cow", 0.0, LARGEST_MINUTES);
    bio->drytime = read_ranged(in, 33, "labour time of a dry cow", 0.0, LARGEST_MINUTES);

    for (int m = 1; m <= 4; m++)
        bio->vetcost[m] = read_cost(in, 34, "veterinary cost");

    for (int i = 0; i < 13; i++)
        skip_heading(in, 35, "skipped lines", SKIPPED_LENGTH);

    for (int l = 4; l <= 12; l++)
        tmp.lactfactor[l] = read_factor(in, 36, "lactation factor");
}

/* Places the 24 model months on month indices: the first year on 1..12,
** the second on 13..24, the first model month on the start month. */
void place_series(const ReaderTables& tmp)
{
    for (int f = 1; f <= 24; f++) {
        int m = f + bio->start_sea - 1;
        if (f <= 12)
            while (m > 12)
                m -= 12;
        else
            while (m > 24)
                m -= 12;
        bio->serve[m] = tmp.serve[f];
        bio->enter[m] = tmp.enter[f];
        bio->p_heifer[m] = tmp.p_heifer[f];
        bio->p_milk[m] = tmp.p_milk[f];
        bio->p_bodyweight[m] = tmp.p_bodyweight[f];
    }
}

/* Monthly milk yield, and milk sales as the first entry of revenue and
** income over feed cost. */
void derive_milk(const ReaderTables& tmp)
{
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++)
            for (int p = 0; p <= 9; p++)
                for (int s = 1; s <= 12; s++) {
                    double y = l <= 3 ? tmp.milkcurve[l][m][s]
                                      : tmp.milkcurve[3][m][s] * tmp.lactfactor[l];
                    y *= bio->milk_mpreg[p];
                    for (int c = 1; c <= 15; c++) {
                        double milk = bio->smy[c] / 100.0 * y * DAYS_PER_MONTH;
                        if (milk < 0.0)
                            milk = 0.0;
                        bio->milkyield[c][l][m][p][s] = milk;
                        bio->rev[c][l][m][p][s] = bio->p_milk[s] * milk;
                        bio->rev[c][l][m][p][s + 12] = bio->p_milk[s + 12] * milk;
                        bio->iofc[c][l][m][p][s] = bio->rev[c][l][m][p][s];
                        bio->iofc[c][l][m][p][s + 12] = bio->rev[c][l][m][p][s + 12];
                    }
                }
}

void derive_disposal_and_conception(const ReaderTables& tmp)
{
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++)
            for (int s = 1; s <= 12; s++) {
                double p = tmp.pindmim[m][s] * tmp.pindlact[l];
                bio->pind[l][m][s] = p > 1.0 ? 1.0 : p;
            }
    for (int l = 1; l <= 12; l++)
        for (int m = 2; m <= 15; m++)
            for (int s = 1; s <= 12; s++) {
                double p = tmp.conclact[l] * bio->conceptionrate[0][m][s];
                bio->conceptionrate[l][m][s] = p > 1.0 ? 1.0 : p;
            }
}

void derive_weight_and_sale_value()
{
    for (int l = 1; l <= 12; l++)
        for (int m = 1; m <= 24; m++)
            for (int s = 1; s <= 12; s++) {
                if (l >= 3)
                    for (int p = 0; p <= 9; p++)
                        bio->bodyweight[l][m][p] = bio->bodyweight[2][m][p];
                double w = bio->bodyweight[l][m][0];
                bio->sel[l][m][s] = w * bio->p_bodyweight[s];
                bio->sel[l][m][s + 12] = w * bio->p_bodyweight[s + 12];
            }
}

} // namespace

/* Lag of intake behind milk early in lactation, month in milk `mim`. */
double INTAKE_LAG(int mim)
{
    return 1.0 - std::exp(-0.192 * ((mim - 1) * 4.34 + 2.17 + 3.67));
}

/* Monthly dry-matter intake of a lactating cow giving `monthly_milk` in a
** month at body weight `weight` (both in the file's units); the intake is
** in the file's units too. */
double LACTATING_INTAKE(double monthly_milk, double weight, int mim, double fat, bool kg)
{
    double m = monthly_milk / DAYS_PER_MONTH;
    double fcm = 0.4 * m + 0.15 * fat * m;
    double lag = INTAKE_LAG(mim);
    if (kg)
        return (0.372 * fcm + 0.0968 * std::pow(weight, 0.75) * lag) * DAYS_PER_MONTH;
    double daily_kg = 0.372 * fcm / LB_PER_KG + 0.0968 * std::pow(weight / LB_PER_KG, 0.75) * lag;
    return daily_kg * LB_PER_KG * DAYS_PER_MONTH;
}

namespace {

/* Intake, feed and daily costs, labour and veterinary costs of every state. */
void derive_intake_and_costs()
{
    const double lactdaily = bio->lactcost * DAYS_PER_MONTH;
    const double drydaily = bio->drycost * DAYS_PER_MONTH;
    const double dryintake = bio->drydmi * DAYS_PER_MONTH;
    const bool kg = bio->kg == 1;

    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 12; l++)
            for (int m = 1; m <= 24; m++)
                for (int s = 1; s <= 12; s++)
                    for (int p = 0; p <= 9; p++) {
                        double milk = bio->milkyield[c][l][m][p][s];
                        double weight = bio->bodyweight[l][m][p];
                        double* rev = bio->rev[c][l][m][p];
                        double* iofc = bio->iofc[c][l][m][p];
                        double intake;
                        if (milk >= DRY_MILK) {
                            intake = LACTATING_INTAKE(milk, weight, m, bio->fat, kg);
                            double cost = intake * bio->p_lactfeed + lactdaily;
                            rev[s] -= cost;
                            rev[s + 12] -= cost;
                            iofc[s] -= cost;
                            iofc[s + 12] -= cost;
                        } else {
                            intake = dryintake;
                            double cost = intake * bio->p_dryfeed + drydaily;
                            rev[s] -= cost;
                            rev[s + 12] -= cost;
                            /* income over feed cost prices a dry cow's
                            ** intake as a lactating cow's */
                            double ioc = intake * bio->p_lactfeed + lactdaily;
                            iofc[s] -= ioc;
                            iofc[s + 12] -= ioc;
                        }
                        bio->dmi[c][l][m][p][s] = intake;
                    }

    for (int m = 5; m <= 24; m++)
        bio->vetcost[m] = bio->vetcost[4];

    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 12; l++)
            for (int m = 1; m <= 24; m++)
                for (int s = 1; s <= 12; s++)
                    for (int p = 0; p <= 9; p++) {
                        double time = bio->milkyield[c][l][m][p][s] >= DRY_MILK ? bio->lacttime
                                                                           : bio->drytime;
                        if (m == 1)
                            time += bio->freshtime;
                        bio->labortime[c][l][m][p][s] = time;
                        double cost = time / 60.0 * bio->wage + bio->vetcost[m];
                        bio->rev[c][l][m][p][s] -= cost;
                        bio->rev[c][l][m][p][s + 12] -= cost;
                    }
}

/* True when every element of a table is a finite number. */
template <typename T>
bool all_finite(const T& table)
{
    const double* first = reinterpret_cast<const double*>(&table);
    const std::size_t n = sizeof(T) / sizeof(double);
    for (std::size_t i = 0; i < n; i++)
        if (!std::isfinite(first[i]))
            return false;
    return true;
}

/* The derived tables are the inputs of every later phase: a value that is
** not a number there would reach the files. */
void check_derived_tables(const BioText& in)
{
    if (all_finite(bio->milkyield) && all_finite(bio->dmi) && all_finite(bio->labortime) &&
        all_finite(bio->rev) && all_finite(bio->iofc) && all_finite(bio->sel) &&
        all_finite(bio->pind) && all_finite(bio->conceptionrate))
        return;
    std::printf("\n READ_BIO_FILE: %s: the items give figures that are not numbers", in.name.c_str());
    STOP(1);
    END_RUN(1);
}

} // namespace

short READ_BIO_FILE()
{
    const std::string biofile = runname;
    std::printf("\n READ_BIO_FILE started ... %s", biofile.c_str());
    RESET_BIO_RECORD();
    WRITE_MSG_FILE(MSG_READ_BIO);
    auto tmp = std::make_unique<ReaderTables>(); /* value-initialised: all 0 */

    BioText in;
    in.name = biofile;
    std::string why;
    const InputRead got = READ_INPUT_FILE(biofile, LARGEST_BIO_FILE, in.text, why);
    if (got == InputRead::not_opened) {
        WRITE_MSG_FILE(MSG_BIO_OPEN_FAILURE);
        std::printf("\n READ_BIO_FILE: file open failure:%s", biofile.c_str());
        STOP(1);
        return 1;
    }
    if (got == InputRead::refused) {
        std::printf("\n READ_BIO_FILE: %s: %s", biofile.c_str(), why.c_str());
        STOP(1);
        END_RUN(1);
    }

    read_time_stamp(in);
    read_items(in, *tmp);

    place_series(*tmp);
    bio->milk_mpreg[0] = 1.0;
    BIO_SMY();
    for (int m = 1; m <= 24; m++)
        bio->p_milk[m] /= 100.0;
    derive_milk(*tmp);
    derive_disposal_and_conception(*tmp);
    derive_weight_and_sale_value();
    derive_intake_and_costs();
    check_derived_tables(in);

    std::printf("\n READ_BIO_FILE done ...");
    return 0;
}
