/*
** calib_records.cpp -- reading one herd's records (calib_records.h).
**
** Each table is read whole, its header mapped to the fields the
** calibration needs, and each row checked before it is kept.  The herd's
** cows are numbered in the order they are first met so that the tables
** join on small numbers.
*/
#include "calib/calib_records.h"

#include <cassert>
#include <cerrno>
#include <cstdlib>
#include <set>
#include <sstream>
#include <utility>

#include "core/calendar.h"
#include "core/input_file.h"

namespace {

/* ---- constants ----
** LARGEST_TABLE  the largest records table read (a herd's test days of ten
**                years are a few MB; a national file of many herds more)
** FIRST_YEAR, LAST_YEAR  the dates accepted: anything else is a typing slip
** LARGEST_LACT   a lactation number beyond it is not a cow's
** LARGEST_MILK   a day's milk beyond it is not a cow's, in kg or lb */
constexpr std::size_t LARGEST_TABLE = 512u << 20;
constexpr int FIRST_YEAR = 1900, LAST_YEAR = 2200;
constexpr int LARGEST_LACT = 30;
constexpr double LARGEST_MILK = 300.0;

const char* const KIND_WORDS[] = {"none", "died", "culled-involuntary", "culled-voluntary", "culled",
                                  "sold", "moved", "ignore"};

/* Splits a CSV line on commas; a field in double quotes may hold commas. */
std::vector<std::string> split_csv(const std::string& line)
{
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); i++) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                cur += '"', i++;
            else if (c == '"')
                quoted = false;
            else
                cur += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.push_back(cur);
            cur.clear();
        } else if (c != '\r') {
            cur += c;
        }
    }
    out.push_back(cur);
    for (std::string& f : out) {
        while (!f.empty() && (f.back() == ' ' || f.back() == '\t'))
            f.pop_back();
        std::size_t b = 0;
        while (b < f.size() && (f[b] == ' ' || f[b] == '\t'))
            b++;
        f.erase(0, b);
    }
    return out;
}

bool parse_number(const std::string& s, double& v)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    v = std::strtod(s.c_str(), &end);
    return errno == 0 && end && *end == '\0' && v == v;
}

bool parse_whole(const std::string& s, int& v)
{
    double d;
    if (!parse_number(s, d) || d != static_cast<int>(d))
        return false;
    v = static_cast<int>(d);
    return true;
}

/* One table read and its rows split, each with its line number. */
struct Table {
    std::string file, name;
    std::vector<int> col;  /* the field's column in the header, -1 when optional and absent */
    std::vector<std::pair<int, std::vector<std::string>>> rows;
};

/* Reads `file` as table `name` with the named fields; `optional` fields
** may be missing from the header. */
bool read_table(const std::string& file, const char* name, const std::vector<std::string>& fields,
                const std::set<std::string>& optional, const RecordSources& src, Table& t,
                std::string& error, bool herded = true)
{
    t.file = file;
    t.name = name;
    std::string text, why;
    if (READ_INPUT_FILE(file, LARGEST_TABLE, text, why) != InputRead::read) {
        error = file + ": " + (why.empty() ? "cannot be read" : why);
        return false;
    }
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        number++;
        if (header.empty()) {
            if (!line.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
                line.erase(0, 3); /* a byte-order mark */
            header = split_csv(line);
            for (const std::string& f : fields) {
                auto m = src.columns.find(std::string(name) + "." + f);
                const std::string want = m == src.columns.end() ? f : m->second;
                int at = -1;
                for (std::size_t k = 0; k < header.size(); k++)
                    if (header[k] == want)
                        at = static_cast<int>(k);
                if (at < 0 && !optional.count(f)) {
                    error = file + ": line 1: no column " + want + " (the " + name + " table's " + f +
                            "; map it with --columns " + name + "." + f + "=HEADER)";
                    return false;
                }
                t.col.push_back(at);
            }
            continue;
        }
        if (line.empty() || line == "\r")
            continue;
        /* a file of many herds: a row that does not name the herd picked is
        ** not split at all (the herd field is judged on the rows that do) */
        if (herded && !src.herd.empty() && line.find(src.herd) == std::string::npos)
            continue;
        t.rows.emplace_back(number, split_csv(line));
    }
    if (header.empty()) {
        error = file + ": empty: no header line";
        return false;
    }
    return true;
}

