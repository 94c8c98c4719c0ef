// warm.txt: what is written relative to what, what is read back, and that a
// warm start pays.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp_herd.h"
#include "run/records.h"
#include "run/runlog.h"
#include "support/support.h"

namespace {

/* Line `n` (1-based) of a text. */
std::string line_of(const std::string& text, int n)
{
    std::size_t at = 0;
    for (int i = 1; i < n; i++) {
        at = text.find('\n', at);
        if (at == std::string::npos)
            return "";
        at++;
    }
    return text.substr(at, text.find('\n', at) - at);
}

int count_lines(const std::string& text)
{
    int n = 0;
    for (char ch : text)
        n += ch == '\n';
    return n;
}

/* Lines of the value part: open cows and cows that conceived in month 2..15. */
int carried_states()
{
    int n = 0;
    for (int mim = 1; mim <= 24; mim++)
        for (int mpreg = 0; mpreg <= 9; mpreg++)
            n += mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15);
    return 15 * 12 * n;
}

void set_values(double heifer, double heifer_now)
{
    fut->heifer[1] = heifer;
    fut->heifer_now = heifer_now;
    for (int i = 0; i < NSLOT; i++)
        fut->cash[i] = 10.0 * i - 3.25;
    fut->value[1][1][1][0][1] = 777.25;
    fut->value[15][12][24][9][1] = 12.5; /* conceived month 15: carried */
    fut->value[15][12][24][8][1] = 99.0; /* conceived month 16: not carried */
}

} // namespace

TEST(WarmStart, BaseOfTheWrittenValues)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();

    /* without interest everything but the cash is relative to the place */
    bio->interest = 0.0;
    set_values(520.0, 500.0);
    testing::internal::CaptureStdout();
    WRITE_WARM_FILE(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE done ...");
    std::string warm = READ_TEXT("warm.txt");
    EXPECT_EQ(count_lines(warm), 2 + 25 + carried_states());
    EXPECT_EQ(line_of(warm, 1), "20.000000");
    EXPECT_EQ(line_of(warm, 2), "0.000000");
    EXPECT_EQ(line_of(warm, 3), "-3.250000");
    EXPECT_EQ(line_of(warm, 27), "236.750000");
    EXPECT_EQ(line_of(warm, 28), "277.250000");
    EXPECT_EQ(line_of(warm, 2 + 25 + carried_states()), "-487.500000");
    EXPECT_FALSE(FILE_EXISTS("warm.txt.tmp"));

    /* with interest the values stand as they are ... */
    bio->interest = 0.08;
    testing::internal::CaptureStdout();
    WRITE_WARM_FILE(1);
    testing::internal::GetCapturedStdout();
    warm = READ_TEXT("warm.txt");
    EXPECT_EQ(line_of(warm, 1), "520.000000");
    EXPECT_EQ(line_of(warm, 2), "500.000000");
    EXPECT_EQ(line_of(warm, 28), "777.250000");

    /* ... unless the place is worth 100000 or more */
    set_values(100020.0, 100000.0);
    testing::internal::CaptureStdout();
    WRITE_WARM_FILE(1);
    testing::internal::GetCapturedStdout();
    warm = READ_TEXT("warm.txt");
    EXPECT_EQ(line_of(warm, 1), "20.000000");
    EXPECT_EQ(line_of(warm, 2), "0.000000");
}

TEST(WarmStart, ReadBackIntoTheWarmBuffer)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    testing::internal::CaptureStdout();
    EXPECT_EQ(READ_WARM_FILE(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n READ_WARM_FILE started ...\n\a READ_WARM_FILE done ... warm.txt not read");

    bio->interest = 0.05;
    set_values(520.0, 500.0);
    testing::internal::CaptureStdout();
    WRITE_WARM_FILE(1);
    testing::internal::GetCapturedStdout();

    CLEAR_DP_RECORDS();
    fut->value[15][12][24][8][2] = 42.0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(READ_WARM_FILE(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n READ_WARM_FILE started ...\n READ_WARM_FILE done ... warm.txt read");
    EXPECT_EQ(fut->heifer[2], 520.0);
    EXPECT_EQ(fut->heifer_now, 500.0);
    EXPECT_EQ(fut->cash[24], 236.75);
    EXPECT_EQ(fut->value[1][1][1][0][2], 777.25);
    EXPECT_EQ(fut->value[15][12][24][9][2], 12.5);
    EXPECT_EQ(fut->value[15][12][24][8][2], 42.0); /* not in the file: untouched */
    EXPECT_EQ(fut->value[1][1][1][0][0], 0.0);

    /* the fut reset loads the file into the starting buffer */
    CLEAR_DP_RECORDS();
    warmstart = 1;
    testing::internal::CaptureStdout();
    RESET_FUT_RECORD();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fut->value[1][1][1][0][0], 777.25);
    EXPECT_EQ(fut->heifer[0], 520.0);

    /* a short file leaves the rest as it was */
    WRITE_TEXT("warm.txt", "1.5\n2.5\n3.5\n");
    CLEAR_DP_RECORDS();
    fut->cash[2] = 9.0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(READ_WARM_FILE(), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fut->heifer[2], 1.5);
    EXPECT_EQ(fut->cash[0], 3.5);
    EXPECT_EQ(fut->cash[2], 9.0);
}

TEST(WarmStart, FailedWritesKeepTheOldFile)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    set_values(520.0, 500.0);

    /* the temporary file cannot be made: message and pause, run goes on */
    ASSERT_EQ(mkdir("warm.txt.tmp", 0700), 0);
    WRITE_TEXT("warm.txt", "old\n");
    testing::internal::CaptureStdout();
    WRITE_WARM_FILE(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE: warm.txt open failure\a@");
    EXPECT_EQ(READ_TEXT("warm.txt"), "old\n");
    ASSERT_EQ(rmdir("warm.txt.tmp"), 0);

    /* warm.txt cannot be replaced: the run ends, nothing half-written */
    std::remove("warm.txt");
    ASSERT_EQ(mkdir("warm.txt", 0700), 0);
    WRITE_TEXT("warm.txt/keep", "x");
    testing::internal::CaptureStdout();
    EXPECT_THROW(WRITE_WARM_FILE(1), RunEnded);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("\n WRITE_WARM_FILE: warm.txt write failure\a@"),
              std::string::npos);
    EXPECT_FALSE(FILE_EXISTS("warm.txt.tmp"));
    std::remove("warm.txt/keep");
    rmdir("warm.txt");
}

TEST(WarmStart, ConvergedValuesNeedNoMoreStages)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    warmstart = 1;
    short status = 0;
    std::string log = RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    const int cold = DP_STAGES();
    /* written at the twelfth stored stage */
    EXPECT_NE(log.find("calc:12 w:12 sea:10 fut:"), std::string::npos);
    EXPECT_NE(log.find("\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE done ...\n " +
                       std::to_string(cold - 11) + " calc:13"),
              std::string::npos);
    EXPECT_EQ(line_of(READ_TEXT("warm.txt"), 2), "0.000000");

    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    warmstart = 1;
    testing::internal::CaptureStdout();
    RESET_FUT_RECORD();
    testing::internal::GetCapturedStdout();
    log = RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    EXPECT_LE(DP_STAGES(), cold);
    EXPECT_LT(DP_STAGES(), cold); /* this herd gains a good deal */
}
