// The pol, rpo and del files: exact lines, which states they carry, the pol
// round trip, and what a bad pol file or a failed write does.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp/dp_herd.h"
#include "core/number_format.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/runlog.h"
#include "support/file_faults.h"
#include "support/support.h"

namespace {

short pattern(int t, int curr, int lact, int mim, int mpreg)
{
    static const short codes[4] = {0, 1, 2, 8};
    return codes[(t * 7 + curr * 5 + lact * 3 + mim + mpreg * 11) % 4];
}

/* Console of a routine that may end the run; `ended` tells whether it did. */
template <typename F>
std::string console_of(F f, bool& ended)
{
    capture_console();
    ended = false;
    try {
        f();
    } catch (const RunEnded& e) {
        ended = e.status == 1;
    }
    return captured_console();
}

/* Number of lines, and of lines whose first five numbers fail `keep`. */
template <typename Keep>
std::pair<int, int> scan_lines(const std::string& text, Keep keep)
{
    std::istringstream in(text);
    std::string line;
    int lines = 0, bad = 0;
    while (std::getline(in, line)) {
        int a, b, c, d, e;
        bad += std::sscanf(line.c_str(), "%d %d %d %d %d", &a, &b, &c, &d, &e) != 5 || !keep(a, b, c, d, e);
        lines++;
    }
    return {lines, bad};
}

} // namespace

TEST(PolicyFiles, FixedConversionMatchesPrintf)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    std::vector<double> xs = {0.0, -0.0, 0.5, 1.5, 2.5, -0.5, -0.3, -123.0, -12345.6, 0.005, 0.015,
                              2.675, 1e29, -1e30, 1e300, INFINITY, -INFINITY, NAN, 4503599627370497.0};
    for (int i = 0; i < 20000; i++)
        xs.push_back(i % 2 ? wide(rng) : std::floor(wide(rng)) + 0.5);
    for (double x : xs)
        for (int p : {0, 2}) {
            char want[512], got[512];
            std::snprintf(want, sizeof want, "%*.*f", p + 4, p, x);
            ASSERT_EQ(std::string(got, static_cast<std::size_t>(FORMAT_FIXED(got, x, p + 4, p))), want);
        }
}

