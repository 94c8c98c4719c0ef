// The MKV state file: format, round trip and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <cmath>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "markov/markov.h"
#include "core/records.h"
#include "core/runlog.h"
#include "support/file_faults.h"
#include "support/support.h"

namespace {

std::string CAPTURED(void (*routine)())
{
    capture_console();
    routine();
    return captured_console();
}

/* Runs the reader on a damaged file: the log, and whether the reader
** ended the run with status 1 after a single pause. */
bool READ_ENDS_RUN(std::string& log)
{
    capture_console();
    int status = 0;
    try {
        READ_MKV_FILE();
    } catch (const RunEnded& e) {
        status = e.status;
    }
    log = captured_console();
    return status == 1 && std::count(log.begin(), log.end(), '@') == 1 &&
           log.find("READ_MKV_FILE done") == std::string::npos &&
           log.find("\n READ_MKV_FILE: herd.mkv is damaged: the run ends") != std::string::npos;
}

double SLOT2_MASS()
{
    double sum = 0.0;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    sum += mkv->pstate[c][l][m][p][2];
    for (int a = 0; a < NAGE; a++)
        for (int p = 0; p < NMPREG; p++)
            sum += mkv->pheifer[a][p][2];
    return sum;
}

class MkvFile : public testing::Test {
protected:
    void SetUp() override
    {
        allocate_records();
        capture_console();
        RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
        captured_console();
        bio->start_sea = 4;
        mkvfile = "herd.mkv";
    }
    ScratchDir dir;
};

} // namespace

TEST_F(MkvFile, WritesTheStoredHerdInItsFormat)
{
    mkv->header1 = 1;
    mkv->sea_next = 7;
    mkv->header3 = 0;
    mkv->pstate[2][1][3][0][2] = 0.25;
    mkv->pfs[2][1][3][2] = 0.125;
    mkv->pstate[2][1][5][0][2] = 0.5; /* no unserved part: 0.0 stands there */
    mkv->pdelay[2][1][5][2] = 0.0625;
    mkv->pstate[2][1][9][4][2] = 0.2;
    mkv->pfs[2][1][9][2] = 0.7; /* only open states carry these */
    mkv->pstate[1][1][1][0][2] = -0.1; /* neither zero nor negative is written */
    mkv->pheifer[17][2][2] = 0.03125;
    const std::string log = CAPTURED(WRITE_MKV_FILE);
    EXPECT_EQ(read_text("herd.mkv"),
              "1 7 0\n"
              "2 1 3 0 0.250000000000000 0.125000000000000 0.0\n"
              "2 1 5 0 0.500000000000000 0.0 0.062500000000000\n"
              "2 1 9 4 0.200000000000000 0.0 0.0\n"
              "99\n"
              "17 2 0.031250000000000\n");
    EXPECT_EQ(log, "\n WRITE_MKV_FILE started ... herd.mkv\n WRITE_MKV_FILE done ... cows:0.95000 ");
    EXPECT_FALSE(file_exists("herd.mkv.tmp"));
}

