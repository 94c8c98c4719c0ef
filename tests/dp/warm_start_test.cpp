// warm.txt: what is written relative to what, what is read back, failed
// writes, and that a warm start pays.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <vector>
#include <cstdio>
#include <sstream>
#include <string>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp/dp_herd.h"
#include "core/records.h"
#include "core/runlog.h"
#include "support/file_faults.h"
#include "support/support.h"

namespace {

/* Lines 1, 2, 3, 27, 28 and the last of warm.txt, joined by '|'. */
std::string warm_lines()
{
    std::istringstream in(read_text("warm.txt"));
    std::string line, out;
    int n = 0;
    while (std::getline(in, line))
        if (++n <= 3 || n == 27 || n == 28 || n == 2 + 25 + 15 * 12 * (24 + 126))
            out += line + "|";
    return out + std::to_string(n);
}

std::string write_warm(double heifer_now)
{
    fut->heifer[1] = heifer_now + 20.0;
    fut->heifer_now = heifer_now;
    for (int i = 0; i < NSLOT; i++)
        fut->cash[i] = 10.0 * i - 3.25;
    fut->value[1][1][1][0][1] = 777.25;
    fut->value[15][12][24][9][1] = 12.5; /* conceived in month 15: carried */
    fut->value[15][12][24][8][1] = 99.0; /* conceived in month 16: not carried */
    capture_console();
    WRITE_WARM_FILE(1);
    return captured_console();
}

} // namespace

TEST(WarmStart, WrittenRelativeToThePlaceOnlyWithoutInterest)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    EXPECT_EQ(write_warm(500.0), "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE done ...");
    EXPECT_EQ(warm_lines(), "20.000000|0.000000|-3.250000|236.750000|277.250000|-487.500000|27027");
    EXPECT_FALSE(file_exists("warm.txt.tmp"));
    bio->interest = 0.08;
    write_warm(100000.0); /* a place worth 100000 is still the base */
    EXPECT_EQ(warm_lines(), "20.000000|0.000000|-3.250000|236.750000|-99222.750000|-99987.500000|27027");
    write_warm(500.0);
    EXPECT_EQ(warm_lines(), "520.000000|500.000000|-3.250000|236.750000|777.250000|12.500000|27027");

    CLEAR_DP_RECORDS(); /* read back through the fut reset */
    warmstart = 1;
    SET_WARM_START_READER(READ_WARM_FILE);
    capture_console();
    RESET_FUT_RECORD();
    EXPECT_NE(captured_console().find(
                  "\n READ_WARM_FILE started ...\n READ_WARM_FILE done ... warm.txt read"),
              std::string::npos);
    EXPECT_EQ(fut->heifer[0], 520.0);
    EXPECT_EQ(fut->heifer_now, 500.0);
    EXPECT_EQ(fut->cash[24], 236.75);
    EXPECT_EQ(fut->value[1][1][1][0][0], 777.25);
    EXPECT_EQ(fut->value[15][12][24][9][0], 12.5);
    EXPECT_EQ(fut->value[15][12][24][8][0], 0.0); /* not in the file */

    std::remove("warm.txt");
    capture_console();
    EXPECT_EQ(READ_WARM_FILE(), 0);
    EXPECT_EQ(captured_console(),
              "\n READ_WARM_FILE started ...\n\a READ_WARM_FILE done ... warm.txt not read");
}

TEST(WarmStart, FailedWritesKeepTheOldFile)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    ASSERT_EQ(mkdir("warm.txt", 0700), 0); /* no file to replace: the run ends */
    capture_console();
    EXPECT_THROW(WRITE_WARM_FILE(1), RunEnded);
    EXPECT_EQ(captured_console(),
              "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE: warm.txt open failure (not a regular file)\a@");
    rmdir("warm.txt");

    write_text("warm.txt", "old\n"); /* the disk fills up: the run ends, the old file stays */
    {
        FileSizeLimit limit(1000);
        capture_console();
        EXPECT_THROW(WRITE_WARM_FILE(1), RunEnded);
        EXPECT_NE(captured_console().find("\n WRITE_WARM_FILE: warm.txt write failure"),
                  std::string::npos);
    }
    EXPECT_TRUE(read_text("warm.txt") == "old\n");
    EXPECT_EQ(files_in("."), (std::vector<std::string>{"msg.txt", "warm.txt"})); /* no temporary file left */
}

