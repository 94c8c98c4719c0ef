// Whole runs that cannot finish: a damaged stored herd, a pol file of
// another herd, an output that cannot be written.  Each ends with status 1,
// and the ones that can be known before writing leave every file as it was.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "core/temp_files.h"
#include "support/bio_text.h"
#include "support/support.h"

namespace {

bool console_has(const std::string& text)
{
    return read_text("console.txt").find(text) != std::string::npos;
}

const char* const STOPPED = " STOP(): check Morvenda.EXE";

int temporary_files()
{
    int n = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        n += entry.path().filename().string().rfind(".morvenda-", 0) == 0 ? 1 : 0;
    return n;
}

} // namespace

TEST(RunChecks, ADamagedStoredHerdEndsTheRun)
{
    ScratchDir dir;
    /* a whole stored herd to damage */
    make_herd("policy=KEEPALL analysis=1 writepol=NO writerpo=NO");
    ASSERT_EQ(run_program("herd.bio"), 0) << read_text("console.txt");
    const std::string herd = read_text("holstein.mkv");
    ASSERT_GT(herd.size(), 1000u);

    const std::string cut = herd.substr(0, herd.size() / 2);
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {cut.substr(0, cut.rfind('\n') + 1), "\n error EOF: holstein.mkv ends at line"},
        {"", "\n error EOF: holstein.mkv ends at line 1"},
        {"1 4 0\n3 1 8 0 5 0.0 0.0\n99\n", "holstein.mkv line 2: probability is not a number in 0..1"},
        {"1 4 0\n3 13 8 0 0.5 0.0 0.0\n99\n", "\n curr:3 lact:13 mim:8 mpreg:0: holstein.mkv line 2"},
        {herd + "garbage\n", "not a young-stock class"},
    };
    make_herd("policy=KEEPALL analysis=2 writepol=YES writerpo=YES");
    for (const auto& c : cases) {
        write_text("holstein.mkv", c.text);
        EXPECT_EQ(run_program("herd.bio"), 1) << c.message;
        EXPECT_TRUE(console_has(c.message)) << read_text("console.txt").substr(0, 3000);
        EXPECT_TRUE(console_has("\n READ_MKV_FILE: holstein.mkv is damaged: the run ends"));
        EXPECT_FALSE(console_has("MARKOV_CHAIN_STATS")) << "no projection from a damaged herd";
        EXPECT_EQ(read_text("msg.txt"), STOPPED);
        EXPECT_EQ(read_text("holstein.mkv"), c.text) << "the stored herd is left as it was";
        EXPECT_FALSE(console_has("DP_POLICY")) << "found before the solve";
        EXPECT_FALSE(file_exists("holstein.pol") || file_exists("holstein.rpo") || file_exists("holstein.del"));
    }
    /* analysis 1 reads the stored herd too */
    make_herd("policy=KEEPALL analysis=1 writepol=NO writerpo=NO");
    EXPECT_EQ(run_program("herd.bio"), 1);
    EXPECT_TRUE(console_has("\n READ_MKV_FILE: holstein.mkv is damaged: the run ends"));
}

TEST(RunChecks, APolFileOfAnotherHerdIsRefusedBeforeAnyFileIsWritten)
{
    ScratchDir dir;
    /* the decisions of a herd of three lactations */
    make_herd("policy=KEEPALL analysis=71 maxlact=3 writerpo=NO");
    ASSERT_EQ(run_program("herd.bio"), 0) << read_text("console.txt");
    ASSERT_EQ(std::rename("holstein.pol", "other.pol"), 0);
    const std::string other = read_text("other.pol");

    make_herd("policy=USE_POL polfile=other.pol analysis=2 writepol=YES writerpo=YES");
    write_text("holstein.rpo", "old rpo");
    EXPECT_EQ(run_program("herd.bio"), 1);
    EXPECT_TRUE(console_has("\n MAIN: the pol file other.pol does not fit this herd (t=1 curr:1 lact:4 mim:"))
        << read_text("console.txt").substr(0, 3000);
    EXPECT_FALSE(console_has("decision error"));
    EXPECT_EQ(read_text("other.pol"), other);
    EXPECT_EQ(read_text("holstein.rpo"), "old rpo");
    EXPECT_FALSE(file_exists("holstein.del") || file_exists("holstein.mkv") || file_exists("holstein.res"));
    EXPECT_EQ(read_text("msg.txt"), STOPPED);

    /* analysis 71 projects nothing: the decisions it lacks are not needed */
    make_herd("policy=USE_POL polfile=other.pol analysis=71 writepol=NO writerpo=NO");
    EXPECT_EQ(run_program("herd.bio"), 0);
}

