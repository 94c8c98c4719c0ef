/*
** cow_list.cpp -- reading the cow list.
**
** The CSV itself (quoted fields with commas, doubled quotes, CRLF line
** ends) is split by libcsv.  The text is handed to it one physical line at
** a time, so that every row knows the line it starts on and a message can
** name it.  A UTF-8 byte-order mark before the header is dropped; other
** bytes, non-ASCII ids included, pass through unchanged.
**
** The list is read only from a regular file of bounded size (a device or a
** pipe under its name would be read without end), and a row is bounded
** too: the CSV reader grows a field's buffer a fixed step at a time, so a
** field of megabytes cost time that grew with its square.  A milk figure
** or a relative yield beyond any cow's is a bad row, not a class 15 cow.
*/
#include "cows/cow_list.h"

#include <csv.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string_view>

#include "core/input_file.h"

namespace {

/* ---- constants -------------------------------------------------------- */

const char* const BYTE_ORDER_MARK = "\xEF\xBB\xBF";
/* A lactation number above this is not one (the model caps far lower). */
constexpr double MAX_LACT_NUMBER = 1000.0;
/* Day counts above this are not a cow's (about 270 years). */
constexpr double MAX_DAYS = 100000.0;
/* Test-day milk a day above this is no cow's, in kilograms or pounds. */
constexpr double MAX_DAILY_MILK = 500.0;
/* A relative yield above this (ten times the herd mean) is no cow's. */
constexpr double MAX_REL_YIELD = 1000.0;
/* The largest herds have some tens of thousands of cows, a row under a
** hundred characters: a list beyond 16 MB or 200,000 rows is not a herd's. */
constexpr std::size_t LARGEST_COW_LIST = 16u << 20;
constexpr std::size_t MOST_ROWS = 200000;
/* Characters of one row, its quoted line ends included. */
constexpr std::size_t LONGEST_ROW = 1u << 16;

enum Column { COL_ID, COL_LACT, COL_DIM, COL_DCC, COL_REL_YIELD, COL_MILK, COL_DATE, COLUMN_COUNT };

const std::vector<std::string> column_names = {"id", "lact", "dim", "dcc", "rel_yield", "milk", "date"};

std::string lower(std::string s)
{
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}

bool is_blank(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && is_blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back()))
        s.remove_suffix(1);
    return s;
}

/* A finite decimal number filling the whole text (a leading + allowed). */
bool parse_number(std::string_view text, double& value)
{
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+')
        first++;
    if (first == last)
        return false;
    auto res = std::from_chars(first, last, value, std::chars_format::general);
    return res.ec == std::errc() && res.ptr == last && std::isfinite(value);
}

/* Splits the list into rows and checks each. */
class Reader {
public:
    Reader(const ColumnMap& columns, int default_sea, CowList& list)
        : default_sea_(default_sea), list_(list)
    {
        for (int c = 0; c < COLUMN_COUNT; c++) {
            auto it = columns.find(column_names[c]);
            header_of_[c] = lower(it == columns.end() ? column_names[c] : it->second);
            index_[c] = -1;
        }
    }

    bool run(const std::string& text, std::string& error)
    {
        csv_parser parser;
        if (csv_init(&parser, 0) != 0) {
            error = "cannot start the CSV reader";
            return false;
        }
        std::size_t pos = 0;
        if (text.compare(0, 3, BYTE_ORDER_MARK) == 0)
            pos = 3;
        line_ = 0;
        const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
        if (lines > MOST_ROWS) {
            csv_free(&parser);
            error = "more than " + std::to_string(MOST_ROWS) + " rows";
            return false;
        }
        list_.rows.reserve(lines);
        bool ok = true;
        bool row_open = false;
        std::size_t row_length = 0;
        while (pos < text.size() && ok) {
            std::size_t end = text.find('\n', pos);
            end = end == std::string::npos ? text.size() : end + 1;
            line_++;
            if (!row_open) {
                row_line_ = line_;
                row_length = 0;
            }
            const std::size_t len = end - pos;
            row_length += len;
            if (row_length > LONGEST_ROW) {
                error = "line " + std::to_string(row_line_) + ": a row longer than " + std::to_string(LONGEST_ROW) +
                        " characters";
                ok = false;
                break;
            }
            const long rows_before = rows_ended_;
            if (csv_parse(&parser, text.data() + pos, len, on_field, on_row, this) != len) {
                error = std::string("line ") + std::to_string(line_) + ": " + csv_strerror(csv_error(&parser));
                ok = false;
            }
            /* A line that ended no row, and is not blank, ends inside a
            ** quoted field: the row goes on to the next line. */
            row_open = in_row_ || (rows_ended_ == rows_before && !blank(text, pos, end));
            pos = end;
        }
        if (ok)
            csv_fini(&parser, on_field, on_row, this);
        csv_free(&parser);
        if (!ok)
            return false;
        if (!header_done_) {
            error = "no header row";
            return false;
        }
        if (!error_.empty()) {
            error = error_;
            return false;
        }
        return true;
    }

private:
    static void on_field(void* data, std::size_t len, void* self)
    {
        auto* r = static_cast<Reader*>(self);
        if (!r->in_row_) {
            r->in_row_ = true;
            r->fields_used_ = 0;
        }
        if (r->fields_used_ == r->fields_.size())
            r->fields_.emplace_back();
        std::string& field = r->fields_[r->fields_used_++];
        if (len == 0)
            field.clear();
        else
            field.assign(static_cast<const char*>(data), len);
    }

