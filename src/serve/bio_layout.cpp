/*
** bio_layout.cpp -- the page's view of the program's item table, and
** in-place edits by "item.index".
*/
#include "serve/bio_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "bio/bio_items.h"

namespace serve {

namespace {

/* Line lengths of the time stamp and a note line, for edits. */
constexpr std::size_t STAMP_LENGTH = 24;
constexpr std::size_t NOTE_LENGTH = 449;
constexpr std::size_t LONGEST_TOKEN = 4095;
constexpr int STAMP_ITEM = 1;
constexpr int NOTES_ITEM = 35;

/* "month in milk 5", "lactation 2": the label of a row or a single value. */
std::vector<std::string> value_labels(BioAxis axis, int first, int count)
{
    std::vector<std::string> out;
    for (int k = 0; k < count; k++)
        out.push_back(axis == BioAxis::calendar_month
                          ? axis_label(axis, first, k)
                          : std::string(axis_name(axis)) + " " + axis_label(axis, first, k));
    return out;
}

/* Column heads of a grid: JAN..DEC or bare numbers. */
std::vector<std::string> column_labels(BioAxis axis, int first, int count)
{
    std::vector<std::string> out;
    for (int k = 0; k < count; k++)
        out.push_back(axis_label(axis, first, k));
    return out;
}

/* The page's items, from the program's item table: an item of one field
** takes its shape; an item of several lists them as its rows (series of
** item 26) or its values (the scalars of items 2, 14, 16, 27, 31, 33). */
std::vector<BioItem> make_items()
{
    std::vector<BioItem> items;
    const auto& fields = bio_fields();
    for (const BioItemInfo& info : bio_item_infos()) {
        std::vector<const BioField*> own;
        for (const BioField& f : fields)
            if (f.item == info.item)
                own.push_back(&f);
        const BioField& first = *own.front();
        BioItem item{info.item, info.group, info.title, info.unit, info.help, first.heading,
                     first.rows, first.cols, kind_word(first.kind), {}, {}};
        if (own.size() > 1 && first.cols > 1) {
            item.rows = static_cast<int>(own.size());
            for (const BioField* f : own)
                item.labels.push_back(f->what);
            item.col_labels = column_labels(first.col_axis, first.first_col, first.cols);
        } else if (own.size() > 1) {
            item.cols = static_cast<int>(own.size());
            for (const BioField* f : own)
                item.labels.push_back(f->what);
        } else if (first.rows > 1 && first.cols > 1) {
            item.labels = value_labels(first.row_axis, first.first_row, first.rows);
            item.col_labels = column_labels(first.col_axis, first.first_col, first.cols);
        } else if (first.rows > 1) {
            item.labels = value_labels(first.row_axis, first.first_row, first.rows);
        } else if (first.cols > 1) {
            item.labels = value_labels(first.col_axis, first.first_col, first.cols);
        }
        items.push_back(std::move(item));
    }
    return items;
}

bool is_blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

} // namespace

const std::vector<BioItem>& bio_items()
{
    static const std::vector<BioItem> items = make_items();
    return items;
}

BioWalk walk_bio(const std::string& text)
{
    const BioLayout layout = bio_layout(text);
    BioWalk walk;
    for (const ::BioToken& t : layout.tokens)
        walk.tokens.push_back({bio_fields()[t.field].item, item_index(t.field, t.row, t.col),
                               t.offset, t.length});
    walk.complete = layout.complete;
    walk.missing_item = layout.missing_item;
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