TEST_F(MkvFile, RoundTripKeepsEveryValueToFifteenDecimals)
{
    double v = 0.0;
    for (int c = 1; c <= MAXCURR; c += 2)
        for (int l = 1; l <= MAXLACT; l += 3)
            for (int m = 1; m <= MAXMIM; m += 5)
                for (int p = 0; p <= MAXMPREG; p += 3) {
                    v += 0.0012345678901234567;
                    mkv->pstate[c][l][m][p][2] = v / 7.0;
                    if (p == 0) {
                        mkv->pfs[c][l][m][2] = v / 11.0;
                        mkv->pdelay[c][l][m][2] = v / 13.0;
                    }
                }
    for (int a = 0; a < NAGE; a += 4)
        for (int p = 0; p <= MAXMPREG; p += 4)
            mkv->pheifer[a][p][2] = (a + 1) * 0.001234567890123 + p * 1e-6;
    mkv->header1 = 3;
    mkv->sea_next = 11;
    mkv->header3 = 5;

    static struct {
        decltype(MkvRecord::pstate) pstate;
        decltype(MkvRecord::pfs) pfs;
        decltype(MkvRecord::pdelay) pdelay;
        decltype(MkvRecord::pheifer) pheifer;
    } saved;
    std::memcpy(saved.pstate, mkv->pstate, sizeof saved.pstate);
    std::memcpy(saved.pfs, mkv->pfs, sizeof saved.pfs);
    std::memcpy(saved.pdelay, mkv->pdelay, sizeof saved.pdelay);
    std::memcpy(saved.pheifer, mkv->pheifer, sizeof saved.pheifer);

    CAPTURED(WRITE_MKV_FILE);
    capture_console();
    RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
    captured_console();
    const std::string log = CAPTURED(READ_MKV_FILE);
    EXPECT_EQ(log, "\n READ_MKV_FILE started ... herd.mkv\n READ_MKV_FILE done ...");
    EXPECT_EQ(read_text("msg.txt"), "25 - Reading MKV file");
    EXPECT_EQ(mkv->header1, 3);
    EXPECT_EQ(mkv->header_sea, 11);
    EXPECT_EQ(mkv->header3, 5);

    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    ASSERT_NEAR(mkv->pstate[c][l][m][p][2], saved.pstate[c][l][m][p][2], 5e-16);
                ASSERT_NEAR(mkv->pfs[c][l][m][2], saved.pfs[c][l][m][2], 5e-16);
                ASSERT_NEAR(mkv->pdelay[c][l][m][2], saved.pdelay[c][l][m][2], 5e-16);
            }
    for (int a = 0; a < NAGE; a++)
        for (int p = 0; p < NMPREG; p++)
            ASSERT_NEAR(mkv->pheifer[a][p][2], saved.pheifer[a][p][2], 5e-16);
}

TEST_F(MkvFile, MissingFileStartsAnEmptyHerdAndCreatesTheFile)
{
    mkv->pstate[4][1][2][0][2] = 0.5; /* a herd left from before */
    const std::string log = CAPTURED(READ_MKV_FILE);
    EXPECT_EQ(log,
              "\n READ_MKV_FILE started ... herd.mkv"
              "\n READ_MKV_FILE: herd.mkv open failure: start with empty file\a\a"
              "\n WRITE_MKV_FILE started ... herd.mkv\n WRITE_MKV_FILE done ... cows:0.00000 "
              "\n READ_MKV_FILE done ...");
    EXPECT_EQ(read_text("msg.txt"), "25 - MKV file not found, creating new file");
    EXPECT_EQ(read_text("herd.mkv"), "1 4 0\n99\n");
    EXPECT_EQ(SLOT2_MASS(), 0.0);
    EXPECT_EQ(mkv->header1, 1);
    EXPECT_EQ(mkv->header_sea, 4);
    EXPECT_EQ(mkv->header3, 0);
}

TEST_F(MkvFile, HeaderAndTerminatorOnlyIsAnEmptyHerd)
{
    mkv->pstate[4][1][2][0][2] = 0.5;
    write_text("herd.mkv", "2 9 1\n99\n");
    const std::string log = CAPTURED(READ_MKV_FILE);
    EXPECT_EQ(log.find("@"), std::string::npos);
    EXPECT_EQ(SLOT2_MASS(), 0.0);
    EXPECT_EQ(mkv->header_sea, 9);
}

