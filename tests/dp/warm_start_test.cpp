// warm.txt: what is written relative to what, what is read back, failed
// writes, and that a warm start pays.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp_herd.h"
#include "run/records.h"
#include "run/runlog.h"
#include "support/support.h"

namespace {

/* Line n (1-based) of a text. */
std::string line_of(const std::string& text, int n)
{
    std::istringstream in(text);
    std::string line;
    for (int i = 0; i < n; i++)
        if (!std::getline(in, line))
            return "";
    return line;
}

std::string write_warm(unsigned short buffer)
{
    testing::internal::CaptureStdout();
    WRITE_WARM_FILE(buffer);
    return testing::internal::GetCapturedStdout();
}

void set_values(double heifer, double heifer_now)
{
    fut->heifer[1] = heifer;
    fut->heifer_now = heifer_now;
    for (int i = 0; i < NSLOT; i++)
        fut->cash[i] = 10.0 * i - 3.25;
    fut->value[1][1][1][0][1] = 777.25;
    fut->value[15][12][24][9][1] = 12.5; /* conceived in month 15: carried */
    fut->value[15][12][24][8][1] = 99.0; /* conceived in month 16: not carried */
}

/* 2 + 25 + 15 x 12 x (24 open + cows that conceived in month 2..15) */
constexpr int WARM_LINES = 2 + 25 + 15 * 12 * (24 + 126);

} // namespace

TEST(WarmStart, WrittenRelativeToThePlaceWithoutInterest)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    set_values(520.0, 500.0);
    EXPECT_EQ(write_warm(1), "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE done ...");
    std::string warm = READ_TEXT("warm.txt");
    EXPECT_EQ(std::count(warm.begin(), warm.end(), '\n'), WARM_LINES);
    EXPECT_EQ(line_of(warm, 1), "20.000000");
    EXPECT_EQ(line_of(warm, 2), "0.000000");
    EXPECT_EQ(line_of(warm, 3), "-3.250000"); /* cash as it is */
    EXPECT_EQ(line_of(warm, 27), "236.750000");
    EXPECT_EQ(line_of(warm, 28), "277.250000");
    EXPECT_EQ(line_of(warm, WARM_LINES), "-487.500000");
    EXPECT_FALSE(FILE_EXISTS("warm.txt.tmp"));

    bio->interest = 0.08; /* with interest as they are ... */
    write_warm(1);
    warm = READ_TEXT("warm.txt");
    EXPECT_EQ(line_of(warm, 2), "500.000000");
    EXPECT_EQ(line_of(warm, 28), "777.250000");

    set_values(100020.0, 100000.0); /* ... unless the place is worth 100000 */
    write_warm(1);
    EXPECT_EQ(line_of(READ_TEXT("warm.txt"), 2), "0.000000");
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
    write_warm(1);

    CLEAR_DP_RECORDS(); /* the fut reset starts from the file */
    warmstart = 1;
    testing::internal::CaptureStdout();
    RESET_FUT_RECORD();
    EXPECT_NE(testing::internal::GetCapturedStdout().find(
                  "\n READ_WARM_FILE started ...\n READ_WARM_FILE done ... warm.txt read"),
              std::string::npos);
    EXPECT_EQ(fut->heifer[0], 520.0);
    EXPECT_EQ(fut->heifer_now, 500.0);
    EXPECT_EQ(fut->cash[24], 236.75);
    EXPECT_EQ(fut->value[1][1][1][0][0], 777.25);
    EXPECT_EQ(fut->value[15][12][24][9][0], 12.5);
    EXPECT_EQ(fut->value[15][12][24][8][0], 0.0); /* not in the file */
}

TEST(WarmStart, FailedWritesKeepTheOldFile)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    set_values(520.0, 500.0);
    ASSERT_EQ(mkdir("warm.txt.tmp", 0700), 0); /* no temporary file: pause, go on */
    WRITE_TEXT("warm.txt", "old\n");
    EXPECT_EQ(write_warm(1), "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE: warm.txt open failure\a@");
    EXPECT_EQ(READ_TEXT("warm.txt"), "old\n");
    rmdir("warm.txt.tmp");

    std::remove("warm.txt"); /* warm.txt cannot be replaced: the run ends */
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
    const std::string log = RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    const int cold = DP_STAGES();
    EXPECT_NE(log.find(" calc:12 w:12 sea:10 fut:"), std::string::npos); /* written after the 12th stored stage */
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
    RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    EXPECT_LT(DP_STAGES(), cold);
}