TEST(PolicyFiles, PolRoundTripKeepsEveryDecision)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    polfile = "herd.pol";
    for (int t = 0; t < NSLOT; t++) {
        pol->enter[t] = static_cast<short>(t % 3 == 0 ? 0 : 1);
        for (int curr = 0; curr < NCURR; curr++)
            for (int lact = 0; lact < NLACT; lact++)
                for (int mim = 0; mim < NMIM; mim++)
                    for (int mpreg = 0; mpreg < NMPREG; mpreg++)
                        pol->decision[curr][lact][mim][mpreg][t] = pattern(t, curr, lact, mim, mpreg);
    }
    auto written = std::make_unique<PolRecord>(*pol);
    capture_console();
    WRITE_POL_FILE();
    ASSERT_TRUE(FINISH_POLICY_FILES());
    EXPECT_EQ(captured_console(),
              "\n WRITE_POL_FILE started ... 4% 8% 17% 25% 33% 42% 50% 58% 67% 75% 83% 92% 100%"
              "\n WRITE_POL_FILE done ...");
    const std::string text = read_text("herd.pol");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 43200);
    EXPECT_EQ(text.substr(0, 54), " 1 1 0 1 1 0 1 1 0 1 1 0 1 1 0 1 1 0 1 1 0 1 1 0\n 1  1");
    EXPECT_EQ(text.substr(text.rfind('\n'), 14), "\n24 15 12  9 " + std::to_string(pattern(24, 15, 12, 1, 9)));
    EXPECT_NE(text.back(), '\n');

    std::memset(pol, 0x11, sizeof(PolRecord)); /* something else everywhere */
    capture_console();
    READ_POL_FILE();
    const std::string log = captured_console();
    EXPECT_EQ(log.rfind("\n READ_POL_FILE started ... herd.pol 4% 8% ", 0), 0u);
    EXPECT_EQ(log.substr(log.size() - 29), " 100%\n READ_POL_FILE done ...");
    EXPECT_EQ(read_text("msg.txt"), "16 - Read POL file: 100% completed");
    for (int t = 1; t <= 24; t++) {
        ASSERT_EQ(pol->enter[t], written->enter[t]);
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 12; lact++)
                for (int mim = 1; mim <= 24; mim++)
                    for (int mpreg = 0; mpreg <= 9; mpreg++)
                        ASSERT_EQ(pol->decision[curr][lact][mim][mpreg][t],
                                  written->decision[curr][lact][mim][mpreg][t]);
    }

    /* bad files: a position outside the record, a word, an early end, none */
    const std::size_t third = text.find("\n 1  1  1  1");
    const std::string cases[5][2] = {
        {text.substr(0, third + 13) + "9" + text.substr(third + 14), "line 3: decision is not 0, 1, 2 or 8"},
        {text.substr(0, third) + "\n 1  1 13  1" + text.substr(third + 12), "line 3: position outside the records"},
        {text.substr(0, third) + "\n25  1  1  1" + text.substr(third + 12), "line 3: position outside the records"},
        {text.substr(0, third + 13) + "x" + text.substr(third + 14), "line 3: not a number"},
        {text.substr(0, third + 20), "line 3: file ends early"}};
    bool ended = false;
    for (const auto& c : cases) {
        write_text("herd.pol", c[0]);
        const std::string out = console_of(READ_POL_FILE, ended);
        EXPECT_TRUE(ended);
        EXPECT_NE(out.find("\n READ_POL_FILE: herd.pol " + c[1] + "\a@"), std::string::npos) << out;
    }
    polfile = "missing.pol";
    EXPECT_EQ(console_of(READ_POL_FILE, ended),
              "\n READ_POL_FILE started ... missing.pol\n READ_POL_FILE: missing.pol open failure\a@");
    EXPECT_TRUE(ended);

    /* no endless read of a device, no folder, nothing larger than a pol file */
    write_text("huge.pol", std::string(17u << 20, ' '));
    const std::string limits[3][2] = {{"/dev/zero", "not a regular file"},
                                      {".", "not a regular file"},
                                      {"huge.pol", "larger than"}};
    for (const auto& c : limits) {
        polfile = c[0];
        const std::string out = console_of(READ_POL_FILE, ended);
        EXPECT_TRUE(ended);
        EXPECT_NE(out.find(c[0] + " open failure: " + c[1]), std::string::npos) << out;
    }
}

