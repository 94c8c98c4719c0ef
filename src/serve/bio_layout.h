/*
** bio_layout.h -- where every value of a bio file stands.
**
** The workbench edits a bio file in place: it must know, for every value,
** the item it belongs to and the bytes it occupies, so that a change
** replaces exactly that token and nothing else (a file saved without
** changes stays byte for byte the same).  Both the items and the walk are
** the program's own (bio/bio_items.h); here they are put the way the page
** shows them: a value is "item.index", its index counted over the item.
*/
#ifndef MORVENDA_SERVE_BIO_LAYOUT_H
#define MORVENDA_SERVE_BIO_LAYOUT_H

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace serve {

/* One item of the bio file as the page presents it. */
struct BioItem {
    int item;                        /* item number, 1..36 */
    const char* group;               /* milk, reproduction, culling, prices, costs, model */
    const char* name;
    const char* unit;
    const char* help;                /* one line, the guide's words */
    bool heading;                    /* a heading line stands before the values */
    int rows;                        /* values = rows x cols */
    int cols;
    const char* kind;                /* number, integer, keyword, name, text */
    std::vector<std::string> labels; /* per value (scalar lists) or per row (grids) */
    std::vector<std::string> col_labels;
};

const std::vector<BioItem>& bio_items();

/* One value token (or the time stamp, item 1, or a skipped note line,
** item 35) of a bio file. */
struct BioToken {
    int item;
    int index;          /* 0-based within its item */
    std::size_t offset; /* byte offset in the file's text */
    std::size_t length;
};

struct BioWalk {
    std::vector<BioToken> tokens;
    bool complete = false; /* every item found */
    int missing_item = 0;  /* first item whose values the file lacks */
};

/* Walks the text as the reader does; stops at the first missing value. */
BioWalk walk_bio(const std::string& text);

std::string token_text(const std::string& text, const BioToken& token);

/* Replaces values by "item.index" key.  A value must be one non-empty
** token without white space (the time stamp and the note lines: one line,
** at most their length).  Returns "" on success, else what was wrong; the
** text is left unchanged then. */
std::string apply_changes(std::string& text, const std::map<std::string, std::string>& changes);

/* Every fault of the text as `morvenda check --json` lists them:
** {"ok": no errors, "messages": [{item, name, index, row, column, the
** month in milk or calendar month they stand for, token, reason,
** severity, stops, text}]}; `shown_name` names the file in the texts. */
nlohmann::json bio_check(const std::string& text, const std::string& shown_name);

} // namespace serve

#endif
