/*
** bio_text.h -- variant bio files for the test cases, and a reader that
** reports how the reading ended.
**
** Every variant is the text of an example herd with lines or values
** replaced.  A line is found by its heading and an offset below it (or by
** its number), so a case can write anything a user could, a malformed line
** as well as a changed price; the items the whole-run cases change most
** are named (BioItem) and set one value at a time with set_item.
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

#include "bio/bio.h"
#include "run/records.h"
#include "run/runlog.h"
#include "support/support.h"

inline std::string example_text(const char* name = "examples/holstein_lb.bio")
{
    return READ_TEXT(SOURCE_PATH(name));
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
    WRITE_TEXT("test.bio", text);
    RESET_RUN_VALUES();
    runname = "test.bio";
    ReadResult r;
    testing::internal::CaptureStdout();
    try {
        r.status = READ_BIO_FILE();
    } catch (const RunEnded& e) {
        r.status = -1;
        r.ended = e.status;
    }
    r.console = testing::internal::GetCapturedStdout();
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

/* One value of the bio file: value `index` (from 0) of the line `offset`
** below `heading` ("" for line 1). */
struct BioItem {
    const char* heading;
    std::size_t offset;
    std::size_t index;
};

constexpr BioItem ITEM_RESFILE{"", 1, 4};
constexpr BioItem ITEM_POLFILE{"", 1, 5};
constexpr BioItem ITEM_WARMSTART{"", 2, 0};
constexpr BioItem ITEM_ANALYSIS{"", 5, 0};
constexpr BioItem ITEM_MAXLACT{H_ABORT, AT_MAXLACT, 0};
constexpr BioItem ITEM_WRITERPO{H_WRITE, 1, 1};
constexpr BioItem ITEM_POLICY{H_WRITE, AT_POLICY, 0};
constexpr BioItem ITEM_INTEREST{H_WRITE, AT_LIMITS, 2};
constexpr BioItem ITEM_YIELD_SD{H_WRITE, AT_FEED, 4};

/* Replaces one value, keeping the spacing of its line. */
inline std::string set_item(const std::string& text, const BioItem& item, const std::string& value)
{
    std::size_t at = line_start(text, item.heading, item.offset);
    const std::size_t end = std::min(text.find('\n', at), text.size());
    for (std::size_t k = 0;; k++) {
        at = text.find_first_not_of(" \t\r", at);
        if (at == std::string::npos || at >= end) {
            ADD_FAILURE() << "no value " << item.index << " on line " << item.offset << " below \""
                          << item.heading << "\"";
            return text;
        }
        std::size_t stop = std::min(text.find_first_of(" \t\r\n", at), text.size());
        if (k == item.index)
            return text.substr(0, at) + value + text.substr(stop);
        at = stop;
    }
}

inline std::string set_items(std::string text, std::initializer_list<std::pair<BioItem, std::string>> items)
{
    for (const auto& [item, value] : items)
        text = set_item(text, item, value);
    return text;
}

/* The same by name, as a case lists them: "analysis=71 interest=0", with
** NAME[k]=VALUE for model month k of a monthly series and NAME=VALUE for
** all 24 months.  An unknown name fails the test. */
inline std::string set_items(std::string text, const std::string& assignments)
{
    struct Named {
        const char* name;
        BioItem item;
    };
    static const Named scalars[] = {
        {"runname", {"", 1, 0}},      {"rpofile", {"", 1, 1}},       {"delfile", {"", 1, 2}},
        {"mkvfile", {"", 1, 3}},      {"resfile", ITEM_RESFILE},     {"polfile", ITEM_POLFILE},
        {"warmstart", ITEM_WARMSTART}, {"analysis", ITEM_ANALYSIS},  {"maxlact", ITEM_MAXLACT},
        {"writepol", {H_WRITE, 1, 0}}, {"writerpo", ITEM_WRITERPO},  {"policy", ITEM_POLICY},
        {"interest", ITEM_INTEREST},  {"yield_sd", ITEM_YIELD_SD},
    };
    /* monthly series: heading and the line of months 1-12 below it */
    struct Series {
        const char* name;
        const char* heading;
        std::size_t offset;
    };
    static const Series series[] = {
        {"serve", H_SERVE, 1},       {"enter", "Heifer entry switches", 1},
        {"heifer_price", H_PRICES, 1}, {"milk_price", H_PRICES, 3}, {"bodyweight_price", H_PRICES, 5},
    };
    std::istringstream in(assignments);
    std::string assignment;
    while (in >> assignment) {
        const std::size_t eq = assignment.find('=');
        if (eq == std::string::npos || eq == 0) {
            ADD_FAILURE() << "expected NAME=VALUE, got " << assignment;
            continue;
        }
        std::string name = assignment.substr(0, eq);
        const std::string value = assignment.substr(eq + 1);
        int month = 0;
        if (const std::size_t open = name.find('['); open != std::string::npos) {
            month = std::atoi(name.c_str() + open + 1);
            name.resize(open);
        }
        bool known = false;
        for (const Named& n : scalars)
            if (month == 0 && name == n.name) {
                text = set_item(text, n.item, value);
                known = true;
            }
        for (const Series& sr : series)
            if (name == sr.name) {
                for (int m = 1; m <= 24; m++)
                    if (month == 0 || month == m)
                        text = set_item(text, {sr.heading, sr.offset + static_cast<std::size_t>(m - 1) / 12,
                                               static_cast<std::size_t>(m - 1) % 12},
                                        value);
                known = month >= 0 && month <= 24;
            }
        if (!known)
            ADD_FAILURE() << "no bio item " << assignment;
    }
    return text;
}

/* Writes herd.bio: an example herd with the named items replaced. */
inline void make_herd(const std::string& assignments, const char* example = "examples/holstein_lb.bio")
{
    WRITE_TEXT("herd.bio", set_items(example_text(example), assignments));
}

#endif
