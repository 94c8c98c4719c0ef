/*
** ranked_list.cpp -- valuing the list, the ranked CSV file and the console
** table.
**
** Money is written to the file unrounded (the shortest text that reads
** back as the same number), so that a program reading the file gets the
** model's values, not the rounded ones of the rpo file.  Text fields are
** quoted by libcsv when they hold a comma, a quote or a line end.  A text
** field that a spreadsheet would take for a formula (one that begins with
** =, +, -, @, a tab or a carriage return and is not a plain number, such
** as a cow id "=HYPERLINK(...)") is written with a leading ' so that it
** shows as the text it is; numbers such as -2.5 stay numbers.
*/
#include "cows/ranked_list.h"

#include <csv.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/huge_pages.h"
#include "core/output_file.h"
#include "core/records.h"

namespace {

/* The file's and the table's text: megabytes for a large herd, on 2 MB
** pages. */
using Text = std::basic_string<char, std::char_traits<char>, HugePageAllocator<char>>;

/* ---- constants -------------------------------------------------------- */

const char* const HEADER =
    "id,class,lact,mim,mpreg,decision,rpo,cow_value,pregnancy_value,milk,rank,note,line,month,dim,rel_yield";
const char* const PAYOFF_UNKNOWN = "pay-off not known: the policy was read from the pol file";
constexpr std::size_t ID_WIDTH_MAX = 24; /* console id column, characters */
/* Room reserved a row of the file or the table, so that the texts of a
** large herd grow once (a row is about 100 characters and an id). */
constexpr std::size_t ROW_TEXT_ESTIMATE = 160;
constexpr double TIE_MARGIN = 1e-6;  /* scaled distance from a rounding tie left to the exact path */
constexpr double FAST_LIMIT = 1e15;  /* scaled values above it take the exact path */

void append_number(Text& out, double x)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, static_cast<std::size_t>(res.ptr - buf));
}

void append_fixed(Text& out, double x, int decimals)
{
    char buf[400];
    out.append(buf, static_cast<std::size_t>(FIXED_TEXT(buf, sizeof buf, x, decimals)));
}

/* A plain decimal number: an optional sign, digits with at most one
** point, an optional exponent. */
bool is_plain_number(const std::string& text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '+' || text[i] == '-'))
        i++;
    std::size_t digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        i++;
        digits++;
    }
    if (i < n && text[i] == '.') {
        i++;
        while (i < n && text[i] >= '0' && text[i] <= '9') {
            i++;
            digits++;
        }
    }
    if (digits == 0)
        return false;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        i++;
        if (i < n && (text[i] == '+' || text[i] == '-'))
            i++;
        std::size_t exponent = 0;
        while (i < n && text[i] >= '0' && text[i] <= '9') {
            i++;
            exponent++;
        }
        if (exponent == 0)
            return false;
    }
    return i == n;
}

/* True when a spreadsheet would run the text as a formula. */
bool looks_like_formula(const std::string& text)
{
    if (text.empty())
        return false;
    const char first = text[0];
    const bool risky = first == '=' || first == '+' || first == '-' || first == '@' || first == '\t' ||
                       first == '\r';
    return risky && !is_plain_number(text);
}

/* A text field, quoted when it must be; one a spreadsheet would run as a
** formula gets a leading '. */
void append_text(Text& out, const std::string& field)
{
    const std::string guarded = looks_like_formula(field) ? "'" + field : std::string();
    const std::string& text = guarded.empty() ? field : guarded;
    bool plain = true;
    for (char ch : text)
        plain = plain && ch != ',' && ch != '"' && ch != '\r' && ch != '\n';
    if (plain) {
        out += text;
        return;
    }
    const std::size_t need = csv_write(nullptr, 0, text.data(), text.size());
    const std::size_t at = out.size();
    out.resize(at + need);
    csv_write(out.data() + at, need, text.data(), text.size());
}