TEST(WarmStart, OnlyAWholeRegularFileOfNumbersIsRead)
{
    ScratchDir dir;
    auto read_warm = [](std::string& log) {
        CLEAR_DP_RECORDS();
        capture_console();
        const short got = READ_WARM_FILE();
        log = captured_console();
        return got;
    };
    std::string log;
    /* a pipe would hang the read, a folder or a huge file is no warm file */
    ASSERT_EQ(mkfifo("warm.txt", 0600), 0);
    EXPECT_EQ(read_warm(log), 0);
    EXPECT_NE(log.find("\n\a READ_WARM_FILE: warm.txt not a regular file, set aside: cold start"), std::string::npos);
    std::remove("warm.txt");
    write_text("warm.txt", std::string(3u << 20, '1'));
    EXPECT_EQ(read_warm(log), 0);
    EXPECT_NE(log.find("warm.txt larger than"), std::string::npos) << log;

    /* text that is not the file's: a ranked cow list, an empty file */
    write_text("warm.txt", "id,lact,dim\n1,2,3\n");
    EXPECT_EQ(read_warm(log), 0);
    EXPECT_NE(log.find("warm.txt line 1 is not a number, set aside"), std::string::npos) << log;
    write_text("warm.txt", "10.0\n0.0\n5.0x\n");
    EXPECT_EQ(read_warm(log), 0);
    EXPECT_NE(log.find("warm.txt line 3 is not a number"), std::string::npos) << log;
    EXPECT_EQ(fut->heifer[2], 0.0);
    write_text("warm.txt", "");
    EXPECT_EQ(read_warm(log), 0);
    EXPECT_EQ(log.find("warm.txt read"), std::string::npos);

    /* a short file of numbers is read as far as it goes */
    write_text("warm.txt", "10.0\n-2.5\n3\n");
    EXPECT_EQ(read_warm(log), 1);
    EXPECT_NE(log.find("\n READ_WARM_FILE done ... warm.txt read"), std::string::npos);
    EXPECT_EQ(fut->heifer[2], 10.0);
    EXPECT_EQ(fut->heifer_now, -2.5);
    EXPECT_EQ(fut->cash[0], 3.0);
}

TEST(WarmStart, NoPoisonWrittenOrRead)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    write_text("warm.txt", "old\n");
    fut->value[2][3][4][0][1] = std::nan("");
    capture_console();
    WRITE_WARM_FILE(1);
    EXPECT_NE(captured_console().find("warm.txt not written"), std::string::npos);
    EXPECT_TRUE(read_text("warm.txt") == "old\n");

    /* A file with values no herd can have is set aside: a cold start. */
    const std::string poisons[3] = {"nan\n", "1e308\n", "inf\n"};
    for (const std::string& poison : poisons) {
        write_text("warm.txt", "10.0\n0.0\n" + poison + "5.0\n");
        CLEAR_DP_RECORDS();
        capture_console();
        EXPECT_EQ(READ_WARM_FILE(), 0) << poison;
        EXPECT_NE(captured_console().find("set aside: cold start"), std::string::npos);
        EXPECT_EQ(fut->heifer[2], 0.0);
        EXPECT_EQ(fut->cash[0], 0.0);
    }
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
    EXPECT_EQ(warm_lines().substr(0, 18), "0.000000|0.000000|");

    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    warmstart = 1;
    SET_WARM_START_READER(READ_WARM_FILE);
    capture_console();
    RESET_FUT_RECORD();
    captured_console();
    RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    EXPECT_LT(DP_STAGES(), cold);
}
