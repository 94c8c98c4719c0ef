// Progress messages, the STOP pause and the run clock.
#include <gtest/gtest.h>

#include <cstdio>

#include "run/runlog.h"
#include "support/support.h"

TEST(ProgressFile, EveryCodeWritesItsMessageWithoutLineEnd)
{
    ScratchDir dir;
    struct Case {
        unsigned code;
        double value;
        const char* text;
    } cases[] = {
        {0, 0, "2 - No BIO file found"},
        {1, 0, "3 - Initialization started"},
        {2, 0, "6 - BIO file open failure"},
        {3, 0, "17 - Dynamic programming (DP) started"},
        {4, 0.0000123, "18 - DP convergence: 0.0000123"},
        {5, 0, "19 - DP convergence failed"},
        {6, 1234.567, "20 - DP converged, profit:1234.57"},
        {7, 0, "24 - Markov chain started"},
        {8, 0.0000123, "28 - Markov chain convergence: 0.0000123"},
        {9, 0, "30 - Markov chain statistics"},
        {10, 49.6, "22 - Writing RPO file: 50% completed"},
        {11, 100, "23 - Writing DEL file: 100% completed"},
        {12, 0, "32 - EXE completed"},
        {13, 0, "29 - Markov chain convergence failed: 0.000000"},
        {14, 0, "25 - MKV file not found, creating new file"},
        {15, 12.4, "27 - Markov chain collecting data: 12% completed"},
        {16, 4.17, "21 - Writing POL file: 4% completed"},
        {17, 8.33, "16 - Read POL file: 8% completed"},
        {20, 40, "26 - Reset mkv-record: 40% completed"},
        {21, 0, "7 - Calculate bio probabilities"},
        {22, 49.6, "8 - Calculate bio probabilities: 50% completed"},
        {30, 0, "4 - Reset bio-record"},
        {31, 0, "5 - Read BIO file"},
        {40, 0, "9 - Reset fut-record"},
        {41, 0, "10 - Reset pol-record"},
        {42, 0, "11 - Reset rpo-record"},
        {43, 0, "12 - Reset ins-record"},
        {44, 0, "13 - Reset del-record"},
        {45, 0, "14 - Reset mkv-record"},
        {46, 0, "15 - Reset cow-record"},
        {50, 0, "25 - Reading MKV file"},
        {51, 0, "31 - Writing RES file"},
        {99, 0, " STOP(): check Morvenda.EXE"},
    };
    for (const Case& c : cases) {
        WRITE_MSG_FILE(c.code, c.value);
        EXPECT_EQ(READ_TEXT("msg.txt"), c.text) << "code " << c.code;
    }
}

TEST(ProgressFile, CodesOutsideTheTableAreUnknown)
{
    ScratchDir dir;
    const unsigned unknown[] = {18, 19, 23, 24, 25, 26, 27, 28, 29, 32, 39, 47, 49,
                                52, 60, 98, 100, 1000, 65535};
    for (unsigned code : unknown) {
        WRITE_MSG_FILE(code, 3.0);
        EXPECT_EQ(READ_TEXT("msg.txt"), "Unknown message") << "code " << code;
    }
}

TEST(ProgressFile, KeepsOnlyTheLatestMessage)
{
    ScratchDir dir;
    WRITE_MSG_FILE(7);
    WRITE_MSG_FILE(12);
    EXPECT_EQ(READ_TEXT("msg.txt"), "32 - EXE completed");
}

TEST(StopPause, ReturnsAtOnceWithClosedInputAndRingsCountBells)
{
    ScratchDir dir;
    testing::internal::CaptureStdout();
    STOP(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "@");
    EXPECT_EQ(READ_TEXT("msg.txt"), " STOP(): check Morvenda.EXE");

    testing::internal::CaptureStdout();
    STOP(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\a@");
}

TEST(RunClock, SplitsElapsedTimeIntoWholeUnits)
{
    ElapsedTime e = SPLIT_ELAPSED(3600 + 2 * 60 + 5.9);
    EXPECT_EQ(e.hours, 1);
    EXPECT_EQ(e.minutes, 2);
    EXPECT_EQ(e.seconds, 5);

    e = SPLIT_ELAPSED(59.99);
    EXPECT_EQ(e.hours, 0);
    EXPECT_EQ(e.minutes, 0);
    EXPECT_EQ(e.seconds, 59);
}

TEST(RunClock, StampsAndReportsInTheLogFormat)
{
    ScratchDir dir;
    testing::internal::CaptureStdout();
    TIMETAKEN(1);
    std::string start = testing::internal::GetCapturedStdout();
    EXPECT_EQ(start.rfind("\n Morvenda1.1 started: ", 0), 0u);
    EXPECT_EQ(start.size(), std::string("\n Morvenda1.1 started: ").size() + 19 + 1);
    EXPECT_EQ(start.back(), '\n');

    testing::internal::CaptureStdout();
    double e = TIMETAKEN(2);
    std::string end = testing::internal::GetCapturedStdout();
    EXPECT_GE(e, 0.0);
    EXPECT_NE(end.find("\n Morvenda1.0 started    : "), std::string::npos);
    EXPECT_NE(end.find("\n Morvenda1.0 finished   : "), std::string::npos);
    EXPECT_NE(end.find("\n Hours                  : 0"), std::string::npos);
    EXPECT_NE(end.find("\n Minutes                : 0"), std::string::npos);
    EXPECT_NE(end.find("\n Seconds                : "), std::string::npos);

    testing::internal::CaptureStdout();
    EXPECT_EQ(TIMETAKEN(3), 0.0);
    EXPECT_GE(TIMETAKEN(4), 0.0);
    EXPECT_EQ(TIMETAKEN(7), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n TIMETAKEN error\a@");
}