void append_int(Text& out, int v)
{
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, static_cast<std::size_t>(res.ptr - buf));
}

void append_row(Text& out, const RankedCow& c)
{
    const CowRow& row = *c.row;
    append_text(out, row.id);
    out += ',';
    if (c.valued) {
        const CowState& s = c.state;
        const CowValue& v = c.value;
        for (int index : {s.curr, s.lact, s.mim, s.mpreg}) {
            append_int(out, index);
            out += ',';
        }
        out += DECISION_NAME(v.decision);
        out += ',';
        if (v.payoff_known) {
            append_number(out, v.rpo);
            out += ',';
            append_number(out, v.cow_value);
        } else {
            out += ',';
        }
        out += ',';
        if (v.has_pregnancy_value)
            append_number(out, v.pregnancy_value);
        out += ',';
        append_fixed(out, v.milk, 2);
    } else {
        out += ",,,,,,,,"; /* class .. milk */
    }
    out += ',';
    if (c.rank > 0)
        append_int(out, c.rank);
    out += ',';
    append_text(out, c.note);
    out += ',';
    append_int(out, row.line);
    out += ',';
    if (c.valued)
        append_int(out, c.state.t);
    out += ',';
    append_text(out, row.dim_text);
    out += ',';
    if (c.valued)
        append_fixed(out, c.state.rel_yield, 1);
    out += '\n';
}

/* `text` right-aligned in `width` characters, after one blank. */
void put_right(Text& out, const char* text, std::size_t len, std::size_t width)
{
    out += ' ';
    if (len < width)
        out.append(width - len, ' ');
    out.append(text, len);
}

void put_int(Text& out, int v, std::size_t width)
{
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    put_right(out, buf, static_cast<std::size_t>(res.ptr - buf), width);
}

void put_fixed(Text& out, double x, int decimals, std::size_t width)
{
    char buf[400];
    put_right(out, buf, static_cast<std::size_t>(FIXED_TEXT(buf, sizeof buf, x, decimals)), width);
}

/* Characters shown of UTF-8 text (continuation bytes take no room). */
std::size_t shown_width(const std::string& s)
{
    std::size_t n = 0;
    for (unsigned char ch : s)
        if ((ch & 0xC0) != 0x80)
            n++;
    return n;
}

/* Whole money for the table; a value that rounds to 0 shows no sign. */
double shown_money(double x)
{
    return std::fabs(x) < 0.5 ? 0.0 : x;
}

/* `s` left-aligned in at least `width` characters. */
void append_padded(Text& out, const std::string& s, std::size_t width)
{
    out += s;
    const std::size_t w = shown_width(s);
    if (w < width)
        out.append(width - w, ' ');
}

/* One line of the console table. */
void append_table_line(Text& out, const RankedCow& c, std::size_t id_width)
{
    const CowState& s = c.state;
    const CowValue& v = c.value;
    out += '\n';
    if (c.rank > 0)
        put_int(out, c.rank, 5);
    else
        put_right(out, "-", 1, 5);
    out += ' ';
    append_padded(out, c.row->id, id_width);
    put_int(out, s.curr, 5);
    put_int(out, s.lact, 4);
    put_int(out, s.mim, 3);
    put_int(out, s.mpreg, 5);
    out += ' ';
    const char* decision = DECISION_NAME(v.decision);
    out += decision;
    out.append(8 - std::strlen(decision), ' ');
    if (v.payoff_known) {
        put_fixed(out, shown_money(v.rpo), 0, 9);
        put_fixed(out, shown_money(v.cow_value), 0, 10);
    } else {
        put_right(out, "-", 1, 9);
        put_right(out, "-", 1, 10);
    }
    if (v.has_pregnancy_value)
        put_fixed(out, shown_money(v.pregnancy_value), 0, 11);
    else
        put_right(out, "", 0, 11);
    put_fixed(out, v.milk, 1, 6);
    out += "  ";
    out += c.note;
}

} // namespace