struct Reader {
    const RecordSources& src;
    HerdRecords& out;
    std::map<std::string, int> cow_number;
    std::set<std::string> herds_seen;

    int cow(const std::string& id)
    {
        auto it = cow_number.find(id);
        if (it != cow_number.end())
            return it->second;
        const int n = static_cast<int>(out.cow_names.size());
        out.cow_names.push_back(id);
        cow_number.emplace(id, n);
        return n;
    }

    void aside(const Table& t, int line, int field, const std::string& why)
    {
        std::string col = field < 0 ? std::string("-") : std::to_string(t.col[field] + 1);
        out.set_aside.push_back(t.file + ":" + std::to_string(line) + ": column " + col + ": " + why);
    }

    /* The row's field, or "" when the column is absent or the row short. */
    static const std::string& field(const Table& t, const std::vector<std::string>& row, int f)
    {
        static const std::string none;
        const int c = t.col[f];
        return c >= 0 && c < static_cast<int>(row.size()) ? row[c] : none;
    }

    /* Checks the row's herd (field 0 when `herded`): false to skip it. */
    bool in_herd(const Table& t, const std::vector<std::string>& row)
    {
        const std::string& h = field(t, row, 0);
        herds_seen.insert(h);
        return src.herd.empty() || h == src.herd;
    }

    /* Calls take(line, row) for each row of t that belongs to the herd;
    ** every row counts as read. */
    template <class Take>
    void herd_rows(const Table& t, Take take)
    {
        for (const auto& [line, row] : t.rows) {
            out.rows_read++;
            if (in_herd(t, row))
                take(line, row);
        }
    }

    /* False, with the row set aside, when the table has had a row of this
    ** cow on this day already. */
    bool first_of_day(std::set<std::pair<int, int>>& seen, const Table& t, int line, int cow, int day,
                      const char* what, const char* when = "on that date")
    {
        if (seen.insert({cow, day}).second)
            return true;
        aside(t, line, -1, std::string("a second ") + what + " of cow " + out.cow_names[cow] + " " + when);
        return false;
    }

    bool date(const Table& t, int line, const std::vector<std::string>& row, int f, int& day)
    {
        const std::string& s = field(t, row, f);
        if (!parse_day(s, day)) {
            aside(t, line, f, "'" + s + "' is not a date (YYYY-MM-DD)");
            return false;
        }
        return true;
    }
};

} // namespace

const char* exit_kind_word(ExitKind kind)
{
    return KIND_WORDS[static_cast<int>(kind)];
}

bool parse_day(const std::string& text, int& day)
{
    int y, m, d;
    char rest;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &rest) != 3)
        return false;
    for (int k : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[k] < '0' || text[k] > '9')
            return false;
    if (y < FIRST_YEAR || y > LAST_YEAR || m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    day = days_from_civil(y, m, d);
    const CivilDate back = civil_from_days(day);
    return back.y == y && back.m == m && back.d == d; /* no 31 April */
}

int month_index(int day)
{
    return month_of_day(day);
}

std::string parse_column_map(const std::string& text, std::map<std::string, std::string>& out)
{
    for (const std::string& pair : split_csv(text)) {
        const auto eq = pair.find('=');
        const auto dot = pair.find('.');
        if (eq == std::string::npos || dot == std::string::npos || dot > eq || eq + 1 == pair.size())
            return "--columns: '" + pair + "' is not TABLE.FIELD=HEADER";
        const std::string table = pair.substr(0, dot);
        static const std::set<std::string> tables = {"tests", "inseminations", "calvings",
                                                     "pregnancy_checks", "exits", "cows"};
        if (!tables.count(table))
            return "--columns: no table '" + table + "' (tests, inseminations, calvings, pregnancy_checks, exits, cows)";
        out[pair.substr(0, eq)] = pair.substr(eq + 1);
    }
    return "";
}

