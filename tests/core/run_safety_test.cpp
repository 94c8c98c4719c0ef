// Whole runs given names and files that would damage something: an output
// named like the bio file or like another output, a second run in the same
// folder, a device or an endless file as input.  Each ends with status 1
// before anything is written, and msg.txt agrees with the status.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/file_faults.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

bool console_has(const std::string& text)
{
    return read_text("console.txt").find(text) != std::string::npos;
}

} // namespace

TEST(RunSafety, OutputsNeverOverwriteTheBioFileOrEachOther)
{
    ScratchDir dir;
    const struct {
        const char* assignments;
        const char* bio;
        const char* message;
    } cases[] = {
        {"polfile=herd.bio analysis=71", "herd.bio", "the pol file name (item 2) \"herd.bio\" is the bio file \"herd.bio\""},
        {"rpofile=./herd.bio analysis=71", "herd.bio", "the rpo file name (item 2) \"./herd.bio\" is the bio file"},
        {"mkvfile=../d/herd.bio", "./herd.bio", "the mkv file name (item 2) \"../d/herd.bio\" is the bio file \"./herd.bio\""}, /* run in d */
        {"rpofile=x.out delfile=./x.out analysis=71", "herd.bio", "the rpo file name (item 2) \"x.out\" and the del file name (item 2) \"./x.out\" are one file"},
        {"mkvfile=h.res resfile=h.res", "herd.bio", "the mkv file name (item 2) \"h.res\" and the res file name (item 2) \"h.res\" are one file"},
        {"resfile=msg.txt", "herd.bio", "the progress file msg.txt \"msg.txt\" and the res file name"},
    };
    const std::string here = dir.path();
    ASSERT_EQ(mkdir("d", 0700), 0);
    for (const auto& c : cases) {
        const bool elsewhere = std::string(c.assignments).find("../d/") != std::string::npos;
        if (elsewhere) {
            ASSERT_EQ(chdir((here + "/d").c_str()), 0);
        }
        make_herd(c.assignments);
        const std::string bio = read_text("herd.bio");
        EXPECT_EQ(run_program(c.bio), 1) << c.assignments;
        EXPECT_TRUE(console_has("\n MAIN: " + std::string(c.message))) << read_text("console.txt");
        EXPECT_EQ(read_text("herd.bio"), bio);
        EXPECT_FALSE(file_exists("x.out") || file_exists("h.res"));
        EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");
        if (elsewhere) {
            ASSERT_EQ(chdir(here.c_str()), 0);
        }
    }
}

TEST(RunSafety, TheProgressFileIsNoBioFile)
{
    ScratchDir dir;
    make_herd("analysis=71");
    ASSERT_EQ(std::rename("herd.bio", "msg.txt"), 0);
    const std::string bio = read_text("msg.txt");
    EXPECT_EQ(run_program("./msg.txt"), 1);
    EXPECT_TRUE(console_has("\n MAIN: the bio file \"./msg.txt\" is the progress file msg.txt"));
    EXPECT_EQ(read_text("msg.txt"), bio);
}

TEST(RunSafety, ASecondRunInTheFolderStopsAtOnce)
{
    ScratchDir dir;
    make_herd("analysis=71");
    write_text("msg.txt", "first run's message");
    const int held = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0); /* as a running run holds it */
    EXPECT_EQ(run_program("herd.bio"), 1);
    close(held);
    EXPECT_TRUE(console_has("\n MAIN: another run is writing in this folder: nothing written"));
    EXPECT_EQ(read_text("msg.txt"), "first run's message");

    /* An output folder held by another run. */
    ASSERT_EQ(mkdir("out", 0700), 0);
    make_herd("analysis=71 polfile=out/h.pol");
    const int out = open("out", O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(out, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(run_program("herd.bio"), 1);
    close(out);
    EXPECT_TRUE(console_has("\n MAIN: another run is writing in the folder of out/h.pol: nothing written"));
    EXPECT_FALSE(file_exists("out/h.pol"));
}

TEST(RunSafety, InputsThatAreNoFilesAreRefused)
{
    ScratchDir dir;
    EXPECT_EQ(run_program("/dev/zero"), 1);
    EXPECT_TRUE(console_has("\n READ_BIO_FILE: /dev/zero: not a regular file"));
    EXPECT_EQ(run_program("."), 1);
    EXPECT_TRUE(console_has("\n READ_BIO_FILE: .: not a regular file"));
    write_text("huge.bio", std::string(5u << 20, '1'));
    EXPECT_EQ(run_program("huge.bio"), 1);
    EXPECT_TRUE(console_has("\n READ_BIO_FILE: huge.bio: larger than"));
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");
}

TEST(RunSafety, AStoredHerdThatCannotBeSavedFailsTheRun)
{
    ScratchDir dir;
    make_herd("policy=KEEPALL analysis=2 writepol=NO writerpo=NO mkvfile=no/such/folder/h.mkv");
    EXPECT_EQ(run_program("herd.bio"), 1);
    EXPECT_TRUE(console_has("\"no/such/folder/h.mkv\" cannot be written: the folder no/such/folder does not exist"));
    EXPECT_NE(read_text("msg.txt"), "32 - EXE completed");

    /* A device as the stored herd is never replaced. */
    make_herd("policy=KEEPALL analysis=1 writepol=NO writerpo=NO mkvfile=/dev/null");
    EXPECT_EQ(run_program("herd.bio"), 1);
    EXPECT_TRUE(console_has("/dev/null") && console_has("not a regular file"));
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}
