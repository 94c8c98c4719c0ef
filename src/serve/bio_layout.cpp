/*
** bio_layout.cpp -- the item table and the walk over a bio file's text.
*/
#include "serve/bio_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace serve {

namespace {

/* Line lengths the reader takes: the time stamp, a heading, a note line. */
constexpr std::size_t STAMP_LENGTH = 24;
constexpr std::size_t HEADING_LENGTH = 49;
constexpr std::size_t NOTE_LENGTH = 449;
constexpr std::size_t NOTE_LINES = 13;
constexpr std::size_t LONGEST_TOKEN = 4095;
constexpr int STAMP_ITEM = 1;
constexpr int NOTES_ITEM = 35;

std::vector<std::string> numbered(const char* prefix, int first, int last)
{
    std::vector<std::string> out;
    for (int i = first; i <= last; i++)
        out.push_back(std::string(prefix) + std::to_string(i));
    return out;
}

const std::vector<std::string> CALENDAR = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                           "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::vector<BioItem> make_items()
{
    const auto mim24 = numbered("month in milk ", 1, 24);
    const auto mim2_15 = numbered("month in milk ", 2, 15);
    const auto lact12 = numbered("lactation ", 1, 12);
    const auto month24 = numbered("model month ", 1, 24);
    return {
        {1, "model", "Time stamp", "text", "First line: time stamp or title, at most 24 characters.", false, 1, 1, "text", {}, {}},
        {2, "model", "File names", "names", "Run name, then the retention pay-off, delay, herd state, report and policy file names (a run of the workbench chooses its own).", false, 1, 6, "name",
         {"run name", "rpo file", "del file", "MKV file", "report file", "pol file"}, {}},
        {3, "model", "Warm start", "flag", "1 starts the dynamic program from warm.txt.", false, 1, 1, "integer", {}, {}},
        {4, "model", "Version", "-", "Version number, printed and not kept.", false, 1, 1, "number", {}, {}},
        {5, "model", "Units", "keyword", "KG for kilograms, anything else for pounds.", false, 1, 1, "keyword", {}, {}},
        {6, "model", "Analysis", "code", "1 = steady state then a 36-month projection; 2 and 3 project 300 months from the stored herd; 71 solves only.", false, 1, 1, "integer", {}, {}},
        {7, "milk", "Milk factor by month of pregnancy", "factor", "Factor on milk yield in months of pregnancy 1..9 (0 = dry).", true, 1, 9, "number", numbered("month ", 1, 9), {}},
        {8, "milk", "Milk curve, lactation 1", "per day", "Daily milk yield of an open first-lactation cow by month in milk (rows) and calendar month (columns).", true, 24, 12, "number", mim24, CALENDAR},
        {9, "milk", "Milk curve, lactation 2", "per day", "The same for the second lactation.", true, 24, 12, "number", mim24, CALENDAR},
        {10, "milk", "Milk curve, lactation 3", "per day", "The same for the third lactation (later lactations scale it by item 36).", true, 24, 12, "number", mim24, CALENDAR},
        {11, "culling", "Involuntary disposal by lactation", "factor", "Factor on involuntary disposal by lactation 1..12.", true, 1, 12, "number", lact12, {}},
        {12, "culling", "Involuntary disposal by month in milk", "per month", "Monthly probability of involuntary disposal by month in milk and calendar month, multiplied by item 11.", true, 24, 12, "number", mim24, CALENDAR},
        {13, "reproduction", "Abortion risk", "per month", "Abortion risk in months of pregnancy 2..9.", true, 1, 8, "number", numbered("month ", 2, 9), {}},
        {14, "reproduction", "Voluntary waiting period", "month", "Waiting period of lactation 1, 2 and later, written as the first month in milk of insemination + 1.", false, 1, 3, "integer",
         {"lactation 1", "lactation 2", "later"}, {}},
        {15, "reproduction", "Last breeding month", "month", "Last month in milk of insemination + 1.", false, 1, 1, "integer", {}, {}},
        {16, "reproduction", "Insemination", "min; money", "Labour minutes per insemination; other cost per insemination (semen, supplies).", false, 1, 2, "number",
         {"labour minutes", "cost"}, {}},
        {17, "model", "Highest lactation", "lactations", "Highest lactation in the model, 1..12.", false, 1, 1, "integer", {}, {}},
        {18, "reproduction", "Conception factor by lactation", "factor", "Factor on the conception rate by lactation 1..12.", false, 1, 12, "number", lact12, {}},
        {19, "reproduction", "Heat detection rate", "fraction", "Heat detection rate by month in milk 2..15 and calendar month.", true, 14, 12, "number", mim2_15, CALENDAR},
        {20, "reproduction", "Conception rate", "fraction", "Base conception rate per insemination by month in milk 2..15 and calendar month (multiplied by item 18).", true, 14, 12, "number", mim2_15, CALENDAR},
        {21, "costs", "Reproduction cost", "money per cow-month", "Reproduction cost per cow-month in the breeding window.", true, 14, 12, "number", mim2_15, CALENDAR},
        {22, "milk", "Open body weight", "lb or kg", "Open body weight by month in milk: first lactation, later lactations.", true, 24, 2, "number", mim24,
         {"lactation 1", "later"}},
        {23, "milk", "Weight added in pregnancy", "lb or kg", "Weight added in months of pregnancy 1..9, first lactation, then later lactations.", true, 2, 9, "number",
         {"lactation 1", "later"}, numbered("", 1, 9)},
        {24, "reproduction", "Insemination switch", "keyword", "By model month: YES forces insemination, NO forbids it, any other token leaves it to the model.", true, 1, 24, "keyword", month24, {}},
        {25, "culling", "Heifer entry switch", "keyword", "By model month, same coding as item 24.", true, 1, 24, "keyword", month24, {}},
        {26, "prices", "Prices", "money", "Heifer price, milk price per 100 units of milk, sale price per unit of body weight, by model month.", true, 3, 24, "number",
         {"heifer price", "milk price", "cull cow price"}, numbered("", 1, 24)},
        {27, "model", "Write switches", "keyword", "YES writes the pol file; YES writes the rpo and del files.", true, 1, 2, "keyword",
         {"pol file", "rpo and del files"}, {}},
        {28, "model", "Start month", "keyword", "Calendar month of model month 1, JAN..DEC.", false, 1, 1, "keyword", {}, {}},
        {29, "model", "Policy", "keyword", "OPTIMAL, KEEPPREG, KEEPALL or USE_POL (read the policy file).", false, 1, 1, "keyword", {}, {}},
        {30, "model", "Highest month in milk", "month", "Last month in milk a cow may reach; a value not above the last breeding month becomes 24.", false, 1, 1, "integer", {}, {}},
        {31, "culling", "Culling limits and interest", "various", "Minimum daily milk and net revenue for keeping a cow from month 4; interest rate; cost of an involuntary disposal; factor on the sale value.", false, 1, 5, "number",
         {"minimum milk", "minimum net revenue", "interest rate", "disposal cost", "sale value factor"}, {}},
        {32, "milk", "Calving interval adjustment", "keyword", "YES adjusts the next lactation's yield class for the calving interval.", false, 1, 1, "keyword", {}, {}},
        {33, "costs", "Costs and animal figures", "various", "Calf value; fixed costs; daily costs; feed prices; dry intake; fat; yield spread and correlation; wage; labour minutes.", false, 1, 15, "number",
         {"calf value", "fixed cost (labour) per day", "fixed cost (other) per day", "daily cost, dry cow", "daily cost, lactating cow",
          "feed price, lactating", "feed price, dry", "dry cow intake", "milk fat %", "yield spread %", "yield correlation", "wage per hour",
          "labour, fresh month (min)", "labour, lactating (min)", "labour, dry (min)"}, {}},
        {34, "costs", "Veterinary cost", "money per cow-month", "Veterinary cost in months in milk 1..4 (later months take the fourth).", false, 1, 4, "number", numbered("month ", 1, 4), {}},
        {35, "model", "Notes", "text", "13 lines that are skipped (up to 449 characters each).", false, 13, 1, "text", numbered("line ", 1, 13), {}},
        {36, "milk", "Lactation factor", "factor", "Factor on the third-lactation milk curve for lactations 4..12.", false, 1, 9, "number", numbered("lactation ", 4, 12), {}},
    };
}

bool is_blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

struct Cursor {
    const std::string& text;
    std::size_t pos = 0;
    bool at_end() const { return pos >= text.size(); }
    void skip_white()
    {
        while (!at_end() && is_blank(text[pos]))
            pos++;
    }
    /* The rest of the line after white space, at most `longest` characters
    ** (the line end included); returns its start. */
    std::size_t take_line(std::size_t longest)
    {
        std::size_t start = pos;
        std::size_t taken = 0;
        while (!at_end() && taken < longest) {
            char c = text[pos++];
            taken++;
            if (c == '\n')
                break;
        }
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

} // namespace

const std::vector<BioItem>& bio_items()
{
    static const std::vector<BioItem> items = make_items();
    return items;
}

BioWalk walk_bio(const std::string& text)
{
    BioWalk walk;
    Cursor in{text};

    std::size_t eol = text.find('\n');
    std::size_t first = eol == std::string::npos ? text.size() : eol;
    walk.tokens.push_back({STAMP_ITEM, 0, 0, line_length(text, 0, first)});
    if (first < STAMP_LENGTH)
        in.pos = eol == std::string::npos ? first : first + 1;
    else if (first == STAMP_LENGTH)
        in.pos = STAMP_LENGTH;
    else
        in.pos = eol == std::string::npos ? text.size() : eol + 1;

    for (const BioItem& item : bio_items()) {
        if (item.item == STAMP_ITEM)
            continue;
        if (item.item == NOTES_ITEM) {
            for (std::size_t i = 0; i < NOTE_LINES; i++) {
                in.skip_white();
                if (in.at_end()) {
                    walk.missing_item = item.item;
                    return walk;
                }
                std::size_t start = in.take_line(NOTE_LENGTH);
                walk.tokens.push_back({item.item, static_cast<int>(i), start,
                                       line_length(text, start, in.pos)});
            }
            continue;
        }
        if (item.heading) {
            in.skip_white();
            if (in.at_end()) {
                walk.missing_item = item.item;
                return walk;
            }
            in.take_line(HEADING_LENGTH);
        }
        for (int i = 0; i < item.rows * item.cols; i++) {
            in.skip_white();
            if (in.at_end()) {
                walk.missing_item = item.item;
                return walk;
            }
            std::size_t start = in.pos;
            while (!in.at_end() && !is_blank(text[in.pos]))
                in.pos++;
            walk.tokens.push_back({item.item, i, start, in.pos - start});
        }
    }
    walk.complete = true;
    return walk;
}

std::string token_text(const std::string& text, const BioToken& token)
{
    return text.substr(token.offset, token.length);
}

namespace {

/* Why `value` cannot stand in the place of `token`, or "". */
std::string unfit_value(const BioToken& token, const std::string& value)
{
    if (value.find('\n') != std::string::npos || value.find('\r') != std::string::npos)
        return "a line end is not allowed";
    if (token.item == STAMP_ITEM)
        return value.size() > STAMP_LENGTH ? "the time stamp is at most 24 characters" : "";
    if (token.item == NOTES_ITEM) {
        if (value.size() >= NOTE_LENGTH)
            return "a note line is at most 448 characters";
        /* A blank line would be skipped and the next line taken in its place. */
        if (std::all_of(value.begin(), value.end(), is_blank))
            return "a note line needs some text";
        if (is_blank(value.front()))
            return "a note line cannot start with white space";
        return "";
    }
    if (value.empty())
        return "a value is needed";
    if (std::any_of(value.begin(), value.end(), is_blank))
        return "one value without spaces is needed";
    if (value.size() > LONGEST_TOKEN)
        return "the value is too long";
    return "";
}

} // namespace

std::string apply_changes(std::string& text, const std::map<std::string, std::string>& changes)
{
    if (changes.empty())
        return "";
    BioWalk walk = walk_bio(text);
    std::map<std::string, const BioToken*> by_key;
    for (const BioToken& t : walk.tokens)
        by_key[std::to_string(t.item) + "." + std::to_string(t.index)] = &t;

    std::vector<std::pair<const BioToken*, const std::string*>> edits;
    for (const auto& [key, value] : changes) {
        auto found = by_key.find(key);
        if (found == by_key.end())
            return "no value " + key + " in the file";
        std::string why = unfit_value(*found->second, value);
        if (!why.empty())
            return "value " + key + ": " + why;
        edits.emplace_back(found->second, &value);
    }
    /* From the end backwards, so that earlier offsets stay valid. */
    std::sort(edits.begin(), edits.end(),
              [](const auto& a, const auto& b) { return a.first->offset > b.first->offset; });
    std::string out = text;
    for (const auto& [token, value] : edits)
        out.replace(token->offset, token->length, *value);
    text = std::move(out);
    return "";
}

} // namespace serve