TEST_F(MkvFile, BadLinesAreReportedAndEndTheRun)
{
    write_text("herd.mkv",
               "1 4 0\n"
               "16 1 1 0 0.5 0.0 0.0\n"  /* class out of range */
               "3 -1 2 0 0.5 0.0 0.0\n"  /* negative lactation */
               "3 12 2 0 0.125 0.0 0.0\n" /* above maxlact but accepted */
               "3 1 4 0 nan 0.0 0.0\n"
               "3 1 5 0 -0.25 0.0 0.0\n"
               "3 1 6 0 0.25 inf 0.0\n"
               "3 1 7 0 0.25 0.125\n"    /* a field short */
               "3 1 8 2 0.0625 0.0 0.0\n"
               "\n"
               "99\n"
               "31 0 0.5\n"
               "12 10 0.5\n"
               "12 0 x\n"
               "12 0 0.25\n");
    std::string log;
    EXPECT_TRUE(READ_ENDS_RUN(log)) << log;
    EXPECT_NE(log.find("\n curr:16 lact:1 mim:1 mpreg:0: herd.mkv line 2: a cow state outside"), std::string::npos);
    EXPECT_NE(log.find("\n curr:3 lact:65535 mim:2 mpreg:0: herd.mkv line 3:"), std::string::npos);
    EXPECT_NE(log.find("herd.mkv line 5: probability"), std::string::npos);
    EXPECT_NE(log.find("herd.mkv line 6: probability"), std::string::npos);
    EXPECT_NE(log.find("herd.mkv line 7: probability"), std::string::npos);
    EXPECT_NE(log.find("herd.mkv line 8:"), std::string::npos);
    EXPECT_NE(log.find("\n age:31 mpreg:0: herd.mkv line 12:"), std::string::npos);
    EXPECT_NE(log.find("\n age:12 mpreg:10: herd.mkv line 13:"), std::string::npos);
    EXPECT_NE(log.find("herd.mkv line 14:"), std::string::npos);
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");

    /* Each kind of damage alone ends the run too: a share of 5, a
    ** lactation of 13, a garbage last line. */
    for (const char* text : {"1 4 0\n3 1 4 0 5 0.0 0.0\n99\n", "1 4 0\n3 13 4 0 0.5 0.0 0.0\n99\n",
                             "1 4 0\n3 1 4 0 0.5 0.0 0.0\n99\n0 0 0.5\n#garbage"}) {
        write_text("herd.mkv", text);
        EXPECT_TRUE(READ_ENDS_RUN(log)) << text << log;
    }
}

TEST_F(MkvFile, EarlyEndOfFileEndsTheRunNamingTheFile)
{
    write_text("herd.mkv", "1 4 0\n3 1 8 0 0.5 0.25 0.125\n3 1 9 0 0.25 0.0 0.0");
    std::string log;
    EXPECT_TRUE(READ_ENDS_RUN(log)) << log;
    EXPECT_NE(log.find("\n error EOF: herd.mkv ends at line 4, before the line 99"), std::string::npos) << log;
    /* the last line without its line end is still read */
    EXPECT_EQ(mkv->pstate[3][1][9][0][2], 0.25);
}

TEST_F(MkvFile, FailedWriteEndsTheRunAndLeavesNoHalfFile)
{
    auto write_ended = [](std::string& log) {
        capture_console();
        int status = 0;
        try {
            WRITE_MKV_FILE();
        } catch (const RunEnded& e) {
            status = e.status;
        }
        log = captured_console();
        return status == 1 && log.find("WRITE_MKV_FILE done") == std::string::npos;
    };
    std::string log;
    /* The file name is a directory: never replaced. */
    ASSERT_EQ(mkdir("herd.mkv", 0755), 0);
    mkv->pstate[2][1][3][0][2] = 0.25;
    EXPECT_TRUE(write_ended(log));
    EXPECT_NE(log.find("\n WRITE_MKV_FILE: herd.mkv open failure (not a regular file)"), std::string::npos);
    rmdir("herd.mkv");

    /* A full disk: the old herd stays whole, no temporary file is left. */
    write_text("herd.mkv", "old herd\n");
    for (int m = 1; m <= 24; m++)
        for (int l = 1; l <= 12; l++)
            mkv->pstate[2][l][m][0][2] = 0.001;
    {
        FileSizeLimit limit(4096); /* the console capture stays below it */
        EXPECT_TRUE(write_ended(log));
    }
    EXPECT_NE(log.find("\n WRITE_MKV_FILE: herd.mkv write error"), std::string::npos);
    EXPECT_EQ(read_text("herd.mkv"), "old herd\n");
    for (const std::string& name : files_in("."))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;

    /* A herd that holds values that are not numbers is not stored. */
    mkv->pstate[2][1][4][0][2] = INFINITY;
    EXPECT_TRUE(write_ended(log));
    EXPECT_NE(log.find("the herd holds values that are not numbers"), std::string::npos);
    EXPECT_EQ(read_text("herd.mkv"), "old herd\n");
    mkv->pstate[2][1][4][0][2] = 0.0;

    /* A directory that does not exist, or a name with the temporary
    ** suffix pushing it past the limit: the run ends, naming the file. */
    mkvfile = "no_such_dir/herd.mkv";
    EXPECT_TRUE(write_ended(log));
    EXPECT_NE(log.find("\n WRITE_MKV_FILE: no_such_dir/herd.mkv open failure"), std::string::npos);
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");
    mkvfile = std::string(254, 'h');
    EXPECT_FALSE(write_ended(log)) << log;
    EXPECT_TRUE(file_exists(mkvfile));
}