TEST(RunChecks, OutputsThatCannotBeWrittenAreFoundBeforeAnyIsWritten)
{
    ScratchDir dir;
    const std::string long_part(300, 'n');
    const struct {
        std::string assignments;
        std::string message;
    } cases[] = {
        {"mkvfile=no/such/folder/h.mkv",
         "the mkv file name (item 2) \"no/such/folder/h.mkv\" cannot be written: the folder no/such/folder does not exist"},
        {"resfile=" + long_part + ".res", "cannot be written: a part of the name is longer than 255 characters"},
        {"resfile=/dev/stdout", "\"/dev/stdout\" cannot be written: a name under /dev or /proc"},
        {"resfile=/proc/self/fd/1", "cannot be written: a name under /dev or /proc"},
        {"resfile=afolder", "\"afolder\" cannot be written: not a regular file"},
    };
    ASSERT_EQ(mkdir("afolder", 0700), 0);
    for (const auto& c : cases) {
        make_herd("policy=KEEPALL analysis=2 writepol=YES writerpo=YES " + c.assignments);
        EXPECT_EQ(run_program("herd.bio"), 1) << c.assignments;
        EXPECT_TRUE(console_has("\n MAIN: ") && console_has(c.message)) << read_text("console.txt").substr(0, 2000);
        EXPECT_FALSE(file_exists("holstein.pol") || file_exists("holstein.rpo") || file_exists("holstein.del"));
        EXPECT_EQ(read_text("msg.txt"), STOPPED);
    }
    /* console output sent to a file through /dev/stdout is left alone */
    EXPECT_EQ(read_text("console.txt").find("month"), std::string::npos);

    /* msg.txt is rewritten in place, not replaced: a link to a device is
    ** the user's way of not keeping it */
    std::remove("msg.txt");
    ASSERT_EQ(symlink("/dev/null", "msg.txt"), 0);
    make_herd("policy=KEEPALL analysis=71 writepol=NO writerpo=NO");
    EXPECT_EQ(run_program("herd.bio"), 0) << read_text("console.txt").substr(0, 2000);
}

TEST(RunChecks, TemporaryFilesOfAStoppedRunAreRemovedOrSwept)
{
    ScratchDir dir;
    make_herd("analysis=71 writepol=YES writerpo=YES");
    /* stopped while it writes: SIGTERM removes what it has open */
    const pid_t run = fork();
    ASSERT_GE(run, 0);
    if (run == 0) {
        if (std::freopen("console.txt", "w", stdout) == nullptr || std::freopen("/dev/null", "r", stdin) == nullptr)
            _exit(127);
        execl(MORVENDA_BINARY, MORVENDA_BINARY, "herd.bio", static_cast<char*>(nullptr));
        _exit(127);
    }
    bool seen = false;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!seen && std::chrono::steady_clock::now() < give_up && waitpid(run, nullptr, WNOHANG) == 0) {
        seen = temporary_files() > 0;
        if (!seen)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (seen)
        kill(run, SIGTERM);
    int status = 0;
    waitpid(run, &status, 0);
    ASSERT_TRUE(seen) << "the run wrote no file";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(temporary_files(), 0);

    /* killed outright: the next run sweeps this host's dead leftovers and
    ** leaves another host's alone */
    const pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string start = TEMP_NAME_START();
    const std::string stale = start.substr(0, start.rfind('-', start.size() - 2) + 1) + std::to_string(dead) + "-0.tmp";
    write_text(stale, std::string(1000, 'x'));
    write_text(".morvenda-another.host-" + std::to_string(dead) + "-0.tmp", "x");
    make_herd("policy=KEEPALL analysis=71 writepol=NO writerpo=NO");
    EXPECT_EQ(run_program("herd.bio"), 0);
    EXPECT_FALSE(file_exists(stale));
    EXPECT_EQ(temporary_files(), 1);
}