RankedHerd VALUE_COWS(const CowList& list, bool payoffs_known)
{
    RankedHerd herd;
    auto& cows = herd.cows;
    cows.resize(list.rows.size());
    for (std::size_t i = 0; i < list.rows.size(); i++) {
        const CowRow& row = list.rows[i];
        RankedCow& c = cows[i];
        c.row = &row;
        if (!row.error.empty()) {
            c.error = row.error.c_str();
            c.error_column = row.error_column;
        } else {
            c.state = MAP_COW(row.facts);
            c.error = c.state.error;
            c.error_column = c.state.error_column;
        }
        if (*c.error == '\0') {
            c.value = VALUE_COW(c.state, payoffs_known);
            c.note = std::move(c.state.note);
            if (c.value.decision != DEC_REPLACE && c.value.decision != DEC_KEEP &&
                c.value.decision != DEC_INSEMINATE) {
                c.error = "the policy has no decision for this state";
                c.error_column = "id";
            } else if (payoffs_known && !c.value.payoff_known) {
                c.error = "the policy has no pay-off for this state";
                c.error_column = "id";
            }
        }
        c.valued = *c.error == '\0';
        if (!c.valued) {
            c.note = std::string("rejected: column ") + c.error_column + ": " + c.error;
        } else if (!payoffs_known) {
            c.note = c.note.empty() ? PAYOFF_UNKNOWN : c.note + "; " + PAYOFF_UNKNOWN;
        }
    }
    herd.order.resize(cows.size());
    for (std::size_t i = 0; i < cows.size(); i++)
        herd.order[i] = i;
    if (!payoffs_known)
        return herd;

    /* Valued cows first, most valuable first; ties and the rejected rows
    ** keep the input order. */
    std::stable_sort(herd.order.begin(), herd.order.end(), [&cows](std::size_t a, std::size_t b) {
        const RankedCow& x = cows[a];
        const RankedCow& y = cows[b];
        if (x.valued != y.valued)
            return x.valued;
        return x.valued && x.value.cow_value > y.value.cow_value;
    });
    int rank = 0;
    for (std::size_t i : herd.order)
        if (cows[i].valued)
            cows[i].rank = ++rank;
    return herd;
}

/* The digits are certain unless x scaled lies within a hair of a rounding
** tie: it is then rounded directly, else left to the exact conversion. */
int FIXED_TEXT(char* out, std::size_t size, double x, int decimals)
{
    static const long long scale[3] = {1, 10, 100};
    const bool fast = decimals >= 0 && decimals <= 2 && std::isfinite(x);
    const double scaled = fast ? x * static_cast<double>(scale[decimals]) : 0.0;
    const double rounded = std::nearbyint(scaled);
    if (!fast || std::fabs(scaled) >= FAST_LIMIT || std::fabs(std::fabs(scaled - rounded) - 0.5) < TIE_MARGIN) {
        auto res = std::to_chars(out, out + size, x, std::chars_format::fixed, decimals);
        return static_cast<int>(res.ptr - out);
    }
    long long units = static_cast<long long>(rounded);
    int n = 0;
    if (units < 0 || std::signbit(x))
        out[n++] = '-';
    if (units < 0)
        units = -units;
    auto res = std::to_chars(out + n, out + size, units / scale[decimals]);
    n = static_cast<int>(res.ptr - out);
    if (decimals > 0) {
        long long part = units % scale[decimals];
        out[n++] = '.';
        for (int d = decimals - 1; d >= 0; d--) {
            out[n + d] = static_cast<char>('0' + part % 10);
            part /= 10;
        }
        n += decimals;
    }
    return n;
}

const char* RANKED_HEADER()
{
    return HEADER;
}

