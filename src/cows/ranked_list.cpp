/*
** ranked_list.cpp -- valuing the list, the ranked CSV file and the console
** table.
**
** Money is written to the file unrounded (the shortest text that reads
** back as the same number), so that a program reading the file gets the
** model's values, not the rounded ones of the rpo file.  Text fields are
** quoted by libcsv when they hold a comma, a quote or a line end.
*/
#include "ranked_list.h"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "run/records.h"

namespace {

/* ---- constants -------------------------------------------------------- */

const char* const HEADER =
    "id,class,lact,mim,mpreg,decision,rpo,cow_value,pregnancy_value,milk,rank,note,line,month,dim,rel_yield";
const char* const PAYOFF_UNKNOWN = "pay-off not known: the policy was read from the pol file";
constexpr std::size_t ID_WIDTH_MAX = 24; /* console id column, characters */
constexpr std::size_t TEMP_SUFFIX_MAX = 32;

void append_number(std::string& out, double x)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, static_cast<std::size_t>(res.ptr - buf));
}

void append_fixed(std::string& out, double x, int decimals)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, decimals);
    out.append(buf, static_cast<std::size_t>(res.ptr - buf));
}

/* A text field, quoted when it must be. */
void append_text(std::string& out, const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    const std::size_t need = csv_write(nullptr, 0, text.data(), text.size());
    const std::size_t at = out.size();
    out.resize(at + need);
    csv_write(out.data() + at, need, text.data(), text.size());
}

void append_row(std::string& out, const RankedCow& c)
{
    const CowRow& row = *c.row;
    append_text(out, row.id);
    out += ',';
    if (c.valued) {
        const CowState& s = c.state;
        const CowValue& v = c.value;
        out += std::to_string(s.curr) + ',' + std::to_string(s.lact) + ',' + std::to_string(s.mim) + ',' +
               std::to_string(s.mpreg) + ',' + DECISION_NAME(v.decision) + ',';
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
        out += std::to_string(c.rank);
    out += ',';
    append_text(out, c.note);
    out += ',' + std::to_string(row.line) + ',';
    if (c.valued)
        out += std::to_string(c.state.t);
    out += ',';
    append_text(out, row.dim_text);
    out += ',';
    if (c.valued)
        append_fixed(out, c.state.rel_yield, 1);
    out += '\n';
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

std::string padded(const std::string& s, std::size_t width)
{
    const std::size_t w = shown_width(s);
    return w >= width ? s : s + std::string(width - w, ' ');
}

} // namespace

std::vector<RankedCow> VALUE_COWS(const CowList& list, bool payoffs_known)
{
    std::vector<RankedCow> cows(list.rows.size());
    for (std::size_t i = 0; i < list.rows.size(); i++) {
        const CowRow& row = list.rows[i];
        RankedCow& c = cows[i];
        c.row = &row;
        if (!row.error.empty()) {
            c.error = row.error;
            c.error_column = row.error_column;
        } else {
            c.state = MAP_COW(row.facts);
            c.error = c.state.error;
            c.error_column = c.state.error_column;
        }
        if (c.error.empty()) {
            c.value = VALUE_COW(c.state, payoffs_known);
            c.note = c.state.note;
            if (c.value.decision != DEC_REPLACE && c.value.decision != DEC_KEEP &&
                c.value.decision != DEC_INSEMINATE) {
                c.error = "the policy has no decision for this state";
                c.error_column = "id";
            } else if (payoffs_known && !c.value.payoff_known) {
                c.error = "the policy has no pay-off for this state";
                c.error_column = "id";
            }
        }
        c.valued = c.error.empty();
        if (!c.valued) {
            c.note = "rejected: column " + c.error_column + ": " + c.error;
        } else if (!payoffs_known) {
            c.note = c.note.empty() ? PAYOFF_UNKNOWN : c.note + "; " + PAYOFF_UNKNOWN;
        }
    }
    if (!payoffs_known)
        return cows;

    /* Valued cows first, most valuable first; ties and the rejected rows
    ** keep the input order. */
    std::stable_sort(cows.begin(), cows.end(), [](const RankedCow& a, const RankedCow& b) {
        if (a.valued != b.valued)
            return a.valued;
        return a.valued && a.value.cow_value > b.value.cow_value;
    });
    int rank = 0;
    for (RankedCow& c : cows)
        if (c.valued)
            c.rank = ++rank;
    return cows;
}

const char* RANKED_HEADER()
{
    return HEADER;
}

bool WRITE_RANKED_FILE(const std::string& name, const std::vector<RankedCow>& cows, std::string& error)
{
    std::string text = HEADER;
    text += '\n';
    for (const RankedCow& c : cows)
        append_row(text, c);

    char suffix[TEMP_SUFFIX_MAX];
    std::snprintf(suffix, sizeof suffix, ".part");
    const std::string temp = name + suffix;
    std::FILE* fp = std::fopen(temp.c_str(), "wb");
    if (fp == nullptr) {
        error = name + ": cannot be written: " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
    const bool closed = std::fclose(fp) == 0;
    if (!written || !closed || std::rename(temp.c_str(), name.c_str()) != 0) {
        error = name + ": cannot be written: " + std::strerror(errno);
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

int REJECTED_COUNT(const std::vector<RankedCow>& cows)
{
    int n = 0;
    for (const RankedCow& c : cows)
        n += c.valued ? 0 : 1;
    return n;
}

void PRINT_RANKED_TABLE(const std::vector<RankedCow>& cows, bool payoffs_known)
{
    std::size_t id_width = 2;
    for (const RankedCow& c : cows)
        id_width = std::max(id_width, std::min(ID_WIDTH_MAX, shown_width(c.row->id)));

    std::printf("\n\n %5s %s class lact mim mpreg decision       rpo  cow_value  preg_value   milk  note", "rank",
                padded("id", id_width).c_str());
    int valued = 0;
    int replace = 0;
    int breed = 0;
    double total = 0.0;
    for (const RankedCow& c : cows) {
        if (!c.valued)
            continue;
        valued++;
        replace += c.value.decision == DEC_REPLACE ? 1 : 0;
        breed += c.value.decision == DEC_INSEMINATE ? 1 : 0;
        const std::string id = padded(c.row->id, id_width);
        const CowState& s = c.state;
        const CowValue& v = c.value;
        if (c.rank > 0)
            std::printf("\n %5d", c.rank);
        else
            std::printf("\n %5s", "-");
        std::printf(" %s %5d %4d %3d %5d %-8s", id.c_str(), s.curr, s.lact, s.mim, s.mpreg,
                    DECISION_NAME(v.decision));
        if (v.payoff_known) {
            total += v.rpo;
            std::printf(" %9.0f %10.0f", shown_money(v.rpo), shown_money(v.cow_value));
        } else {
            std::printf(" %9s %10s", "-", "-");
        }
        if (v.has_pregnancy_value)
            std::printf(" %11.0f", shown_money(v.pregnancy_value));
        else
            std::printf(" %11s", "");
        std::printf(" %6.1f  %s", v.milk, c.note.c_str());
    }

    const int rejected = REJECTED_COUNT(cows);
    if (rejected > 0) {
        std::printf("\n\n Rows not valued:");
        for (const RankedCow& c : cows)
            if (!c.valued)
                std::printf("\n COWS: line %d, column %s: %s (id '%s')", c.row->line, c.error_column.c_str(),
                            c.error.c_str(), c.row->id.c_str());
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