std::string parse_exit_reasons(const std::string& text, std::map<std::string, ExitKind>& out)
{
    for (const std::string& pair : split_csv(text)) {
        const auto eq = pair.find('=');
        if (eq == std::string::npos || eq == 0)
            return "--exit-reasons: '" + pair + "' is not CODE=KIND";
        const std::string word = pair.substr(eq + 1);
        ExitKind kind = ExitKind::none;
        for (int k = 1; k <= static_cast<int>(ExitKind::ignore); k++)
            if (word == KIND_WORDS[k])
                kind = static_cast<ExitKind>(k);
        if (kind == ExitKind::none)
            return "--exit-reasons: '" + word +
                   "' is not died, culled-involuntary, culled-voluntary, culled, sold, moved or ignore";
        out[pair.substr(0, eq)] = kind;
    }
    return "";
}

bool READ_HERD_RECORDS(const RecordSources& src, HerdRecords& out, std::string& error)
{
    out = HerdRecords();
    Reader r{src, out, {}, {}};
    std::map<std::string, ExitKind> reasons = {{"died", ExitKind::died},
                                               {"culled-involuntary", ExitKind::culled_involuntary},
                                               {"culled-voluntary", ExitKind::culled_voluntary},
                                               {"culled", ExitKind::culled},
                                               {"sold", ExitKind::sold},
                                               {"moved", ExitKind::moved}};
    for (const auto& [code, kind] : src.exit_reasons)
        reasons[code] = kind;

    /* Cows first: their birth days judge the calvings. */
    if (!src.cows.empty()) {
        Table t;
        if (!read_table(src.cows, "cows", {"cow", "birth"}, {}, src, t, error, false))
            return false;
        out.have_cows = true;
        std::set<int> seen;
        for (const auto& [line, row] : t.rows) {
            out.rows_read++;
            int day;
            if (!r.date(t, line, row, 1, day))
                continue;
            const int c = r.cow(Reader::field(t, row, 0));
            if (!seen.insert(c).second) {
                r.aside(t, line, 0, "a second row of cow " + out.cow_names[c]);
                continue;
            }
            out.birth[c] = day;
        }
    }
    auto born_after = [&](int cow, int day) {
        auto b = out.birth.find(cow);
        return b != out.birth.end() && day < b->second;
    };

    /* Test days. */
    {
        Table t;
        if (!read_table(src.tests, "tests", {"herd", "cow", "date", "lact", "calving", "milk"}, {}, src, t,
                        error))
            return false;
        std::set<std::pair<int, int>> seen;
        r.herd_rows(t, [&](int line, const std::vector<std::string>& row) {
            TestDay d{};
            if (!r.date(t, line, row, 2, d.day) || !r.date(t, line, row, 4, d.calving))
                return;
            if (!parse_whole(Reader::field(t, row, 3), d.lact) || d.lact < 1 || d.lact > LARGEST_LACT) {
                r.aside(t, line, 3, "'" + Reader::field(t, row, 3) + "' is not a lactation (1.." +
                                        std::to_string(LARGEST_LACT) + ")");
                return;
            }
            if (!parse_number(Reader::field(t, row, 5), d.milk) || d.milk < 0 || d.milk > LARGEST_MILK) {
                r.aside(t, line, 5, "'" + Reader::field(t, row, 5) + "' is not a day's milk");
                return;
            }
            d.cow = r.cow(Reader::field(t, row, 1));
            if (d.day < d.calving) {
                r.aside(t, line, 2, "test day before the calving it names");
                return;
            }
            if (born_after(d.cow, d.calving)) {
                r.aside(t, line, 4, "calving before the cow's birth");
                return;
            }
            if (!r.first_of_day(seen, t, line, d.cow, d.day, "test day"))
                return;
            out.tests.push_back(d);
        });
        if (!src.herd.empty() && !r.herds_seen.count(src.herd)) {
            error = src.tests + ": no herd " + src.herd;
            return false;
        }
        if (src.herd.empty()) {
            if (r.herds_seen.size() > 1) {
                error = src.tests + ": holds " + std::to_string(r.herds_seen.size()) +
                        " herds: pick one with --herd";
                return false;
            }
        }
        out.herd = src.herd.empty() ? (r.herds_seen.empty() ? std::string() : *r.herds_seen.begin()) : src.herd;
    }

    /* Inseminations. */
    {
        Table t;
        if (!read_table(src.inseminations, "inseminations", {"herd", "cow", "date"}, {}, src, t, error))
            return false;
        std::set<std::pair<int, int>> seen;
        r.herd_rows(t, [&](int line, const std::vector<std::string>& row) {
            Insemination s{};
            if (!r.date(t, line, row, 2, s.day))
                return;
            s.cow = r.cow(Reader::field(t, row, 1));
            if (born_after(s.cow, s.day)) {
                r.aside(t, line, 2, "insemination before the cow's birth");
                return;
            }
            if (!r.first_of_day(seen, t, line, s.cow, s.day, "insemination"))
                return;
            out.inseminations.push_back(s);
        });
    }

    /* Calvings, when there are any. */
    if (!src.calvings.empty()) {
        Table t;
        if (!read_table(src.calvings, "calvings", {"herd", "cow", "date", "lact"}, {}, src, t, error))
            return false;
        out.have_calvings = true;
        std::set<std::pair<int, int>> seen;
        r.herd_rows(t, [&](int line, const std::vector<std::string>& row) {
            Calving c{};
            if (!r.date(t, line, row, 2, c.day))
                return;
            if (!parse_whole(Reader::field(t, row, 3), c.lact) || c.lact < 1 || c.lact > LARGEST_LACT) {
                r.aside(t, line, 3, "'" + Reader::field(t, row, 3) + "' is not a lactation");
                return;
            }
            c.cow = r.cow(Reader::field(t, row, 1));
            if (born_after(c.cow, c.day)) {
                r.aside(t, line, 2, "calving before the cow's birth");
                return;
            }
            if (!r.first_of_day(seen, t, line, c.cow, c.day, "calving"))
                return;
            out.calvings.push_back(c);
        });
    }

    /* Pregnancy checks, when there are any. */
    if (!src.checks.empty()) {
        Table t;
        if (!read_table(src.checks, "pregnancy_checks", {"herd", "cow", "date", "result"}, {}, src, t, error))
            return false;
        out.have_checks = true;
        std::set<std::pair<int, int>> seen;
        r.herd_rows(t, [&](int line, const std::vector<std::string>& row) {
            PregnancyCheck c{};
            if (!r.date(t, line, row, 2, c.day))
                return;
            const std::string& res = Reader::field(t, row, 3);
            if (res != "pregnant" && res != "open") {
                r.aside(t, line, 3, "'" + res + "' is not pregnant or open");
                return;
            }
            c.pregnant = res == "pregnant";
            c.cow = r.cow(Reader::field(t, row, 1));
            if (!r.first_of_day(seen, t, line, c.cow, c.day, "check"))
                return;
            out.checks.push_back(c);
        });
    }

    /* Stays: entries and exits. */
    {
        Table t;
        if (!read_table(src.exits, "exits", {"herd", "cow", "entry", "entry_reason", "date", "reason"},
                        {"entry_reason"}, src, t, error))
            return false;
        std::set<std::pair<int, int>> seen;
        std::set<std::string> unknown;
        r.herd_rows(t, [&](int line, const std::vector<std::string>& row) {
            Stay s{};
            if (!r.date(t, line, row, 2, s.entry))
                return;
            s.exit = -1;
            s.kind = ExitKind::none;
            const std::string& out_day = Reader::field(t, row, 4);
            if (!out_day.empty()) {
                if (!r.date(t, line, row, 4, s.exit))
                    return;
                const std::string& code = Reader::field(t, row, 5);
                auto k = reasons.find(code);
                if (k == reasons.end()) {
                    r.aside(t, line, 5, "exit code '" + code + "' has no kind");
                    unknown.insert(code);
                    return;
                }
                s.kind = k->second;
                if (s.exit < s.entry) {
                    r.aside(t, line, 4, "exit before entry");
                    return;
                }
            }
            s.cow = r.cow(Reader::field(t, row, 1));
            if (!r.first_of_day(seen, t, line, s.cow, s.entry, "stay", "from that date"))
                return;
            out.stays.push_back(s);
        });
        if (!unknown.empty()) {
            std::string list;
            for (const std::string& c : unknown)
                list += (list.empty() ? "'" : ", '") + c + "'";
            error = src.exits + ": exit code " + list +
                    " has no kind: map it with --exit-reasons CODE=KIND (died, culled-involuntary, "
                    "culled-voluntary, culled, sold, moved or ignore)";
            return false;
        }
    }
    return true;
}
