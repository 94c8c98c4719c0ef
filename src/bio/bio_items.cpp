/*
** bio_items.cpp -- the item table of the bio file and the shared walk.
**
** The walk follows the reading rules of the file: the first line is the
** time stamp, at most 24 characters; a heading is "skip white space, then
** the rest of the line, at most 49 characters"; the 13 note lines of item
** 35 are taken like headings of up to 449 characters; every other value is
** one token between white space.  Judging a value means its form (a
** decimal number, a whole number, a keyword of its list), its range, and
** the few items that depend on earlier ones (the last breeding month is
** not before a waiting period).
*/
#include "bio/bio_items.h"
#include "core/numeric.h"

#include <cassert>
#include <cstdarg>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

/* Valid ranges.  Bounds far above any herd's keep every derived figure
** finite; money is in any currency, weights and milk in pounds or
** kilograms. */
constexpr double LARGEST_MONEY = 1e7;        /* a price or cost of one item */
constexpr double LARGEST_FACTOR = 10.0;      /* factors on yield, disposal, conception, sale value */
constexpr double LARGEST_DAILY_MILK = 500.0; /* per cow and day */
constexpr double LARGEST_WEIGHT = 5000.0;    /* a cow's body weight */
constexpr double LARGEST_INTAKE = 500.0;     /* dry matter per cow and day */
constexpr double LARGEST_MINUTES = 44000.0;  /* minutes in a month */
constexpr double LARGEST_PERCENT = 100.0;
constexpr double ANY = DBL_MAX;              /* no bound */
/* The breeding window the dynamic program works with: insemination from
** month in milk 2 at the earliest (a waiting period of at least 3, stored
** minus 1) up to month in milk 15 at the latest (a last breeding month of
** at most 16), so that a cow conceiving last calves by month in milk 24. */
constexpr double SHORTEST_WAIT = 3.0;
constexpr double LATEST_BREEDING = 16.0;
constexpr double MONTHS_IN_MILK = 24.0;
constexpr double LACTATIONS = 12.0;

/* Line lengths the reader takes. */
constexpr std::size_t STAMP_LENGTH = 24;
constexpr std::size_t HEADING_LENGTH = 49;
constexpr std::size_t NOTE_LENGTH = 449;
constexpr std::size_t LONGEST_NAME = 4095;
constexpr int NOTE_LINES = 13;
constexpr int LAST_ITEM = 36;

constexpr BioKind TXT = BioKind::text, NAM = BioKind::name, INT = BioKind::integer,
                  NUM = BioKind::number, KEY = BioKind::keyword, NOTE = BioKind::note;
constexpr BioRule ANYR = BioRule::any, RNG = BioRule::range, WHOLE = BioRule::whole_range;
constexpr BioAxis NO = BioAxis::none, MIM = BioAxis::month_in_milk, CAL = BioAxis::calendar_month,
                  MOD = BioAxis::model_month, LAC = BioAxis::lactation,
                  PRG = BioAxis::pregnancy_month, LINE = BioAxis::line;

