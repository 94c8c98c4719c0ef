/*
** bio_text.h -- bio files for the reader's test cases, made by editing the
** example herd's text: a case replaces a line (found by its heading and an
** offset, or by its number) and writes the result into the scratch
** directory.
*/
#ifndef MORVENDA_TEST_BIO_TEXT_H
#define MORVENDA_TEST_BIO_TEXT_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bio/bio.h"
#include "run/records.h"
#include "run/runlog.h"
#include "support/support.h"

inline std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

inline std::string join_lines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& l : lines)
        text += l + "\n";
    return text;
}

inline std::string example_text(const char* name = "examples/holstein_lb.bio")
{
    return READ_TEXT(SOURCE_PATH(name));
}

/* Replaces line number `number` (1-based). */
inline std::string with_line(const std::string& text, std::size_t number, const std::string& line)
{
    auto lines = split_lines(text);
    EXPECT_LE(number, lines.size());
    if (number >= 1 && number <= lines.size())
        lines[number - 1] = line;
    return join_lines(lines);
}

/* Replaces the line `offset` lines below the first line that starts with
** `heading` (offset 0 is the heading itself). */
inline std::string with_line_after(const std::string& text, const std::string& heading,
                                   std::size_t offset, const std::string& line)
{
    auto lines = split_lines(text);
    for (std::size_t i = 0; i < lines.size(); i++)
        if (lines[i].rfind(heading, 0) == 0) {
            EXPECT_LT(i + offset, lines.size());
            if (i + offset < lines.size())
                lines[i + offset] = line;
            return join_lines(lines);
        }
    ADD_FAILURE() << "no line starts with " << heading;
    return text;
}

/* The line `offset` lines below the heading. */
inline std::string line_after(const std::string& text, const std::string& heading,
                              std::size_t offset)
{
    auto lines = split_lines(text);
    for (std::size_t i = 0; i < lines.size(); i++)
        if (lines[i].rfind(heading, 0) == 0 && i + offset < lines.size())
            return lines[i + offset];
    ADD_FAILURE() << "no line starts with " << heading;
    return "";
}

inline std::string repeat(const std::string& token, int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += (i ? " " : "") + token;
    return s;
}

/* Result of one reading: the status, or -1 when the run was ended (with
** the status END_RUN gave in `ended`), and the console output. */
struct ReadResult {
    int status = 0;
    int ended = 0;
    std::string console;
};

/* Writes `text` as test.bio in the working directory and reads it. */
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

/* Headings of the example, the stable anchors of the edits. */
constexpr const char* H_PREG_MILK = "Milk factor";
constexpr const char* H_CURVE1 = "Milk curve lact 1";
constexpr const char* H_PINDLACT = "Involuntary disposal factor";
constexpr const char* H_PINDMIM = "Involuntary disposal per month";
constexpr const char* H_ABORT = "Abortion risk";
constexpr const char* H_HEAT = "Heat detection rate";
constexpr const char* H_CONC = "Conception rate";
constexpr const char* H_WEIGHT = "Open body weight";
constexpr const char* H_SERVE = "Insemination switches";
constexpr const char* H_ENTER = "Heifer entry switches";
constexpr const char* H_PRICES = "Heifer price";
constexpr const char* H_WRITE = "Write pol file";
constexpr const char* H_NOTES = "Notes";

/* Offsets below H_ABORT: the line after the abortion risks holds the
** waiting periods, then the last breeding month, insemination time and
** cost, highest lactation and the lactation conception factors. */
constexpr std::size_t AT_VWP = 2, AT_LBM = 3, AT_MAXLACT = 5;
/* Offsets below H_WRITE: write switches, start month, policy, highest
** month in milk, item 31, ci_adjust, then the three lines of item 33 and
** the veterinary costs. */
constexpr std::size_t AT_WRITES = 1, AT_START = 2, AT_POLICY = 3, AT_MAXMIM = 4,
                      AT_ITEM31 = 5, AT_CI = 6, AT_COSTS = 7, AT_FEED = 8, AT_LABOUR = 9,
                      AT_VET = 10;

#endif
