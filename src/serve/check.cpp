/*
** check.cpp -- `morvenda check [--json] HERD.bio`: read a bio file and stop.
**
** Without --json this mode runs the reader alone (no solve, no output
** files other than msg.txt) so that a bio file is validated with exactly
** the rules of a run: the first fault ends it, with the run's own message.
** Exit status 0 when the file was read, 1 when it was not.
**
** With --json it lists every fault the item table's walk finds instead of
** the first: every value outside its range, and faults of form (a word
** where a number is due, a file that ends early) up to the first one,
** after which the positions of the values are uncertain and nothing more
** is judged.  Each fault names the item, the value's field, its row and
** column with what they stand for, the token and the reason.  The
** workbench's validation uses the same list.
*/
#include <cstdio>
#include <cstring>

#include "bio/bio.h"
#include "bio/bio_items.h"
#include "core/input_file.h"
#include "core/records.h"
#include "core/runlog.h"
#include "serve/bio_layout.h"
#include "serve/serve.h"

namespace {

/* Row or column `k` of a field, with what it stands for. */
void add_position(nlohmann::json& out, const char* which, BioAxis axis, int first, int k)
{
    if (axis == BioAxis::none)
        return;
    out[which] = axis_label(axis, first, k);
    std::string key = axis_name(axis);
    for (char& c : key)
        if (c == ' ')
            c = '_';
    if (axis == BioAxis::calendar_month)
        out[key] = axis_label(axis, first, k);
    else
        out[key] = first + k;
}

nlohmann::json fault_json(const BioFault& f, const std::string& shown_name)
{
    nlohmann::json out;
    std::string text = "READ_BIO_FILE: " + shown_name;
    if (f.field < 0) {
        out = {{"item", 0}, {"name", ""}, {"index", -1}};
        text += ": " + f.reason;
    } else {
        const BioField& field = bio_fields()[f.field];
        const bool at_heading = f.row < 0;
        out = {{"item", field.item},
               {"name", field.name},
               {"index", at_heading ? -1 : item_index(f.field, f.row, f.col)}};
        if (at_heading) {
            out["where"] = "heading";
        } else if (field.kind != BioKind::text) {
            add_position(out, "row", field.row_axis, field.first_row, f.row);
            add_position(out, "column", field.col_axis, field.first_col, f.col);
        }
        text += ", item " + std::to_string(field.item) + " (" + field.what + "): " + f.reason;
    }
    if (f.stops)
        text += "; the values after it may stand in other places, so the check stops here";
    out["token"] = f.token;
    out["reason"] = f.reason;
    out["severity"] = f.warning ? "warning" : "error";
    out["stops"] = f.stops;
    out["offset"] = f.offset;
    out["text"] = text;
    return out;
}

int check_json(const char* name)
{
    std::string text, why;
    nlohmann::json faults = nlohmann::json::array();
    const InputRead got = READ_INPUT_FILE(name, LARGEST_BIO_FILE, text, why);
    if (got != InputRead::read) {
        BioFault f;
        f.reason = (got == InputRead::not_opened ? "file open failure: " : "") + why;
        f.stops = true;
        faults.push_back(fault_json(f, name));
    }
    nlohmann::json report = got == InputRead::read ? serve::bio_check(text, name)
                                                   : nlohmann::json{{"ok", false}, {"messages", faults}};
    nlohmann::json out = {{"file", name}, {"ok", report["ok"]}, {"faults", report["messages"]}};
    std::printf("%s\n", out.dump(2).c_str());
    std::fflush(stdout);
    return report["ok"].get<bool>() ? 0 : 1;
}

} // namespace

namespace serve {

nlohmann::json bio_check(const std::string& text, const std::string& shown_name)
{
    nlohmann::json messages = nlohmann::json::array();
    bool ok = true;
    for (const BioFault& f : bio_faults(text)) {
        messages.push_back(fault_json(f, shown_name));
        ok = ok && f.warning && !f.stops; /* a walk that stopped judged not all */
    }
    return {{"ok", ok}, {"messages", messages}};
}

} // namespace serve

int check_command(int argc, char** argv)
{
    const bool json = argc == 3 && std::strcmp(argv[1], "--json") == 0;
    if (argc != 2 && !json) {
        std::fprintf(stderr, "usage: morvenda check [--json] HERD.bio\n");
        return 2;
    }
    if (json)
        return check_json(argv[2]);
    runname = argv[1];
    int status = 0;
    try {
        INIT_BIO_RECORD();
        if (READ_BIO_FILE() != 0)
            status = 1;
    } catch (const RunEnded& ended) {
        status = ended.status == 0 ? 1 : ended.status;
    }
    std::printf("\n check: %s %s\n", argv[1], status == 0 ? "read" : "not read");
    std::fflush(stdout);
    return status;
}
