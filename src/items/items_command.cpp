/*
** items_command.cpp -- `morvenda items` and `morvenda set`.
**
** `items` prints the item table the reader walks, so that a user, a script
** or another program never needs a copy of the layout of its own.  `set`
** writes a variant of a bio file by named changes (bio/bio_edit.h),
** rewriting only the tokens that change: to standard output, or with -o
** to a file, whole or not at all (OutputFile).  The input is only written
** over when -o names it.
*/
#include "items/items_command.h"

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bio/bio_edit.h"
#include "bio/bio_items.h"
#include "core/input_file.h"
#include "core/output_file.h"

namespace {

constexpr int FAULT = 1;
constexpr int USAGE = 2;

/* The valid range in words: "0..1", "1, 2, 3 or 71", "JAN..DEC", "any". */
std::string range_words(const BioField& f)
{
    char buf[64];
    switch (f.rule) {
    case BioRule::analysis:
        return "1, 2, 3 or 71";
    case BioRule::month:
        return "JAN..DEC";
    case BioRule::policy:
        return "OPTIMAL, KEEPPREG, KEEPALL or USE_POL";
    case BioRule::any:
        return "any";
    case BioRule::weight:
        std::snprintf(buf, sizeof buf, "above 0, at most %g", f.highest);
        return buf;
    default:
        std::snprintf(buf, sizeof buf, "%g..%g", f.lowest, f.highest);
        return buf;
    }
}

/* "month in milk 2..15" */
std::string axis_words(BioAxis axis, int first, int count)
{
    if (axis == BioAxis::none || count < 2)
        return "";
    return std::string(axis_name(axis)) + " " + axis_label(axis, first, 0) + ".." +
           axis_label(axis, first, count - 1);
}

const char* const USAGE_ITEMS = "usage: morvenda items [--json]\n";
const char* const USAGE_SET =
    "usage: morvenda set BIO CHANGE... [-o OUT]\n"
    "  CHANGE: NAME=VALUE, NAME.ROW=VALUE, NAME.ROW.COLUMN=VALUE, or *=FACTOR to scale\n"
    "  (morvenda items lists the names and their rows and columns)\n";

int list_text()
{
    std::printf("The bio file's values in reading order (item, name, rows x columns, heading,\n"
                "kind, valid range, unit; then the rows and columns by their labels).\n"
                "morvenda set names a value NAME, a row NAME.ROW, a cell NAME.ROW.COLUMN;\n"
                "a series of one row names its values NAME.COLUMN.  Labels: months in milk,\n"
                "model months, lactations, months of pregnancy and lines by number (1, 2, ...);\n"
                "calendar months JAN..DEC (any case).\n\n");
    std::printf("%-4s %-17s %-7s %-7s %-7s %-26s %s\n", "item", "name", "shape", "heading", "kind",
                "range", "unit");
    for (const BioField& f : bio_fields()) {
        const std::string shape = std::to_string(f.rows) + "x" + std::to_string(f.cols);
        std::printf("%-4d %-17s %-7s %-7s %-7s %-26s %s\n", f.item, f.name, shape.c_str(),
                    f.heading ? "yes" : "-", kind_word(f.kind), range_words(f).c_str(), f.unit);
        const std::string rows = axis_words(f.row_axis, f.first_row, f.rows);
        const std::string cols = axis_words(f.col_axis, f.first_col, f.cols);
        if (!rows.empty() || !cols.empty())
            std::printf("     %s%s%s\n", rows.empty() ? "" : ("rows: " + rows).c_str(),
                        !rows.empty() && !cols.empty() ? "; " : "",
                        cols.empty() ? "" : ("columns: " + cols).c_str());
        std::printf("     %s\n", f.help);
    }
    return 0;
}

nlohmann::json labels(BioAxis axis, int first, int count)
{
    nlohmann::json out = nlohmann::json::array();
    if (axis != BioAxis::none)
        for (int k = 0; k < count; k++)
            out.push_back(axis_label(axis, first, k));
    return out;
}

int list_json()
{
    nlohmann::json fields = nlohmann::json::array();
    for (const BioField& f : bio_fields()) {
        const bool ranged = f.rule != BioRule::any && (f.kind == BioKind::number || f.kind == BioKind::integer);
        fields.push_back({{"item", f.item},
                          {"name", f.name},
                          {"what", f.what},
                          {"rows", f.rows},
                          {"cols", f.cols},
                          {"heading", f.heading},
                          {"kind", kind_word(f.kind)},
                          {"range", range_words(f)},
                          {"lowest", ranged ? nlohmann::json(f.lowest) : nlohmann::json(nullptr)},
                          {"highest", ranged ? nlohmann::json(f.highest) : nlohmann::json(nullptr)},
                          {"unit", f.unit},
                          {"help", f.help},
                          {"row_axis", axis_name(f.row_axis)},
                          {"row_labels", labels(f.row_axis, f.first_row, f.rows)},
                          {"col_axis", axis_name(f.col_axis)},
                          {"col_labels", labels(f.col_axis, f.first_col, f.cols)}});
    }
    nlohmann::json items = nlohmann::json::array();
    for (const BioItemInfo& i : bio_item_infos())
        items.push_back({{"item", i.item}, {"group", i.group}, {"title", i.title}, {"unit", i.unit}, {"help", i.help}});
    std::printf("%s\n", nlohmann::json{{"items", items}, {"fields", fields}}.dump(2).c_str());
    return 0;
}

} // namespace

int items_command(int argc, char** argv)
{
    if (argc == 1)
        return list_text();
    if (argc == 2 && std::strcmp(argv[1], "--json") == 0)
        return list_json();
    std::fputs(USAGE_ITEMS, stderr);
    return USAGE;
}

int set_command(int argc, char** argv)
{
    std::string bio, out;
    std::vector<std::string> words;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-o") == 0) {
            if (i + 1 >= argc || !out.empty()) {
                std::fputs(USAGE_SET, stderr);
                return USAGE;
            }
            out = argv[++i];
        } else if (bio.empty()) {
            bio = argv[i];
        } else {
            words.push_back(argv[i]);
        }
    }
    if (bio.empty() || words.empty()) {
        std::fputs(USAGE_SET, stderr);
        return USAGE;
    }
    std::vector<BioChange> changes;
    for (const std::string& w : words) {
        BioChange change;
        const std::string why = parse_bio_change(w, change);
        if (!why.empty()) {
            std::fprintf(stderr, "morvenda set: %s\n", why.c_str());
            return USAGE;
        }
        changes.push_back(change);
    }

    std::string text, why;
    if (READ_INPUT_FILE(bio, LARGEST_BIO_FILE, text, why) != InputRead::read) {
        std::fprintf(stderr, "morvenda set: %s: %s\n", bio.c_str(), why.c_str());
        return FAULT;
    }
    why = apply_bio_changes(text, changes);
    if (!why.empty()) {
        std::fprintf(stderr, "morvenda set: %s: %s\n", bio.c_str(), why.c_str());
        return FAULT;
    }
    if (out.empty()) {
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "morvenda set: standard output could not be written\n");
            return FAULT;
        }
        return 0;
    }
    OutputFile file(out);
    if (!file.ok() || std::fwrite(text.data(), 1, text.size(), file.fp()) != text.size() || !file.commit()) {
        std::fprintf(stderr, "morvenda set: %s: %s\n", out.c_str(),
                     file.error().empty() ? "could not be written" : file.error().c_str());
        return FAULT;
    }
    return 0;
}
