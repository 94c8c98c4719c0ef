/*
** bio_text.h -- variant bio files for the test cases, and a reader that
** reports how the reading ended.
**
** Every variant is the text of an example herd with lines or values
** replaced.  A line is found by its heading and an offset below it (or by
** its number), so a case can write anything a user could, a malformed line
** as well as a changed price; a value is changed by its name in the
** program's item table (set_items, as `morvenda set` does).
*/
#ifndef MORVENDA_TEST_BIO_TEXT_H
#define MORVENDA_TEST_BIO_TEXT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bio/bio.h"
#include "bio/bio_edit.h"
#include "core/records.h"
#include "core/runlog.h"
#include "support/support.h"

inline std::string example_text(const char* name = "examples/holstein_lb.bio")
{
    return read_text(source_path(name));
}

/* Start of the line `offset` lines below the first line starting with
** `heading` ("" for line 1). */
inline std::size_t line_start(const std::string& text, const std::string& heading,
                              std::size_t offset)
{
    std::size_t at = 0;
    if (!heading.empty()) {
        at = text.find("\n" + heading);
        if (at == std::string::npos) {
            ADD_FAILURE() << "no heading " << heading;
            return text.size();
        }
        at++;
    }
    for (; offset > 0 && at < text.size(); offset--)
        at = text.find('\n', at) + 1;
    return at;
}

/* Replaces the line `offset` below `heading` (line `offset` + 1 of the file
** when heading is ""). */
inline std::string edit(const std::string& text, const std::string& heading, std::size_t offset,
                        const std::string& line)
{
    std::size_t at = line_start(text, heading, offset);
    std::size_t end = text.find('\n', at);
    return text.substr(0, at) + line + text.substr(end);
}

inline std::string repeat(const std::string& token, int n)
{
    std::string s = token;
    for (int i = 1; i < n; i++)
        s += " " + token;
    return s;
}

/* status: what READ_BIO_FILE returned, or -1 when it ended the run with
** status `ended`. */
struct ReadResult {
    int status = 0;
    int ended = 0;
    std::string console;
};

inline ReadResult read_bio_text(const std::string& text)
{
    write_text("test.bio", text);
    RESET_RUN_VALUES();
    runname = "test.bio";
    ReadResult r;
    capture_console();
    try {
        r.status = READ_BIO_FILE();
    } catch (const RunEnded& e) {
        r.status = -1;
        r.ended = e.status;
    }
    r.console = captured_console();
    return r;
}

/* Headings of the example and offsets of the lines below them. */
constexpr const char* H_CURVE1 = "Milk curve lact 1";
constexpr const char* H_ABORT = "Abortion risk"; /* then vwp, lbm, ins, maxlact, conclact */
constexpr const char* H_HEAT = "Heat detection rate";
constexpr const char* H_CONC = "Conception rate";
constexpr const char* H_WEIGHT = "Open body weight";
constexpr const char* H_SERVE = "Insemination switches";
constexpr const char* H_PRICES = "Heifer price";
constexpr const char* H_WRITE = "Write pol file";
constexpr std::size_t AT_VWP = 2, AT_LBM = 3, AT_MAXLACT = 5, AT_CONCLACT = 6;
constexpr std::size_t AT_START = 2, AT_POLICY = 3, AT_MAXMIM = 4, AT_LIMITS = 5, AT_CI = 6, AT_FEED = 8;

/* Names of values of the item table (morvenda items lists them all). */
constexpr const char* ITEM_ANALYSIS = "analysis";
constexpr const char* ITEM_INTEREST = "interest";

/* Applies changes of `morvenda set` (interest=0, conception.5.JUL=0.3,
** milk_price*=0.85) through the program's item table; a change that
** cannot be made fails the test. */
inline std::string set_changes(std::string text, const std::vector<std::string>& words)
{
    std::vector<BioChange> changes;
    for (const std::string& w : words) {
        BioChange change;
        const std::string why = parse_bio_change(w, change);
        if (!why.empty())
            ADD_FAILURE() << "no bio item " << w << ": " << why;
        else
            changes.push_back(change);
    }
    const std::string why = apply_bio_changes(text, changes);
    if (!why.empty())
        ADD_FAILURE() << why;
    return text;
}

/* Replaces one value by its name in the item table. */
inline std::string set_item(const std::string& text, const std::string& name, const std::string& value)
{
    return set_changes(text, {name + "=" + value});
}

inline std::string set_items(std::string text, std::initializer_list<std::pair<const char*, std::string>> items)
{
    for (const auto& [name, value] : items)
        text = set_item(text, name, value);
    return text;
}

/* The same as a case lists them: "analysis=71 interest=0", with NAME[k]=VALUE
** for model month k of a monthly series (NAME.k=VALUE) and NAME=VALUE for
** all 24 months. */
inline std::string set_items(std::string text, const std::string& assignments)
{
    std::istringstream in(assignments);
    std::vector<std::string> words;
    std::string w;
    while (in >> w) {
        const std::size_t open = w.find('['), close = w.find(']');
        if (open != std::string::npos && close != std::string::npos && close > open)
            w = w.substr(0, open) + "." + w.substr(open + 1, close - open - 1) + w.substr(close + 1);
        words.push_back(w);
    }
    return set_changes(text, words);
}

/* Writes herd.bio: an example herd with the named items replaced. */
inline void make_herd(const std::string& assignments, const char* example = "examples/holstein_lb.bio")
{
    write_text("herd.bio", set_items(example_text(example), assignments));
}

#endif