TEST(PolicyFiles, RpoAndDelFileLines)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    rpofile = "herd.rpo";
    delfile = "herd.del";
    rpo->rpo[3][2][5][0][4] = -123.0;
    rpo->rpo[3][2][5][0][16] = -12345.4;
    rpo->prg[3][2][5][0][4] = 0.5;
    rpo->prg[3][2][5][0][16] = 87.5;
    bio->sel[2][5][4] = 760.25;
    bio->milkyield[3][2][5][0][4] = 30.4 * 25.0;
    bio->milkyield[8][2][5][0][4] = 30.4 * 31.0;
    del->open[4][2][6][9][7] = -40.5;
    del->open[4][2][6][9][19] = -41.5;
    del->preg[4][2][6][9][7] = -123.0;
    del->preg[4][2][6][9][19] = 1234567.0;
    del->open[4][2][6][6][7] = 555.0; /* h = mim: not in the file */

    capture_console();
    WRITE_RPO_FILE();
    WRITE_DEL_FILE();
    ASSERT_TRUE(FINISH_POLICY_FILES());
    EXPECT_EQ(captured_console(),
              "\n WRITE_RPO_FILE started ... 8% 17% 25% 33% 42% 50% 58% 67% 75% 83% 92% 100%"
              "\n WRITE_RPO_FILE done ..."
              "\n WRITE_DEL_FILE started ... 8% 17% 25% 33% 42% 50% 58% 67% 75% 83% 92% 100%"
              "\n WRITE_DEL_FILE done ...");
    EXPECT_EQ(read_text("msg.txt"), "23 - Writing DEL file: 100% completed");

    const std::string rpo_text = read_text("herd.rpo");
    EXPECT_EQ(rpo_text.substr(0, rpo_text.find('\n') + 1),
              " 1  1  1  0  1 -9999 -9999 0 0 -9999 -9999    0  0.00  0.00 0 0\n");
    EXPECT_NE(rpo_text.find("\n 3  2  5  0  4 -123 -12345 0 0    0   88  760 25.00 31.00 0 0\n"), std::string::npos);
    int per_cow = 0;
    for (int mim = 1; mim <= 24; mim++)
        for (int mpreg = 0; mpreg <= 9; mpreg++)
            per_cow += mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15);
    auto rpo_lines = scan_lines(rpo_text, [](int, int, int mim, int mpreg, int) {
        return mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15);
    });
    EXPECT_EQ(rpo_lines.first, 12 * 15 * 12 * per_cow);
    EXPECT_EQ(rpo_lines.second, 0);

    const std::string del_text = read_text("herd.del");
    EXPECT_EQ(del_text.substr(0, del_text.find('\n') + 1), " 1  1  1  1  2    0    0    0    0\n");
    EXPECT_NE(del_text.find("\n 7  4  2  6  9  -40  -42 -123 1234567\n"), std::string::npos);
    EXPECT_EQ(del_text.find(" 555"), std::string::npos);
    auto del_lines = scan_lines(del_text, [](int, int, int, int mim, int h) { return h > mim && mim < 24; });
    EXPECT_EQ(del_lines.first, 12 * 15 * 12 * 276);
    EXPECT_EQ(del_lines.second, 0);
}

TEST(PolicyFiles, FailedOpenOrWriteEndsTheRun)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    bool ended = false;
    polfile = rpofile = delfile = "no/such/dir/herd";
    const std::string why = "\n no/such/dir/herd: No such file or directory\a@";
    EXPECT_EQ(console_of(WRITE_POL_FILE, ended),
              "\n WRITE_POL_FILE started ...\n WRITE_POL_FILE: no/such/dir/herd open failure" + why);
    EXPECT_TRUE(ended);
    EXPECT_EQ(console_of(WRITE_RPO_FILE, ended),
              "\n WRITE_RPO_FILE started ...\n WRITE_RPO_FILE: no/such/dir/herd open failure" + why);
    EXPECT_TRUE(ended);
    EXPECT_EQ(console_of(WRITE_DEL_FILE, ended), "\n WRITE_DEL_FILE started ...\n WRITE_DEL_FILE: open failure" + why);
    EXPECT_TRUE(ended);

    /* A device is never replaced by a regular file. */
    polfile = rpofile = delfile = "/dev/null";
    void (*writers[3])() = {WRITE_POL_FILE, WRITE_RPO_FILE, WRITE_DEL_FILE};
    for (auto* writer : writers) {
        const std::string out = console_of(writer, ended);
        EXPECT_TRUE(ended);
        EXPECT_NE(out.find("\n /dev/null: not a regular file\a@"), std::string::npos) << out;
        EXPECT_EQ(out.find("done"), std::string::npos);
    }
}