bool WRITE_RANKED_FILE(const std::string& name, const RankedHerd& herd, std::string& error)
{
    /* through the program's one file writer: a temporary file of its own
    ** beside the target, synced, then renamed over it */
    OutputFile f;
    if (!f.open(name)) {
        error = name + ": cannot be written: " + f.error();
        return false;
    }
    /* The rows are formatted in input order, where the cows lie in turn
    ** in memory, and written in ranked order from the text. */
    Text text;
    text.reserve(herd.cows.size() * ROW_TEXT_ESTIMATE);
    std::vector<std::size_t> start(herd.cows.size() + 1);
    for (std::size_t i = 0; i < herd.cows.size(); i++) {
        start[i] = text.size();
        append_row(text, herd.cows[i]);
    }
    start[herd.cows.size()] = text.size();
    const std::string header = std::string(HEADER) + '\n';
    std::fwrite(header.data(), 1, header.size(), f.fp());
    for (std::size_t i : herd.order)
        std::fwrite(text.data() + start[i], 1, start[i + 1] - start[i], f.fp());
    if (!f.commit()) {
        error = name + ": cannot be written: " + f.error();
        return false;
    }
    return true;
}

int REJECTED_COUNT(const RankedHerd& herd)
{
    int n = 0;
    for (const RankedCow& c : herd.cows)
        n += c.valued ? 0 : 1;
    return n;
}

void PRINT_RANKED_TABLE(const RankedHerd& herd, bool payoffs_known)
{
    const auto& cows = herd.cows;
    std::size_t id_width = 2;
    for (const RankedCow& c : cows)
        id_width = std::max(id_width, std::min(ID_WIDTH_MAX, shown_width(c.row->id)));

    Text table = "\n\n  rank ";
    append_padded(table, "id", id_width);
    table += " class lact mim mpreg decision       rpo  cow_value  preg_value   milk  note";
    std::fwrite(table.data(), 1, table.size(), stdout);

    /* Lines are formatted in input order and shown in ranked order, as
    ** the ranked file is. */
    int valued = 0;
    int replace = 0;
    int breed = 0;
    double total = 0.0;
    Text lines;
    lines.reserve(cows.size() * ROW_TEXT_ESTIMATE);
    std::vector<std::size_t> start(cows.size() + 1);
    for (std::size_t i = 0; i < cows.size(); i++) {
        start[i] = lines.size();
        const RankedCow& c = cows[i];
        if (!c.valued)
            continue;
        valued++;
        replace += c.value.decision == DEC_REPLACE ? 1 : 0;
        breed += c.value.decision == DEC_INSEMINATE ? 1 : 0;
        if (c.value.payoff_known)
            total += c.value.rpo;
        append_table_line(lines, c, id_width);
    }
    start[cows.size()] = lines.size();
    for (std::size_t i : herd.order)
        std::fwrite(lines.data() + start[i], 1, start[i + 1] - start[i], stdout);

    const int rejected = REJECTED_COUNT(herd);
    if (rejected > 0) {
        std::printf("\n\n Rows not valued:");
        for (const RankedCow& c : cows)
            if (!c.valued)
                std::printf("\n COWS: line %d, column %s: %s (id '%s')", c.row->line, c.error_column, c.error,
                            c.row->id.c_str());
    }

    std::printf("\n\n cows valued        : %d of %zu", valued, cows.size());
    if (rejected > 0)
        std::printf(" (%d rows rejected)", rejected);
    std::printf("\n to replace now     : %d", replace);
    std::printf("\n to breed           : %d", breed);
    if (payoffs_known && valued > 0) {
        std::printf("\n total pay-off      : %.0f", total);
        std::printf("\n average pay-off    : %.0f", total / valued);
    } else if (payoffs_known) {
        std::printf("\n total pay-off      : 0");
        std::printf("\n average pay-off    : -");
    } else {
        std::printf("\n total pay-off      : not known (policy read from the pol file)");
        std::printf("\n average pay-off    : not known");
    }
}