    static void on_row(int, void* self)
    {
        auto* r = static_cast<Reader*>(self);
        r->rows_ended_++;
        if (!r->in_row_)
            return;
        r->in_row_ = false;
        if (r->all_fields_empty()) /* a blank row, as spreadsheets leave them */
            return;
        if (!r->error_.empty())
            return;
        if (!r->header_done_)
            r->take_header();
        else
            r->take_row();
    }

    static bool blank(const std::string& text, std::size_t from, std::size_t to)
    {
        for (std::size_t i = from; i < to; i++)
            if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n')
                return false;
        return true;
    }

    bool all_fields_empty() const
    {
        for (std::size_t f = 0; f < fields_used_; f++)
            if (!trim(fields_[f]).empty())
                return false;
        return true;
    }

    void take_header()
    {
        header_done_ = true;
        for (std::size_t f = 0; f < fields_used_; f++) {
            const std::string header = lower(std::string(trim(fields_[f])));
            for (int c = 0; c < COLUMN_COUNT; c++) {
                if (header != header_of_[c])
                    continue;
                if (index_[c] >= 0) {
                    error_ = "column '" + fields_[f] + "' appears twice in the header";
                    return;
                }
                index_[c] = static_cast<int>(f);
            }
        }
        for (int c : {COL_ID, COL_LACT, COL_DIM, COL_DCC}) {
            if (index_[c] < 0) {
                error_ = missing_column(c);
                return;
            }
        }
        if (index_[COL_REL_YIELD] < 0 && index_[COL_MILK] < 0) {
            error_ = missing_column(COL_REL_YIELD) + " nor " + missing_column(COL_MILK).substr(3);
            return;
        }
        list_.has_date = index_[COL_DATE] >= 0;
    }

    std::string missing_column(int c) const
    {
        std::string text = "no column '" + column_names[c] + "'";
        if (header_of_[c] != column_names[c])
            text += " (header '" + header_of_[c] + "')";
        return text;
    }

    /* The cell of column c, trimmed; "" when the row is short. */
    std::string_view cell(int c) const
    {
        const int i = index_[c];
        if (i < 0 || static_cast<std::size_t>(i) >= fields_used_)
            return std::string_view();
        return trim(fields_[static_cast<std::size_t>(i)]);
    }

    std::string cell_text(int c) const { return std::string(cell(c)); }

    /* Reads a number of column c into `value`; false with the row's error
    ** set when it is missing, not a number or negative. */
    bool number(CowRow& row, int c, double& value)
    {
        const std::string_view text = cell(c);
        if (text.empty())
            return fail(row, c, "missing value");
        if (!parse_number(text, value))
            return fail(row, c, "not a number: '" + std::string(text) + "'");
        if (value < 0.0)
            return fail(row, c, "negative value " + std::string(text));
        return true;
    }

    bool fail(CowRow& row, int c, const std::string& reason)
    {
        row.error = reason;
        row.error_column = column_names[c].c_str();
        return false;
    }

    void take_row()
    {
        CowRow& row = list_.rows.emplace_back();
        row.line = row_line_;
        row.id = cell(COL_ID);
        row.dim_text = cell(COL_DIM);
        check_row(row);
    }

