// The pol, rpo and del files: exact lines, which states they carry, the
// pol round trip, and what a bad pol file or a failed write does.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp_herd.h"
#include "run/records.h"
#include "run/runlog.h"
#include "support/support.h"

namespace {

short pattern(int t, int curr, int lact, int mim, int mpreg)
{
    static const short codes[4] = {0, 1, 2, 8};
    return codes[(t * 7 + curr * 5 + lact * 3 + mim + mpreg * 11) % 4];
}

void fill_policy()
{
    for (int t = 0; t < NSLOT; t++) {
        pol->enter[t] = static_cast<short>(t % 3 == 0 ? 0 : 1);
        for (int curr = 0; curr < NCURR; curr++)
            for (int lact = 0; lact < NLACT; lact++)
                for (int mim = 0; mim < NMIM; mim++)
                    for (int mpreg = 0; mpreg < NMPREG; mpreg++)
                        pol->decision[curr][lact][mim][mpreg][t] = pattern(t, curr, lact, mim, mpreg);
    }
}

/* Runs a routine that may end the run; returns its console text. */
template <typename F>
std::string console_of(F f, bool& ended)
{
    testing::internal::CaptureStdout();
    ended = false;
    try {
        f();
    } catch (const RunEnded& e) {
        ended = e.status == 1;
    }
    return testing::internal::GetCapturedStdout();
}

int count_lines(const std::string& text)
{
    int n = 0;
    for (char ch : text)
        n += ch == '\n';
    return n;
}

} // namespace

TEST(PolicyFiles, FixedConversionMatchesPrintf)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    std::vector<double> xs = {0.0,    -0.0,    0.5,     1.5,    2.5,     -0.5,  -0.3,  -123.0, 123.4999,
                              -12345.6, 9999.5, 0.005,  0.015,  0.125,   1e29,  -1e29, 1e30,   1e300,
                              -1e300, 1.0 / 0.0, -1.0 / 0.0, 0.0 / 0.0, 2.675, 1.005, 4503599627370497.0};
    for (int i = 0; i < 20000; i++)
        xs.push_back(wide(rng));
    for (int i = 0; i < 2000; i++)
        xs.push_back(std::floor(wide(rng)) + 0.5);
    for (double x : xs)
        for (int w : {4, 5})
            for (int p : {0, 2}) {
                char want[512], got[512];
                std::snprintf(want, sizeof want, "%*.*f", w, p, x);
                const int n = FORMAT_FIXED(got, x, w, p);
                ASSERT_EQ(std::string(got, static_cast<std::size_t>(n)), want) << x;
            }
}

TEST(PolicyFiles, PolRoundTripKeepsEveryDecision)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    polfile = "herd.pol";
    fill_policy();
    auto written = std::make_unique<PolRecord>(*pol);

    testing::internal::CaptureStdout();
    WRITE_POL_FILE();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n WRITE_POL_FILE started ... 4% 8% 17% 25% 33% 42% 50% 58% 67% 75% 83% 92% 100%"
              "\n WRITE_POL_FILE done ...");
    const std::string text = READ_TEXT("herd.pol");
    EXPECT_EQ(count_lines(text), 43200);
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(text.substr(0, 10), " 1 1 0 1 1");
    std::ostringstream first;
    first << "\n 1  1  1  0";
    for (int mim = 1; mim <= 24; mim++)
        first << " " << pattern(1, 1, 1, mim, 0);
    first << "\n";
    const std::size_t at = text.find('\n');
    EXPECT_EQ(text.substr(at, first.str().size()), first.str());
    EXPECT_EQ(text.substr(text.rfind('\n'), 12), "\n24 15 12  9");

    /* read back over a record that holds something else everywhere */
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 5;
    std::memset(pol->decision, 0x11, sizeof pol->decision);
    testing::internal::CaptureStdout();
    READ_POL_FILE();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.substr(0, 40), "\n READ_POL_FILE started ... herd.pol 4% ");
    EXPECT_EQ(log.substr(log.size() - 29), " 100%\n READ_POL_FILE done ...");
    EXPECT_EQ(READ_TEXT("msg.txt"), "16 - Read POL file: 100% completed");
    for (int t = 1; t <= 24; t++) {
        ASSERT_EQ(pol->enter[t], written->enter[t]);
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 12; lact++)
                for (int mim = 1; mim <= 24; mim++)
                    for (int mpreg = 0; mpreg <= 9; mpreg++)
                        ASSERT_EQ(pol->decision[curr][lact][mim][mpreg][t],
                                  written->decision[curr][lact][mim][mpreg][t]);
    }
}