TEST(PolicyFiles, OneThreadOrTwoWriteTheSameFilesAndRefuseWhatIsNotANumber)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    /* values in every slot, so that a group written out of place shows */
    for (int t = 1; t <= 24; t++) {
        rpo->rpo[5][3][7][2][t] = 100.0 * t + 0.25;
        rpo->prg[15][12][24][9][t] = -7.0 * t;
        del->open[1][1][1][2][t] = 3.0 * t;
        del->preg[15][12][23][24][t] = -11.0 * t;
    }
    std::string texts[2][2];
    for (int workers : {1, 2}) {
        DP_SET_WORKERS(workers);
        rpofile = "herd.rpo";
        delfile = "herd.del";
        capture_console();
        WRITE_RPO_FILE();
        WRITE_DEL_FILE();
        ASSERT_TRUE(FINISH_POLICY_FILES());
        captured_console();
        texts[workers - 1][0] = read_text("herd.rpo");
        texts[workers - 1][1] = read_text("herd.del");
    }
    EXPECT_EQ(texts[0][0], texts[1][0]);
    EXPECT_EQ(texts[0][1], texts[1][1]);
    EXPECT_NE(texts[1][0].find("\n 5  3  7  2  9  900 2100 0 0"), std::string::npos);

    /* A value that is not a number, in a slot of either thread: the old
    ** file stays, and no progress is shown. */
    for (int workers : {1, 2})
        for (int t : {2, 21}) {
            DP_SET_WORKERS(workers);
            rpo->prg[4][4][10][0][t] = std::nan("");
            bool ended = false;
            EXPECT_EQ(console_of(WRITE_RPO_FILE, ended),
                      "\n WRITE_RPO_FILE started ...\n WRITE_RPO_FILE: herd.rpo not written: values that are "
                      "not numbers\a@");
            EXPECT_TRUE(ended);
            EXPECT_EQ(read_text("herd.rpo"), texts[0][0]);
            rpo->prg[4][4][10][0][t] = 0.0;
        }
    DP_SET_WORKERS(2);
    EXPECT_EQ(files_in("."), (std::vector<std::string>{"herd.del", "herd.rpo", "msg.txt"}));
}

TEST(PolicyFiles, AFileThatCannotBeSavedFailsWhenTheRunWaitsForIt)
{
    ScratchDir dir;
    /* The sync and the rename come after the writer has returned; here the
    ** rename meets a folder that took the file's name in the meantime. */
    OutputFile f("herd.rpo");
    ASSERT_TRUE(f.ok());
    std::fputs("pay-offs\n", f.fp());
    ASSERT_EQ(mkdir("herd.rpo", 0700), 0);
    ASSERT_TRUE(f.commit_later("WRITE_RPO_FILE: herd.rpo"));
    capture_console();
    EXPECT_FALSE(FINISH_POLICY_FILES());
    EXPECT_EQ(captured_console(), "\n WRITE_RPO_FILE: herd.rpo write failure (Is a directory)\a@");
    EXPECT_EQ(files_in("."), (std::vector<std::string>{"herd.rpo", "msg.txt"})); /* no temporary file left */
    EXPECT_TRUE(FINISH_POLICY_FILES()); /* nothing left to wait for */
}

TEST(PolicyFiles, ValuesWiderThanUsualGrowTheTexts)
{
    /* Pay-offs of 31 characters make each slot's text some 3 MB, more
    ** than the 2 MB a slot starts with. */
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    double* first = &rpo->rpo[0][0][0][0][0];
    std::fill(first, first + sizeof rpo->rpo / sizeof(double), -1e29);
    rpofile = "herd.rpo";
    capture_console();
    WRITE_RPO_FILE();
    ASSERT_TRUE(FINISH_POLICY_FILES());
    captured_console();
    const std::string text = read_text("herd.rpo");
    char wide[64];
    std::snprintf(wide, sizeof wide, " %4.0f", -1e29);
    const std::string line = "15 12 24  9 12" + std::string(wide) + wide + " 0 0";
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1, line.size()), line);
    EXPECT_GT(text.size(), 12u * (2u << 20));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12 * 15 * 12 * 150); /* 150 states a lactation */
    CLEAR_DP_RECORDS();
}
