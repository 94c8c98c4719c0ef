/*
** bio_edit.cpp -- named changes to a bio file, token by token.
*/
#include "bio/bio_edit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#include "bio/bio_items.h"

namespace {

constexpr std::size_t STAMP_LENGTH = 24;   /* the time stamp line */
constexpr std::size_t NOTE_LENGTH = 448;   /* a note line without its line end */
constexpr int MOST_DECIMALS = 330;         /* plain decimals of the smallest doubles */
/* A scaled value keeps 12 significant digits: 0.52 x 1.1 is written 0.572,
** not as the nearest double's 0.5720000000000001. */
constexpr int SCALED_DIGITS = 12;

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = s.find(sep, from);
        out.push_back(s.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos)
            return out;
        from = at + 1;
    }
}

/* "month in milk 2..15", "calendar month JAN..DEC" */
std::string axis_range(BioAxis axis, int first, int count)
{
    return std::string(axis_name(axis)) + " " + axis_label(axis, first, 0) + ".." +
           axis_label(axis, first, count - 1);
}

/* Why `value` cannot stand as a value of `field` in place of a token. */
std::string unfit(const BioField& field, const std::string& value)
{
    if (value.find_first_of("\r\n") != std::string::npos)
        return "a line end is not allowed";
    if (field.kind == BioKind::text)
        return value.size() > STAMP_LENGTH ? "the time stamp is at most 24 characters" : "";
    if (field.kind == BioKind::note) {
        /* A blank line would be skipped and the next line taken in its place. */
        if (value.empty() || std::isspace(static_cast<unsigned char>(value.front())))
            return "a note line must start with a character that is not blank";
        return value.size() > NOTE_LENGTH ? "a note line is at most 448 characters" : "";
    }
    if (value.empty())
        return "a value is needed";
    if (std::any_of(value.begin(), value.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); }))
        return "one value without spaces is needed";
    double number = 0.0;
    return bio_value_fault(field, value, number);
}

} // namespace

std::string plain_decimal(double v)
{
    if (v == 0.0)
        return "0";
    char buf[720]; /* 309 digits before the point, 330 after */
    for (int decimals = 0; decimals <= MOST_DECIMALS; decimals++) {
        std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
        if (std::strtod(buf, nullptr) == v)
            return buf;
    }
    return buf;
}

std::string bio_cell_name(int field, int row, int col)
{
    const BioField& f = bio_fields()[field];
    std::string name = f.name;
    if (f.rows > 1) {
        name.push_back('.');
        name.append(axis_label(f.row_axis, f.first_row, row));
    }
    if (f.cols > 1) {
        name.push_back('.');
        name.append(axis_label(f.col_axis, f.first_col, col));
    }
    return name;
}

std::string parse_bio_change(const std::string& text, BioChange& change)
{
    change = BioChange{};
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        return "expected NAME=VALUE or NAME*=FACTOR, got \"" + text + "\"";
    std::string target = text.substr(0, eq);
    change.value = text.substr(eq + 1);
    if (target.back() == '*') {
        change.scale = true;
        target.pop_back();
    }
    const std::vector<std::string> parts = split(target, '.');
    change.field = find_bio_field(parts[0]);
    if (change.field < 0)
        return "no item value called \"" + parts[0] + "\" (morvenda items lists them)";
    const BioField& f = bio_fields()[change.field];
    /* The labels after the name: a row then a column of a table; the one
    ** position of a series or a column of lines. */
    const bool has_rows = f.rows > 1, has_cols = f.cols > 1;
    const std::size_t most = static_cast<std::size_t>(has_rows) + static_cast<std::size_t>(has_cols);
    if (parts.size() - 1 > most)
        return "\"" + target + "\": " + parts[0] +
               (most == 0 ? " is a single value" : most == 1 ? " takes one label" : " takes a row and a column label");
    change.last_row = f.rows - 1;
    change.last_col = f.cols - 1;
    std::size_t next = 1;
    if (has_rows && next < parts.size()) {
        const int r = axis_position(f.row_axis, f.first_row, f.rows, parts[next]);
        if (r < 0)
            return "\"" + target + "\": no row " + parts[next] + " (" + axis_range(f.row_axis, f.first_row, f.rows) + ")";
        change.first_row = change.last_row = r;
        next++;
    }
    if (has_cols && next < parts.size()) {
        const int c = axis_position(f.col_axis, f.first_col, f.cols, parts[next]);
        if (c < 0)
            return "\"" + target + "\": no column " + parts[next] + " (" + axis_range(f.col_axis, f.first_col, f.cols) + ")";
        change.first_col = change.last_col = c;
    }
    if (change.scale) {
        if (f.kind != BioKind::number)
            return "\"" + target + "\": only numbers can be scaled";
        char* end = nullptr;
        change.factor = std::strtod(change.value.c_str(), &end);
        if (!is_decimal_number(change.value) || !std::isfinite(change.factor))
            return "\"" + text + "\": the factor must be a decimal number";
    }
    return "";
}

std::string apply_bio_changes(std::string& text, const std::vector<BioChange>& changes)
{
    const BioLayout layout = bio_layout(text);
    if (!layout.complete)
        return "the file ends before the values of item " + std::to_string(layout.missing_item);
    std::map<std::tuple<int, int, int>, const BioToken*> at;
    for (const BioToken& t : layout.tokens)
        at[{t.field, t.row, t.col}] = &t;

    /* The new text of every token changed, by its offset; later changes
    ** of a value win. */
    std::map<std::size_t, std::pair<const BioToken*, std::string>> edits;
    for (const BioChange& change : changes) {
        const BioField& f = bio_fields()[change.field];
        for (int r = change.first_row; r <= change.last_row; r++)
            for (int c = change.first_col; c <= change.last_col; c++) {
                const BioToken* token = at.at({change.field, r, c});
                auto pending = edits.find(token->offset);
                const std::string old = pending != edits.end()
                                            ? pending->second.second
                                            : text.substr(token->offset, token->length);
                std::string value = change.value;
                if (change.scale) {
                    double number = 0.0;
                    if (!bio_value_fault(f, old, number).empty())
                        return "item " + std::to_string(f.item) + ", " + bio_cell_name(change.field, r, c) +
                               ": \"" + old + "\" cannot be scaled, it is not a valid number";
                    char rounded[64];
                    std::snprintf(rounded, sizeof rounded, "%.*g", SCALED_DIGITS, number * change.factor);
                    value = plain_decimal(std::strtod(rounded, nullptr));
                }
                const std::string why = unfit(f, value);
                if (!why.empty())
                    return "item " + std::to_string(f.item) + " (" + f.what + "), " +
                           bio_cell_name(change.field, r, c) + ": " + why;
                edits[token->offset] = {token, value};
            }
    }
    std::string out = text;
    for (auto e = edits.rbegin(); e != edits.rend(); ++e)
        out.replace(e->second.first->offset, e->second.first->length, e->second.second);
    text = std::move(out);
    return "";
}