TEST_F(MkvFile, ReaderTakesOnlyWhatTheWriterWrites)
{
    /* A mass above 1 is no share of a herd place; many bad lines pause once. */
    std::string text = "1 4 0\n3 1 4 0 1e308 0.0 0.0\n3 1 5 0 0.5 2 0.0\n";
    for (int i = 0; i < 5000; i++)
        text += "16 1 1 0 0.5 0.0 0.0\n";
    write_text("herd.mkv", text + "99\n");
    std::string log;
    EXPECT_TRUE(READ_ENDS_RUN(log));
    EXPECT_NE(log.find("herd.mkv line 2: probability is not a number in 0..1"), std::string::npos);
    EXPECT_NE(log.find("herd.mkv line 3: probability"), std::string::npos);
    EXPECT_NE(log.find("\n READ_MKV_FILE: herd.mkv: 4992 more lines left out\n READ_MKV_FILE: herd.mkv is damaged"), std::string::npos);
    EXPECT_EQ(std::count(log.begin(), log.end(), '@'), 1);

    /* Devices, folders and oversized files are refused. */
    for (const std::string& name : {std::string("/dev/zero"), std::string(".")}) {
        mkvfile = name;
        capture_console();
        EXPECT_THROW(READ_MKV_FILE(), RunEnded);
        EXPECT_NE(captured_console().find(name + ": not a regular file"), std::string::npos);
    }
}

TEST_F(MkvFile, EmptyFileOrUnreadableHeaderEndsTheRun)
{
    write_text("herd.mkv", "");
    std::string log;
    EXPECT_TRUE(READ_ENDS_RUN(log));
    EXPECT_EQ(log, "\n READ_MKV_FILE started ... herd.mkv\n error EOF: herd.mkv ends at line 1, before the "
                   "line 99 that ends the cow states\n READ_MKV_FILE: herd.mkv is damaged: the run ends\a@");

    write_text("herd.mkv", "Morvenda herd\n3 1 8 0 0.5 0.0 0.0\n99\n");
    EXPECT_TRUE(READ_ENDS_RUN(log));
    EXPECT_NE(log.find("\n READ_MKV_FILE: herd.mkv line 1: header"), std::string::npos);
}

TEST_F(MkvFile, TheCheckBeforeWritingAgreesWithTheReaderAndStoresNothing)
{
    std::string log;
    mkvfile = "absent.mkv";
    EXPECT_TRUE(MKV_FILE_IS_WHOLE()); /* a new herd */
    mkvfile = "herd.mkv";
    write_text("herd.mkv", "1 4 0\n3 1 8 0 0.5 0.25 0.125\n99\n12 0 0.25\n");
    capture_console();
    EXPECT_TRUE(MKV_FILE_IS_WHOLE());
    EXPECT_EQ(captured_console(), "");
    EXPECT_EQ(SLOT2_MASS(), 0.0);
    for (const char* damaged : {"", "1 4 0\n3 1 8 0 0.5 0.25 0.125\n", "1 4 0\n3 1 8 0 1.5 0.0 0.0\n99\n",
                                "1 4 0\n99\n12 0 x\n", "x\n99\n"}) {
        write_text("herd.mkv", damaged);
        capture_console();
        EXPECT_FALSE(MKV_FILE_IS_WHOLE()) << damaged;
        EXPECT_EQ(captured_console(), "") << "the check says nothing";
        EXPECT_EQ(read_text("msg.txt"), "") << "nor pauses";
        EXPECT_TRUE(READ_ENDS_RUN(log)) << damaged;
        write_text("msg.txt", "");
    }
}