TEST(PolicyFiles, BadPolFilesEndTheRun)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    polfile = "herd.pol";
    fill_policy();
    testing::internal::CaptureStdout();
    WRITE_POL_FILE();
    testing::internal::GetCapturedStdout();
    const std::string good = READ_TEXT("herd.pol");
    bool ended = false;

    /* a position outside the record on the second decision line */
    std::string bad = good;
    const std::size_t second = bad.find("\n 1  1  1  1");
    ASSERT_NE(second, std::string::npos);
    bad.replace(second, 12, "\n 1  1 13  1");
    WRITE_TEXT("herd.pol", bad);
    std::string log = console_of(READ_POL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_NE(log.find("\n READ_POL_FILE: herd.pol line 3: position outside the records\a@"),
              std::string::npos);

    bad = good;
    bad.replace(bad.find("\n 1  1  1  1"), 12, "\n25  1  1  1");
    WRITE_TEXT("herd.pol", bad);
    console_of(READ_POL_FILE, ended);
    EXPECT_TRUE(ended);

    /* a word where a decision belongs */
    bad = good;
    bad.replace(bad.find("\n 1  1  1  1") + 13, 1, "x");
    WRITE_TEXT("herd.pol", bad);
    log = console_of(READ_POL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_NE(log.find("herd.pol line 3: not a number"), std::string::npos);

    /* a file that stops early */
    const std::string half = good.substr(0, good.size() / 2);
    WRITE_TEXT("herd.pol", half);
    log = console_of(READ_POL_FILE, ended);
    EXPECT_TRUE(ended);
    const std::string where = "herd.pol line " + std::to_string(count_lines(half) + 1) + ": file ends early";
    EXPECT_NE(log.find(where), std::string::npos) << log.substr(log.size() - 100);

    /* no file at all */
    polfile = "missing.pol";
    log = console_of(READ_POL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(log, "\n READ_POL_FILE started ... missing.pol\n READ_POL_FILE: missing.pol open failure\a@");
}

TEST(PolicyFiles, RpoFileLines)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    rpofile = "herd.rpo";
    rpo->rpo[3][2][5][0][4] = -123.0;
    rpo->rpo[3][2][5][0][16] = -12345.4;
    rpo->prg[3][2][5][0][4] = 0.5;
    rpo->prg[3][2][5][0][16] = 87.5;
    bio->sel[2][5][4] = 760.25;
    bio->milkyield[3][2][5][0][4] = 30.4 * 25.0;
    bio->milkyield[8][2][5][0][4] = 30.4 * 31.0;

    testing::internal::CaptureStdout();
    WRITE_RPO_FILE();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n WRITE_RPO_FILE started ... 8% 17% 25% 33% 42% 50% 58% 67% 75% 83% 92% 100%"
              "\n WRITE_RPO_FILE done ...");
    EXPECT_EQ(READ_TEXT("msg.txt"), "22 - Writing RPO file: 100% completed");
    const std::string text = READ_TEXT("herd.rpo");
    EXPECT_NE(text.find("\n 3  2  5  0  4 -123 -12345 0 0    0   88  760 25.00 31.00 0 0\n"), std::string::npos);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              " 1  1  1  0  1 -9999 -9999 0 0 -9999 -9999    0  0.00  0.00 0 0\n");

    /* exactly the open states and the cows that conceived in month 2..15 */
    std::istringstream in(text);
    std::string line;
    int lines = 0, bad = 0;
    while (std::getline(in, line)) {
        int curr, lact, mim, mpreg, t;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %d %d %d", &curr, &lact, &mim, &mpreg, &t), 5);
        if (mpreg >= 1 && (mim - mpreg < 2 || mim - mpreg > 15))
            bad++;
        lines++;
    }
    int per_cow = 0;
    for (int mim = 1; mim <= 24; mim++)
        for (int mpreg = 0; mpreg <= 9; mpreg++)
            per_cow += mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15);
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(lines, 12 * 15 * 12 * per_cow);
}

TEST(PolicyFiles, DelFileLines)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    delfile = "herd.del";
    del->open[4][2][6][9][7] = -40.5;
    del->open[4][2][6][9][19] = -41.5;
    del->preg[4][2][6][9][7] = -123.0;
    del->preg[4][2][6][9][19] = 1234567.0;
    del->open[4][2][6][6][7] = 555.0; /* h = mim: never written */

    testing::internal::CaptureStdout();
    WRITE_DEL_FILE();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n WRITE_DEL_FILE started ... 8% 17% 25% 33% 42% 50% 58% 67% 75% 83% 92% 100%"
              "\n WRITE_DEL_FILE done ...");
    EXPECT_EQ(READ_TEXT("msg.txt"), "23 - Writing DEL file: 100% completed");
    const std::string text = READ_TEXT("herd.del");
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), " 1  1  1  1  2    0    0    0    0\n");
    EXPECT_NE(text.find("\n 7  4  2  6  9  -40  -42 -123 1234567\n"), std::string::npos);
    EXPECT_EQ(text.find(" 555"), std::string::npos);

    std::istringstream in(text);
    std::string line;
    int lines = 0, bad = 0;
    while (std::getline(in, line)) {
        int t, curr, lact, mim, h;
        ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %d %d %d", &t, &curr, &lact, &mim, &h), 5);
        bad += h <= mim || mim == 24;
        lines++;
    }
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(lines, 12 * 15 * 12 * 276);
}

TEST(PolicyFiles, FailedOpenOrWriteEndsTheRun)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    bool ended = false;

    polfile = "no/such/dir/herd.pol";
    std::string log = console_of(WRITE_POL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(log, "\n WRITE_POL_FILE started ...\n WRITE_POL_FILE: no/such/dir/herd.pol open failure\a@");

    rpofile = "no/such/dir/herd.rpo";
    log = console_of(WRITE_RPO_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(log, "\n WRITE_RPO_FILE started ...\n WRITE_RPO_FILE: no/such/dir/herd.rpo open failure\a@");

    delfile = "no/such/dir/herd.del";
    log = console_of(WRITE_DEL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_EQ(log, "\n WRITE_DEL_FILE started ...\n WRITE_DEL_FILE: open failure\a@");

    /* a full disk */
    if (!FILE_EXISTS("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    polfile = rpofile = delfile = "/dev/full";
    log = console_of(WRITE_POL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_NE(log.find("\n WRITE_POL_FILE: /dev/full write failure\a@"), std::string::npos);
    EXPECT_EQ(log.find("WRITE_POL_FILE done"), std::string::npos);
    log = console_of(WRITE_RPO_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_NE(log.find("\n WRITE_RPO_FILE: /dev/full write failure\a@"), std::string::npos);
    log = console_of(WRITE_DEL_FILE, ended);
    EXPECT_TRUE(ended);
    EXPECT_NE(log.find("\n WRITE_DEL_FILE: /dev/full write failure\a@"), std::string::npos);
}