/* clang-format off */
const std::vector<BioField> FIELDS = {
    {1, "stamp", "time stamp", 1, 1, false, TXT, ANYR, 0, 0, NO, 0, NO, 0, "text",
     "First line: time stamp or title, at most 24 characters (a longer line is cut)."},
    {2, "runname", "run name", 1, 1, false, NAM, ANYR, 0, 0, NO, 0, NO, 0, "name", "Name of the run."},
    {2, "rpofile", "rpo file name", 1, 1, false, NAM, ANYR, 0, 0, NO, 0, NO, 0, "name", "Retention pay-off file."},
    {2, "delfile", "del file name", 1, 1, false, NAM, ANYR, 0, 0, NO, 0, NO, 0, "name", "Cost of delayed conception file."},
    {2, "mkvfile", "mkv file name", 1, 1, false, NAM, ANYR, 0, 0, NO, 0, NO, 0, "name", "Stored herd (MKV) file."},
    {2, "resfile", "res file name", 1, 1, false, NAM, ANYR, 0, 0, NO, 0, NO, 0, "name", "Statistics report file."},
    {2, "polfile", "pol file name", 1, 1, false, NAM, ANYR, 0, 0, NO, 0, NO, 0, "name", "Policy file."},
    {3, "warmstart", "warm start flag", 1, 1, false, INT, WHOLE, 0, 1, NO, 0, NO, 0, "flag",
     "1 starts the dynamic program from warm.txt."},
    {4, "version", "version number", 1, 1, false, NUM, ANYR, -ANY, ANY, NO, 0, NO, 0, "-",
     "Version number, printed and not kept."},
    {5, "units", "units keyword", 1, 1, false, KEY, ANYR, 0, 0, NO, 0, NO, 0, "keyword",
     "KG for kilograms, any other word for pounds."},
    {6, "analysis", "analysis mode", 1, 1, false, INT, BioRule::analysis, 1, 71, NO, 0, NO, 0, "code",
     "1 = steady state then a 36-month projection; 2 and 3 project 300 months from the stored herd; 71 solves only."},
    {7, "milk_factor", "milk factor by month of pregnancy", 1, 9, true, NUM, RNG, 0, LARGEST_FACTOR, NO, 0, PRG, 1, "factor",
     "Factor on milk yield in months of pregnancy 1..9 (0 = dry)."},
    {8, "milk_curve1", "milk curve of lactation 1", 24, 12, true, NUM, RNG, 0, LARGEST_DAILY_MILK, MIM, 1, CAL, 1, "per day",
     "Daily milk yield of an open first-lactation cow by month in milk and calendar month."},
    {9, "milk_curve2", "milk curve of lactation 2", 24, 12, true, NUM, RNG, 0, LARGEST_DAILY_MILK, MIM, 1, CAL, 1, "per day",
     "The same for the second lactation."},
    {10, "milk_curve3", "milk curve of lactation 3", 24, 12, true, NUM, RNG, 0, LARGEST_DAILY_MILK, MIM, 1, CAL, 1, "per day",
     "The same for the third lactation (later lactations scale it by item 36)."},
    {11, "disposal_lact", "involuntary disposal by lactation", 1, 12, true, NUM, RNG, 0, LARGEST_FACTOR, NO, 0, LAC, 1, "factor",
     "Factor on involuntary disposal by lactation 1..12."},
    {12, "disposal", "involuntary disposal by month in milk", 24, 12, true, NUM, RNG, 0, 1, MIM, 1, CAL, 1, "per month",
     "Monthly probability of involuntary disposal by month in milk and calendar month, multiplied by item 11."},
    {13, "abortion", "abortion risk", 1, 8, true, NUM, RNG, 0, 1, NO, 0, PRG, 2, "per month",
     "Abortion risk in months of pregnancy 2..9."},
    {14, "vwp1", "waiting period of lactation 1", 1, 1, false, INT, WHOLE, SHORTEST_WAIT, MONTHS_IN_MILK, NO, 0, NO, 0, "month",
     "Waiting period of lactation 1, the first month in milk of insemination + 1; at least 3, as the dynamic program inseminates from month in milk 2 at the earliest."},
    {14, "vwp2", "waiting period of lactation 2", 1, 1, false, INT, WHOLE, SHORTEST_WAIT, MONTHS_IN_MILK, NO, 0, NO, 0, "month",
     "The same for lactation 2."},
    {14, "vwp3", "waiting period of later lactations", 1, 1, false, INT, WHOLE, SHORTEST_WAIT, MONTHS_IN_MILK, NO, 0, NO, 0, "month",
     "The same for later lactations."},
    {15, "lbm", "last breeding month", 1, 1, false, INT, WHOLE, 1, LATEST_BREEDING, NO, 0, NO, 0, "month",
     "Last month in milk of insemination + 1, not before any waiting period; at most 16, so that a cow conceiving last calves by month in milk 24."},
    {16, "instime", "insemination time", 1, 1, false, NUM, RNG, 0, LARGEST_MINUTES, NO, 0, NO, 0, "min",
     "Labour minutes per insemination."},
    {16, "inscost", "insemination cost", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money",
     "Other cost per insemination (semen, supplies)."},
    {17, "maxlact", "highest lactation", 1, 1, false, INT, WHOLE, 1, LACTATIONS, NO, 0, NO, 0, "lactation",
     "Highest lactation in the model, 1..12."},
    {18, "conception_lact", "conception factor by lactation", 1, 12, false, NUM, RNG, 0, LARGEST_FACTOR, NO, 0, LAC, 1, "factor",
     "Factor on the conception rate by lactation 1..12."},
    {19, "heat_detection", "heat detection rate", 14, 12, true, NUM, RNG, 0, 1, MIM, 2, CAL, 1, "fraction",
     "Heat detection rate by month in milk 2..15 and calendar month."},
    {20, "conception", "conception rate", 14, 12, true, NUM, RNG, 0, 1, MIM, 2, CAL, 1, "fraction",
     "Base conception rate per insemination by month in milk 2..15 and calendar month (multiplied by item 18)."},
    {21, "repro_cost", "reproduction cost", 14, 12, true, NUM, RNG, 0, LARGEST_MONEY, MIM, 2, CAL, 1, "money per cow-month",
     "Reproduction cost per cow-month in the breeding window."},
    {22, "bodyweight", "open body weight", 24, 2, true, NUM, BioRule::weight, 0, LARGEST_WEIGHT, MIM, 1, LAC, 1, "lb or kg",
     "Open body weight by month in milk: lactation 1, then lactation 2 (later lactations take the second)."},
    {23, "pregnancy_gain", "body weight gain in pregnancy", 2, 9, true, NUM, RNG, 0, LARGEST_WEIGHT, LAC, 1, PRG, 1, "lb or kg",
     "Weight added in months of pregnancy 1..9: row 1 first lactation, row 2 later lactations."},
    {24, "serve", "insemination switches", 1, 24, true, KEY, ANYR, 0, 0, NO, 0, MOD, 1, "keyword",
     "By model month: YES forces insemination, NO forbids it, any other word leaves it to the model."},
    {25, "enter", "heifer entry switches", 1, 24, true, KEY, ANYR, 0, 0, NO, 0, MOD, 1, "keyword",
     "By model month, same coding as item 24."},
    {26, "heifer_price", "heifer price", 1, 24, true, NUM, RNG, 0, LARGEST_MONEY, NO, 0, MOD, 1, "money",
     "Price of a replacement heifer by model month."},
    {26, "milk_price", "milk price", 1, 24, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, MOD, 1, "money per 100",
     "Milk price per 100 units of milk by model month."},
    {26, "bodyweight_price", "cull cow price", 1, 24, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, MOD, 1, "money per unit",
     "Sale price per unit of body weight by model month."},
    {27, "writepol", "pol file switch", 1, 1, true, KEY, ANYR, 0, 0, NO, 0, NO, 0, "keyword",
     "YES writes the pol file; any other word does not."},
    {27, "writerpo", "rpo file switch", 1, 1, false, KEY, ANYR, 0, 0, NO, 0, NO, 0, "keyword",
     "YES writes the rpo and del files; any other word does not."},
    {28, "start_month", "start month", 1, 1, false, KEY, BioRule::month, 0, 0, NO, 0, NO, 0, "keyword",
     "Calendar month of model month 1, JAN..DEC."},
    {29, "policy", "policy", 1, 1, false, KEY, BioRule::policy, 0, 0, NO, 0, NO, 0, "keyword",
     "OPTIMAL, KEEPPREG, KEEPALL or USE_POL (read the policy file)."},
    {30, "maxmim", "highest month in milk", 1, 1, false, INT, WHOLE, 1, MONTHS_IN_MILK, NO, 0, NO, 0, "month",
     "Last month in milk a cow may reach, 1..24, the months the records hold; a value not above the last breeding month - 1 becomes 24."},
    {31, "minmilk", "minimum milk yield", 1, 1, false, NUM, RNG, 0, LARGEST_DAILY_MILK, NO, 0, NO, 0, "per day",
     "Minimum daily milk for keeping a cow from month in milk 4 on."},
    {31, "minrev", "minimum net revenue", 1, 1, false, NUM, RNG, -LARGEST_MONEY, LARGEST_MONEY, NO, 0, NO, 0, "money per day",
     "Minimum daily net revenue for keeping a cow from month in milk 4 on."},
    {31, "interest", "interest rate", 1, 1, false, NUM, RNG, 0, 1, NO, 0, NO, 0, "fraction", "Annual interest rate."},
    {31, "cullcost", "culling cost", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money",
     "Cost of an involuntary disposal."},
    {31, "sel_factor", "sale value factor", 1, 1, false, NUM, RNG, 0, LARGEST_FACTOR, NO, 0, NO, 0, "factor",
     "Factor on the sale value of a cow that dies or is culled involuntarily."},
    {32, "ci_adjust", "calving interval adjustment", 1, 1, false, KEY, ANYR, 0, 0, NO, 0, NO, 0, "keyword",
     "YES adjusts the next lactation's yield class for the calving interval."},
    /* A calf may cost more to dispose of than it fetches. */
    {33, "p_calf", "calf value", 1, 1, false, NUM, RNG, -LARGEST_MONEY, LARGEST_MONEY, NO, 0, NO, 0, "money", "Value of a calf born."},
    {33, "fixedcost1", "fixed cost 1", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per day", "Fixed cost (labour) per cow per day."},
    {33, "fixedcost2", "fixed cost 2", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per day", "Fixed cost (other) per cow per day."},
    {33, "drycost", "daily cost of a dry cow", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per day", "Other daily cost of a dry cow."},
    {33, "lactcost", "daily cost of a lactating cow", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per day", "Other daily cost of a lactating cow."},
    {33, "p_lactfeed", "feed price of lactating cows", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per unit", "Feed price per unit of dry matter, lactating cows."},
    {33, "p_dryfeed", "feed price of dry cows", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per unit", "Feed price per unit of dry matter, dry cows."},
    {33, "drydmi", "dry cow intake", 1, 1, false, NUM, RNG, 0, LARGEST_INTAKE, NO, 0, NO, 0, "per day", "Daily dry-matter intake of a dry cow."},
    {33, "fat", "milk fat percentage", 1, 1, false, NUM, RNG, 0, LARGEST_PERCENT, NO, 0, NO, 0, "%", "Milk fat percentage."},
    /* Negative class probabilities would follow from a negative spread. */
    {33, "yield_sd", "yield standard deviation", 1, 1, false, NUM, BioRule::not_negative, 0, LARGEST_PERCENT, NO, 0, NO, 0, "%",
     "Spread of a cow's relative yield, percent of the herd mean; not negative."},
    /* Outside -1..1 the spread of next lactation's yield would be the root
    ** of a negative number. */
    {33, "yield_corr", "yield correlation", 1, 1, false, NUM, BioRule::correlation, -1, 1, NO, 0, NO, 0, "-",
     "Correlation of a cow's relative yield between lactations, -1..1."},
    {33, "wage", "wage", 1, 1, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, NO, 0, "money per hour", "Wage per hour."},
    {33, "freshtime", "labour time of a fresh cow", 1, 1, false, NUM, RNG, 0, LARGEST_MINUTES, NO, 0, NO, 0, "min", "Extra labour minutes in month in milk 1."},
    {33, "lacttime", "labour time of a lactating cow", 1, 1, false, NUM, RNG, 0, LARGEST_MINUTES, NO, 0, NO, 0, "min", "Labour minutes per cow-month, lactating cow."},
    {33, "drytime", "labour time of a dry cow", 1, 1, false, NUM, RNG, 0, LARGEST_MINUTES, NO, 0, NO, 0, "min", "Labour minutes per cow-month, dry cow."},
    {34, "vetcost", "veterinary cost", 1, 4, false, NUM, RNG, 0, LARGEST_MONEY, NO, 0, MIM, 1, "money per cow-month",
     "Veterinary cost in months in milk 1..4 (later months take the fourth)."},
    {35, "notes", "skipped lines", 13, 1, false, NOTE, ANYR, 0, 0, LINE, 1, NO, 0, "text",
     "13 lines that are skipped (up to 449 characters each)."},
    {36, "lactation_factor", "lactation factor", 1, 9, false, NUM, RNG, 0, LARGEST_FACTOR, NO, 0, LAC, 4, "factor",
     "Factor on the third-lactation milk curve for lactations 4..12."},
};

const std::vector<BioItemInfo> ITEMS = {
    {1, "model", "Time stamp", "text", "First line: time stamp or title, at most 24 characters."},
    {2, "model", "File names", "names", "Run name, then the retention pay-off, delay, herd state, report and policy file names (a run of the workbench chooses its own)."},
    {3, "model", "Warm start", "flag", "1 starts the dynamic program from warm.txt."},
    {4, "model", "Version", "-", "Version number, printed and not kept."},
    {5, "model", "Units", "keyword", "KG for kilograms, anything else for pounds."},
    {6, "model", "Analysis", "code", "1 = steady state then a 36-month projection; 2 and 3 project 300 months from the stored herd; 71 solves only."},
    {7, "milk", "Milk factor by month of pregnancy", "factor", "Factor on milk yield in months of pregnancy 1..9 (0 = dry)."},
    {8, "milk", "Milk curve, lactation 1", "per day", "Daily milk yield of an open first-lactation cow by month in milk (rows) and calendar month (columns)."},
    {9, "milk", "Milk curve, lactation 2", "per day", "The same for the second lactation."},
    {10, "milk", "Milk curve, lactation 3", "per day", "The same for the third lactation (later lactations scale it by item 36)."},
    {11, "culling", "Involuntary disposal by lactation", "factor", "Factor on involuntary disposal by lactation 1..12."},
    {12, "culling", "Involuntary disposal by month in milk", "per month", "Monthly probability of involuntary disposal by month in milk and calendar month, multiplied by item 11."},
    {13, "reproduction", "Abortion risk", "per month", "Abortion risk in months of pregnancy 2..9."},
    {14, "reproduction", "Voluntary waiting period", "month", "Waiting period of lactation 1, 2 and later, written as the first month in milk of insemination + 1; at least 3."},
    {15, "reproduction", "Last breeding month", "month", "Last month in milk of insemination + 1; at most 16 and not before a waiting period."},
    {16, "reproduction", "Insemination", "min; money", "Labour minutes per insemination; other cost per insemination (semen, supplies)."},
    {17, "model", "Highest lactation", "lactations", "Highest lactation in the model, 1..12."},
    {18, "reproduction", "Conception factor by lactation", "factor", "Factor on the conception rate by lactation 1..12."},
    {19, "reproduction", "Heat detection rate", "fraction", "Heat detection rate by month in milk 2..15 and calendar month."},
    {20, "reproduction", "Conception rate", "fraction", "Base conception rate per insemination by month in milk 2..15 and calendar month (multiplied by item 18)."},
    {21, "costs", "Reproduction cost", "money per cow-month", "Reproduction cost per cow-month in the breeding window."},
    {22, "milk", "Open body weight", "lb or kg", "Open body weight by month in milk: first lactation, later lactations."},
    {23, "milk", "Weight added in pregnancy", "lb or kg", "Weight added in months of pregnancy 1..9, first lactation, then later lactations."},
    {24, "reproduction", "Insemination switch", "keyword", "By model month: YES forces insemination, NO forbids it, any other token leaves it to the model."},
    {25, "culling", "Heifer entry switch", "keyword", "By model month, same coding as item 24."},
    {26, "prices", "Prices", "money", "Heifer price, milk price per 100 units of milk, sale price per unit of body weight, by model month."},
    {27, "model", "Write switches", "keyword", "YES writes the pol file; YES writes the rpo and del files."},
    {28, "model", "Start month", "keyword", "Calendar month of model month 1, JAN..DEC."},
    {29, "model", "Policy", "keyword", "OPTIMAL, KEEPPREG, KEEPALL or USE_POL (read the policy file)."},
    {30, "model", "Highest month in milk", "month", "Last month in milk a cow may reach, 1..24; a value not above the last breeding month - 1 becomes 24."},
    {31, "culling", "Culling limits and interest", "various", "Minimum daily milk and net revenue for keeping a cow from month 4; interest rate; cost of an involuntary disposal; factor on the sale value."},
    {32, "milk", "Calving interval adjustment", "keyword", "YES adjusts the next lactation's yield class for the calving interval."},
    {33, "costs", "Costs and animal figures", "various", "Calf value; fixed costs; daily costs; feed prices; dry intake; fat; yield spread and correlation; wage; labour minutes."},
    {34, "costs", "Veterinary cost", "money per cow-month", "Veterinary cost in months in milk 1..4 (later months take the fourth)."},
    {35, "model", "Notes", "text", "13 lines that are skipped (up to 449 characters each)."},
    {36, "milk", "Lactation factor", "factor", "Factor on the third-lactation milk curve for lactations 4..12."},
};
/* clang-format on */


/* Field numbers the walk treats apart. */
int field_of(const char* name)
{
    const int f = find_bio_field(name);
    assert(f >= 0);
    return f;
}

bool is_blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

bool parse_whole(const std::string& token, long& v)
{
    const char* s = token.c_str();
    char* end = nullptr;
    errno = 0;
    v = std::strtol(s, &end, 10);
    return end != s && end == s + token.size() && errno != ERANGE && v >= SHRT_MIN && v <= SHRT_MAX;
}

/* A token that starts like a number, where a keyword is due. */
bool looks_numeric(const std::string& token)
{
    const char c = token.empty() ? 'x' : token[0];
    return std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.';
}

/* The cursor of the walk over the text. */
struct Cursor {
    const std::string& text;
    std::size_t pos = 0;
    bool at_end() const { return pos >= text.size(); }
    void skip_white()
    {
        while (!at_end() && is_blank(text[pos]))
            pos++;
    }
    /* The rest of the line, at most `longest` characters with its line end. */
    void take_line(std::size_t longest)
    {
        std::size_t taken = 0;
        while (!at_end() && taken < longest) {
            const char c = text[pos++];
            taken++;
            if (c == '\n')
                break;
        }
    }
    std::size_t take_token()
    {
        const std::size_t start = pos;
        while (!at_end() && !is_blank(text[pos]))
            pos++;
        return start;
    }
};

/* Length of a taken line without its line end. */
std::size_t line_length(const std::string& text, std::size_t start, std::size_t end)
{
    while (end > start && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        end--;
    return end - start;
}

/* The walk proper: the sink hears of every value and fault in order. */
class Walk {
public:
    Walk(const std::string& text, BioSink& sink, bool judge) : in_{text}, sink_(sink), judge_(judge) {}
    void run();

private:
    bool stamp();
    bool field(int f);
    bool heading(int f);
    /* false when the walk ends here */
    bool early_end(int f, int row, int col);
    bool judge_value(int f, int row, int col, std::size_t start, const std::string& token);

    Cursor in_;
    BioSink& sink_;
    bool judge_;
    long vwp_[3] = {0, 0, 0}; /* file values of item 14 */
    int vwp_seen_ = 0;
};

void Walk::run()
{
    /* A UTF-8 byte-order mark, as some editors write, is not part of the
    ** time stamp. */
    static const char BOM[] = "\xEF\xBB\xBF";
    if (in_.text.compare(0, 3, BOM) == 0)
        in_.pos = 3;
    if (!stamp())
        return;
    const auto& fields = bio_fields();
    for (int f = 1; f < static_cast<int>(fields.size()); f++)
        if (!field(f))
            return;
    in_.skip_white();
    if (!in_.at_end()) {
        BioFault w;
        w.offset = in_.take_token();
        w.length = in_.pos - w.offset;
        w.token = in_.text.substr(w.offset, w.length);
        w.reason = format("data after item %d is ignored", LAST_ITEM);
        w.warning = true;
        sink_.fault(w);
    }
}

bool Walk::stamp()
{
    const std::string& t = in_.text;
    const std::size_t start = in_.pos;
    const std::size_t eol = t.find('\n', start);
    const std::size_t length = (eol == std::string::npos ? t.size() : eol) - start;
    std::string kept;
    if (length < STAMP_LENGTH) {
        const std::size_t take = eol == std::string::npos ? length : length + 1;
        kept = t.substr(start, take);
        in_.pos = start + take;
    } else if (length == STAMP_LENGTH) {
        kept = t.substr(start, STAMP_LENGTH);
        in_.pos = start + STAMP_LENGTH; /* the line end is skipped with the next token */
    } else {
        kept = t.substr(start, STAMP_LENGTH);
        in_.pos = eol == std::string::npos ? t.size() : eol + 1;
    }
    const BioToken at{0, 0, 0, start, line_length(t, start, start + length)};
    if (length > STAMP_LENGTH) {
        BioFault w;
        w.field = 0;
        w.offset = start;
        w.length = at.length;
        w.reason = format("first line longer than %zu characters, the rest is ignored", STAMP_LENGTH);
        w.warning = true;
        sink_.fault(w);
    }
    sink_.value(at, kept, 0.0);
    return true;
}

/* Takes a heading line.  A longer line than the reader takes leaves the
** rest of it to be read as values: every value after it may stand one or
** more places late, and nothing says so but this warning. */
bool Walk::heading(int f)
{
    in_.take_line(HEADING_LENGTH);
    const std::string& t = in_.text;
    if (in_.pos == 0 || t[in_.pos - 1] == '\n')
        return true;
    std::size_t rest = in_.pos;
    while (rest < t.size() && t[rest] != '\n' && is_blank(t[rest]))
        rest++;
    if (rest >= t.size() || t[rest] == '\n')
        return true;
    BioFault w;
    w.field = f;
    w.row = w.col = -1;
    w.offset = rest;
    w.length = 0;
    while (rest + w.length < t.size() && !is_blank(t[rest + w.length]))
        w.length++;
    w.token = t.substr(rest, w.length);
    w.reason = format("the heading is longer than %zu characters, the rest of its line is read as values",
                      HEADING_LENGTH);
    w.warning = true;
    w.stops = true;
    return sink_.fault(w);
}

bool Walk::early_end(int f, int row, int col)
{
    BioFault e;
    e.field = f;
    e.row = row;
    e.col = col;
    e.offset = in_.text.size();
    e.reason = "the file ends early, no value found";
    e.stops = true;
    sink_.fault(e);
    return false;
}

bool Walk::field(int f)
{
    const BioField& field = bio_fields()[f];
    if (field.heading) {
        in_.skip_white();
        if (in_.at_end())
            return early_end(f, -1, -1); /* the heading itself */
        if (!heading(f))
            return false;
    }
    for (int r = 0; r < field.rows; r++)
        for (int c = 0; c < field.cols; c++) {
            in_.skip_white();
            if (in_.at_end())
                return early_end(f, r, c);
            if (field.kind == BioKind::note) {
                const std::size_t start = in_.pos;
                in_.take_line(NOTE_LENGTH);
                const std::size_t length = line_length(in_.text, start, in_.pos);
                sink_.value({f, r, c, start, length}, in_.text.substr(start, length), 0.0);
                continue;
            }
            const std::size_t start = in_.take_token();
            const std::string token = in_.text.substr(start, in_.pos - start);
            if (!judge_) {
                sink_.value({f, r, c, start, token.size()}, token, 0.0);
                continue;
            }
            if (!judge_value(f, r, c, start, token))
                return false;
        }
    return true;
}

bool Walk::judge_value(int f, int row, int col, std::size_t start, const std::string& token)
{
    static const int VWP1 = field_of("vwp1"), LBM = field_of("lbm");
    const BioField& field = bio_fields()[f];
    BioFault fault;
    fault.field = f;
    fault.row = row;
    fault.col = col;
    fault.offset = start;
    fault.length = token.size();
    fault.token = token;
    double number = 0.0;
    fault.reason = bio_value_fault(field, token, number);
    if (fault.reason.empty() && f == LBM) {
        for (int g = 0; g < vwp_seen_ && fault.reason.empty(); g++)
            if (number < vwp_[g]) /* no month would be left to inseminate in */
                fault.reason = format("%ld is before the %s %ld", static_cast<long>(number),
                                      bio_fields()[VWP1 + g].what, vwp_[g]);
    }
    if (fault.reason.empty()) {
        if (f >= VWP1 && f < VWP1 + 3) {
            vwp_[f - VWP1] = static_cast<long>(number);
            vwp_seen_ = f - VWP1 + 1;
        }
        sink_.value({f, row, col, start, token.size()}, token, number);
        return true;
    }
    /* A token of the wrong form (not a number where one is due, a number
    ** where a keyword is) may stand for a missing or an added value: every
    ** position after it is uncertain. */
    bool wrong_form = false;
    long whole = 0;
    if (field.kind == BioKind::number)
        wrong_form = !is_decimal_number(token) || !std::isfinite(std::strtod(token.c_str(), nullptr));
    else if (field.kind == BioKind::integer)
        wrong_form = !parse_whole(token, whole);
    else if (field.rule == BioRule::month || field.rule == BioRule::policy)
        wrong_form = looks_numeric(token);
    fault.stops = wrong_form;
    return sink_.fault(fault);
}

} // namespace

const std::vector<BioField>& bio_fields()
{
    return FIELDS;
}

const std::vector<BioItemInfo>& bio_item_infos()
{
    return ITEMS;
}

int find_bio_field(const std::string& name)
{
    for (std::size_t f = 0; f < FIELDS.size(); f++)
        if (name == FIELDS[f].name)
            return static_cast<int>(f);
    return -1;
}

int item_index(int field, int row, int col)
{
    int index = 0;
    for (int f = field - 1; f >= 0 && FIELDS[f].item == FIELDS[field].item; f--)
        index += FIELDS[f].rows * FIELDS[f].cols;
    return index + row * FIELDS[field].cols + col;
}

std::string axis_label(BioAxis axis, int first, int k)
{
    switch (axis) {
    case BioAxis::none:
        return "";
    case BioAxis::calendar_month:
        return MONTH_NAMES[MONTH_WRAP(static_cast<short>(first + k))];
    default:
        return std::to_string(first + k);
    }
}

int axis_position(BioAxis axis, int first, int count, const std::string& label)
{
    for (int k = 0; k < count; k++) {
        const std::string want = axis_label(axis, first, k);
        if (want.size() == label.size() &&
            std::equal(want.begin(), want.end(), label.begin(), [](char a, char b) {
                return a == std::toupper(static_cast<unsigned char>(b));
            }))
            return k;
    }
    return -1;
}

const char* axis_name(BioAxis axis)
{
    switch (axis) {
    case BioAxis::none:
        return "";
    case BioAxis::month_in_milk:
        return "month in milk";
    case BioAxis::calendar_month:
        return "calendar month";
    case BioAxis::model_month:
        return "model month";
    case BioAxis::lactation:
        return "lactation";
    case BioAxis::pregnancy_month:
        return "month of pregnancy";
    case BioAxis::line:
        return "line";
    }
    return "";
}

const char* kind_word(BioKind kind)
{
    switch (kind) {
    case BioKind::text:
    case BioKind::note:
        return "text";
    case BioKind::name:
        return "name";
    case BioKind::integer:
        return "integer";
    case BioKind::number:
        return "number";
    case BioKind::keyword:
        return "keyword";
    }
    return "";
}

bool is_decimal_number(const std::string& token)
{
    /* [+-] digits [. digits] | [+-] . digits, then [eE [+-] digits] */
    std::size_t i = 0;
    const std::size_t n = token.size();
    auto digits = [&] {
        const std::size_t from = i;
        while (i < n && std::isdigit(static_cast<unsigned char>(token[i])))
            i++;
        return i - from;
    };
    if (i < n && (token[i] == '+' || token[i] == '-'))
        i++;
    std::size_t mantissa = digits();
    if (i < n && token[i] == '.') {
        i++;
        mantissa += digits();
    }
    if (mantissa == 0)
        return false;
    if (i < n && (token[i] == 'e' || token[i] == 'E')) {
        i++;
        if (i < n && (token[i] == '+' || token[i] == '-'))
            i++;
        if (digits() == 0)
            return false;
    }
    return i == n;
}

std::string bio_value_fault(const BioField& field, const std::string& token, double& number)
{
    number = 0.0;
    switch (field.kind) {
    case BioKind::text:
    case BioKind::note:
        return "";
    case BioKind::name:
        if (token.find('\0') != std::string::npos)
            /* The name would be cut at the NUL: another file than the one written. */
            return format("the %s holds a NUL character", field.what);
        if (token.size() > LONGEST_NAME)
            return format("the %s is longer than %zu characters", field.what, LONGEST_NAME);
        return "";
    case BioKind::keyword:
        if (field.rule == BioRule::month) {
            if (MONTH_OF_NAME(token) != 0)
                return "";
            /* The series could not be placed on calendar months. */
            return format("\"%s\" is not JAN..DEC", token.c_str());
        }
        if (field.rule == BioRule::policy) {
            if (token == "OPTIMAL" || token == "KEEPPREG" || token == "KEEPALL" || token == "USE_POL")
                return "";
            return format("\"%s\" is not OPTIMAL, KEEPPREG, KEEPALL or USE_POL", token.c_str());
        }
        return "";
    case BioKind::integer: {
        long v = 0;
        if (!parse_whole(token, v))
            return format("a whole number expected, found \"%s\"", token.c_str());
        number = static_cast<double>(v);
        if (field.rule == BioRule::analysis) {
            if (v != 1 && v != 2 && v != 3 && v != 71)
                return format("%ld is not 1, 2, 3 or 71", v);
            return "";
        }
        if (v < field.lowest || v > field.highest)
            return format("%ld is outside %ld..%ld", v, static_cast<long>(field.lowest),
                          static_cast<long>(field.highest));
        return "";
    }
    case BioKind::number:
        break;
    }
    /* Numbers are decimal: strtod alone would take hexadecimal too. */
    const double v = std::strtod(token.c_str(), nullptr);
    if (!is_decimal_number(token) || !std::isfinite(v))
        return format("a number expected, found \"%s\"", token.c_str());
    number = v;
    switch (field.rule) {
    case BioRule::any:
        return "";
    case BioRule::correlation:
        if (v < field.lowest || v > field.highest)
            return format("%g is outside %g..%g", v, field.lowest, field.highest);
        return "";
    case BioRule::not_negative:
        if (!(v >= -field.highest && v <= field.highest))
            return format("\"%s\" is outside %g..%g", token.c_str(), -field.highest, field.highest);
        if (v < 0.0)
            return format("%g is negative", v);
        return "";
    default:
        break;
    }
    if (!(v >= field.lowest && v <= field.highest))
        return format("\"%s\" is outside %g..%g", token.c_str(), field.lowest, field.highest);
    if (field.rule == BioRule::weight && v <= 0.0)
        return "a weight must be above 0";
    return "";
}

void walk_bio_text(const std::string& text, BioSink& sink, bool judge)
{
    Walk(text, sink, judge).run();
}

namespace {

class LayoutSink : public BioSink {
public:
    explicit LayoutSink(BioLayout& out) : out_(out) {}
    void value(const BioToken& at, const std::string&, double) override { out_.tokens.push_back(at); }
    bool fault(const BioFault& f) override
    {
        if (!f.warning && f.stops && f.field >= 0)
            out_.missing_item = bio_fields()[f.field].item;
        return true;
    }

private:
    BioLayout& out_;
};

class FaultSink : public BioSink {
public:
    explicit FaultSink(std::vector<BioFault>& out) : out_(out) {}
    void value(const BioToken&, const std::string&, double) override {}
    bool fault(const BioFault& f) override
    {
        out_.push_back(f);
        return !f.stops;
    }

private:
    std::vector<BioFault>& out_;
};

} // namespace

BioLayout bio_layout(const std::string& text)
{
    BioLayout out;
    LayoutSink sink(out);
    walk_bio_text(text, sink, false);
    out.complete = out.missing_item == 0;
    return out;
}

std::vector<BioFault> bio_faults(const std::string& text)
{
    std::vector<BioFault> out;
    FaultSink sink(out);
    walk_bio_text(text, sink, true);
    return out;
}