    void check_row(CowRow& row)
    {
        CowFacts& f = row.facts;
        if (row.id.empty()) {
            fail(row, COL_ID, "missing value");
            return;
        }
        double lact;
        if (!number(row, COL_LACT, lact))
            return;
        if (lact != std::floor(lact) || lact > MAX_LACT_NUMBER) {
            fail(row, COL_LACT, "not a lactation number: '" + cell_text(COL_LACT) + "'");
            return;
        }
        if (lact < 1.0) {
            fail(row, COL_LACT, "lactation 0: a cow that has calved is in lactation 1 or more");
            return;
        }
        f.lact = static_cast<int>(lact);

        if (!number(row, COL_DIM, f.dim))
            return;
        if (f.dim > MAX_DAYS) {
            fail(row, COL_DIM, "more days in milk than a cow lives: " + cell_text(COL_DIM));
            return;
        }

        f.dcc = 0.0;
        if (!cell(COL_DCC).empty()) {
            if (!number(row, COL_DCC, f.dcc))
                return;
            if (f.dcc > MAX_DAYS_CARRIED_CALF) {
                fail(row, COL_DCC, "pregnant longer than any gestation (" + cell_text(COL_DCC) + " days, over " +
                                       std::to_string(static_cast<int>(MAX_DAYS_CARRIED_CALF)) + ")");
                return;
            }
            if (f.dcc > f.dim) {
                fail(row, COL_DCC, "carried calf longer than she has been in milk (" + cell_text(COL_DCC) + " > " +
                                       cell_text(COL_DIM) + " days)");
                return;
            }
        }

        /* Her relative yield where the list gives it, else her test-day
        ** milk; a missing milk figure is an error only for a milking cow,
        ** which the mapping finds out. */
        if (index_[COL_REL_YIELD] >= 0 && (!cell(COL_REL_YIELD).empty() || index_[COL_MILK] < 0)) {
            if (!number(row, COL_REL_YIELD, f.rel_yield))
                return;
            if (f.rel_yield > MAX_REL_YIELD) {
                fail(row, COL_REL_YIELD, "relative yield above " + std::to_string(static_cast<int>(MAX_REL_YIELD)) +
                                             " %: " + cell_text(COL_REL_YIELD));
                return;
            }
            f.has_rel_yield = true;
        } else if (!cell(COL_MILK).empty()) {
            if (!number(row, COL_MILK, f.milk))
                return;
            if (f.milk > MAX_DAILY_MILK) {
                fail(row, COL_MILK, "more milk a day than a cow gives (over " +
                                        std::to_string(static_cast<int>(MAX_DAILY_MILK)) + "): " + cell_text(COL_MILK));
                return;
            }
            f.has_milk = true;
        }

        f.sea = default_sea_;
        const std::string date = cell_text(COL_DATE);
        if (!date.empty()) {
            f.sea = DATE_MONTH(date);
            if (f.sea == 0) {
                fail(row, COL_DATE, "not a date (YYYY-MM-DD): '" + date + "'");
                return;
            }
        }
    }

    int default_sea_;
    CowList& list_;
    std::string header_of_[COLUMN_COUNT];
    int index_[COLUMN_COUNT];
    std::vector<std::string> fields_;
    std::size_t fields_used_ = 0;
    bool in_row_ = false;
    bool header_done_ = false;
    int line_ = 0;
    int row_line_ = 0;
    long rows_ended_ = 0;
    std::string error_;
};

} // namespace

const std::vector<std::string>& COW_COLUMN_NAMES()
{
    return column_names;
}

bool PARSE_COLUMN_MAP(const std::string& text, ColumnMap& map, std::string& error)
{
    std::stringstream in(text);
    std::string pair;
    while (std::getline(in, pair, ',')) {
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == pair.size()) {
            error = "--columns: '" + pair + "' is not NAME=HEADER";
            return false;
        }
        const std::string_view whole = pair;
        const std::string name = lower(std::string(trim(whole.substr(0, eq))));
        bool known = false;
        for (const std::string& n : column_names)
            known = known || n == name;
        if (!known) {
            error = "--columns: unknown column name '" + name + "' (id, lact, dim, dcc, rel_yield, milk, date)";
            return false;
        }
        map[name] = std::string(trim(whole.substr(eq + 1)));
    }
    return true;
}

bool PARSE_COW_LIST(const std::string& text, const std::string& name, const ColumnMap& columns,
                    int default_sea, CowList& list, std::string& error)
{
    list = CowList();
    Reader reader(columns, default_sea, list);
    if (!reader.run(text, error)) {
        error = name + ": " + error;
        return false;
    }
    return true;
}

bool READ_COW_LIST(const std::string& name, const ColumnMap& columns, int default_sea, CowList& list,
                   std::string& error)
{
    std::string text, why;
    if (READ_INPUT_FILE(name, LARGEST_COW_LIST, text, why) != InputRead::read) {
        error = name + ": cannot be read: " + why;
        return false;
    }
    return PARSE_COW_LIST(text, name, columns, default_sea, list, error);
}

int DATE_MONTH(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return 0;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9')
            return 0;
    const int y = std::stoi(text.substr(0, 4));
    const unsigned m = static_cast<unsigned>(std::stoi(text.substr(5, 2)));
    const unsigned d = static_cast<unsigned>(std::stoi(text.substr(8, 2)));
    const std::chrono::year_month_day date{std::chrono::year{y}, std::chrono::month{m}, std::chrono::day{d}};
    return date.ok() ? static_cast<int>(m) : 0;
}
