// Progress messages, the STOP pause and the run clock.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "core/runlog.h"
#include "support/support.h"

TEST(ProgressFile, EveryCodeWritesItsMessageWithoutLineEnd)
{
    ScratchDir dir;
    struct Case {
        unsigned code;
        double value;
        const char* text;
    } cases[] = {
        {MSG_NO_BIO_FILE, 0, "2 - No BIO file found"},
        {MSG_INIT_STARTED, 0, "3 - Initialization started"},
        {MSG_BIO_OPEN_FAILURE, 0, "6 - BIO file open failure"},
        {MSG_DP_STARTED, 0, "17 - Dynamic programming (DP) started"},
        {MSG_DP_CONVERGENCE, 0.0000123, "18 - DP convergence: 0.0000123"},
        {MSG_DP_FAILED, 0, "19 - DP convergence failed"},
        {MSG_DP_CONVERGED, 1234.567, "20 - DP converged, profit:1234.57"},
        {MSG_CHAIN_STARTED, 0, "24 - Markov chain started"},
        {MSG_CHAIN_CONVERGENCE, 0.0000123, "28 - Markov chain convergence: 0.0000123"},
        {MSG_CHAIN_STATISTICS, 0, "30 - Markov chain statistics"},
        {MSG_WRITING_RPO, 49.6, "22 - Writing RPO file: 50% completed"},
        {MSG_WRITING_DEL, 100, "23 - Writing DEL file: 100% completed"},
        {MSG_COMPLETED, 0, "32 - EXE completed"},
        {MSG_CHAIN_FAILED, 0, "29 - Markov chain convergence failed: 0.000000"},
        {MSG_NO_MKV_FILE, 0, "25 - MKV file not found, creating new file"},
        {MSG_CHAIN_COLLECTING, 12.4, "27 - Markov chain collecting data: 12% completed"},
        {MSG_WRITING_POL, 4.17, "21 - Writing POL file: 4% completed"},
        {MSG_READING_POL, 8.33, "16 - Read POL file: 8% completed"},
        {MSG_RESET_MKV_PROGRESS, 40, "26 - Reset mkv-record: 40% completed"},
        {MSG_BIO_PROBABILITIES, 0, "7 - Calculate bio probabilities"},
        {MSG_BIO_PROBABILITIES_PROGRESS, 49.6, "8 - Calculate bio probabilities: 50% completed"},
        {MSG_RESET_BIO, 0, "4 - Reset bio-record"},
        {MSG_READ_BIO, 0, "5 - Read BIO file"},
        {MSG_RESET_FUT, 0, "9 - Reset fut-record"},
        {MSG_RESET_POL, 0, "10 - Reset pol-record"},
        {MSG_RESET_RPO, 0, "11 - Reset rpo-record"},
        {MSG_RESET_INS, 0, "12 - Reset ins-record"},
        {MSG_RESET_DEL, 0, "13 - Reset del-record"},
        {MSG_RESET_MKV, 0, "14 - Reset mkv-record"},
        {MSG_RESET_COW, 0, "15 - Reset cow-record"},
        {MSG_READING_MKV, 0, "25 - Reading MKV file"},
        {MSG_WRITING_RES, 0, "31 - Writing RES file"},
        {MSG_STOP, 0, " STOP(): check Morvenda.EXE"},
    };
    for (const Case& c : cases) {
        WRITE_MSG_FILE(c.code, c.value);
        EXPECT_EQ(read_text("msg.txt"), c.text) << "code " << c.code;
    }
}

TEST(ProgressFile, CodesOutsideTheTableAreUnknown)
{
    ScratchDir dir;
    const unsigned unknown[] = {0, 1, 33, 39, 47, 49, 52, 60, 98, 100, 124, 126, 1000, 65535};
    for (unsigned code : unknown) {
        WRITE_MSG_FILE(code, 3.0);
        EXPECT_EQ(read_text("msg.txt"), "Unknown message") << "code " << code;
    }
}

TEST(ProgressFile, KeepsOnlyTheLatestMessage)
{
    ScratchDir dir;
    WRITE_MSG_FILE(MSG_CHAIN_STARTED);
    WRITE_MSG_FILE(MSG_COMPLETED);
    EXPECT_EQ(read_text("msg.txt"), "32 - EXE completed");
}

