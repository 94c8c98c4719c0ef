/*
** bio_text.h -- bio files for the test cases, made by editing lines of the
** example herd (found by their heading and an offset below it, or by line
** number), and a reader that reports how the reading ended.
*/
#ifndef MORVENDA_TEST_BIO_TEXT_H
#define MORVENDA_TEST_BIO_TEXT_H

#include <gtest/gtest.h>

#include <string>

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
constexpr std::size_t AT_START = 2, AT_POLICY = 3, AT_MAXMIM = 4, AT_CI = 6, AT_FEED = 8;

#endif