TEST(ProgressFile, FollowsTheWorkingFolderAndAReplacedOrRemovedFile)
{
    ScratchDir outer;
    WRITE_MSG_FILE(MSG_CHAIN_STARTED);
    {
        ScratchDir inner;
        WRITE_MSG_FILE(MSG_COMPLETED);
        EXPECT_EQ(read_text("msg.txt"), "32 - EXE completed");
    }
    EXPECT_EQ(read_text("msg.txt"), "24 - Markov chain started");
    WRITE_MSG_FILE(MSG_RESET_BIO);
    EXPECT_EQ(read_text("msg.txt"), "4 - Reset bio-record");

    /* a poller that renames a file of its own over msg.txt, or removes it */
    write_text("other.txt", "left by another program");
    ASSERT_EQ(std::rename("other.txt", "msg.txt"), 0);
    WRITE_MSG_FILE(MSG_RESET_FUT);
    EXPECT_EQ(read_text("msg.txt"), "9 - Reset fut-record");
    ASSERT_EQ(std::remove("msg.txt"), 0);
    WRITE_MSG_FILE(MSG_RESET_POL);
    EXPECT_EQ(read_text("msg.txt"), "10 - Reset pol-record");
}

TEST(ProgressFile, APipeWithNoReaderIsAnOpenFailureNotAHang)
{
    ScratchDir dir;
    ASSERT_EQ(mkfifo("msg.txt", 0600), 0);
    capture_console();
    WRITE_MSG_FILE(MSG_COMPLETED);
    EXPECT_EQ(captured_console(), "\n WRITE_MSG_FILE open failure");
}

TEST(StopPause, ReturnsAtOnceWithClosedInputAndRingsCountBells)
{
    ScratchDir dir;
    capture_console();
    STOP(0);
    EXPECT_EQ(captured_console(), "@");
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");

    capture_console();
    STOP(1);
    EXPECT_EQ(captured_console(), "\a@");
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
    capture_console();
    TIMETAKEN(1);
    std::string start = captured_console();
    EXPECT_EQ(start.rfind("\n Morvenda1.1 started: ", 0), 0u);
    EXPECT_EQ(start.size(), std::string("\n Morvenda1.1 started: ").size() + 19 + 1);
    EXPECT_EQ(start.back(), '\n');

    capture_console();
    double e = TIMETAKEN(2);
    std::string end = captured_console();
    EXPECT_GE(e, 0.0);
    EXPECT_NE(end.find("\n Morvenda1.0 started    : "), std::string::npos);
    EXPECT_NE(end.find("\n Morvenda1.0 finished   : "), std::string::npos);
    EXPECT_NE(end.find("\n Hours                  : 0"), std::string::npos);
    EXPECT_NE(end.find("\n Minutes                : 0"), std::string::npos);
    EXPECT_NE(end.find("\n Seconds                : "), std::string::npos);

    capture_console();
    EXPECT_EQ(TIMETAKEN(3), 0.0);
    EXPECT_GE(TIMETAKEN(4), 0.0);
    EXPECT_EQ(TIMETAKEN(7), 0.0);
    EXPECT_EQ(captured_console(), "\n TIMETAKEN error\a@");
}

// The one way to give up and the one way to warn: the line (with or without
// a routine's name), the pause, and only FAIL_RUN ends the run with status 1.
TEST(ErrorRoutines, LinePauseAndEnd)
{
    ScratchDir dir;
    capture_console();
    WARN_RUN("READ_X", "%s line %d bad", "x.txt", 7);
    EXPECT_EQ(captured_console(), "\n READ_X: x.txt line 7 bad\a@");
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");

    capture_console();
    int status = -1;
    try {
        FAIL_RUN(nullptr, "\n bio->lbm:%d error", 30);
    } catch (const RunEnded& e) {
        status = e.status;
    }
    EXPECT_EQ(captured_console(), "\n bio->lbm:30 error\a@");
    EXPECT_EQ(status, 1);
}

// A progress code is the number its message shows, so the program and the
// programs that poll msg.txt count alike; codes are unique. The two texts
// that share 25 and the pause are the documented exceptions.
TEST(ProgressFile, CodesAreTheNumbersTheirTextsShow)
{
    std::set<unsigned> seen;
    for (unsigned i = 0; i < PROGRESS_MESSAGE_COUNT; i++) {
        const ProgressMessage& m = PROGRESS_MESSAGES[i];
        EXPECT_TRUE(seen.insert(m.code).second) << m.code;
        if (m.code == MSG_STOP || m.code == MSG_NO_MKV_FILE)
            continue;
        EXPECT_EQ(std::strtoul(m.format, nullptr, 10), m.code) << m.format;
    }
    EXPECT_EQ(std::strtoul(MSG_TEXT(MSG_NO_MKV_FILE, 0).c_str(), nullptr, 10), 25u);
}
