// The output-file helper: a new file replaces the old one whole or not at
// all (kill, full disk), never replaces a special file, writes through a
// link, never shares a temporary file; and its number conversion gives
// printf's text.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "core/number_format.h"
#include "core/output_file.h"
#include "core/temp_files.h"
#include "support/file_faults.h"
#include "support/support.h"

namespace {

/* Writes `text` to `name` through the helper; true when committed. */
bool write_file(const std::string& name, const std::string& text, std::string* error = nullptr)
{
    OutputFile f;
    bool ok = f.open(name);
    if (ok) {
        std::fwrite(text.data(), 1, text.size(), f.fp());
        ok = f.commit();
    }
    if (error != nullptr)
        *error = f.error();
    return ok;
}

} // namespace

TEST(OutputFile, OldFileStaysWholeOnKillOrFullDisk)
{
    ScratchDir dir;
    write_text("herd.pol", "old policy\n");

    /* Killed in the middle of the write. */
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        OutputFile f("herd.pol");
        std::fputs(std::string(3u << 20, 'x').c_str(), f.fp()); /* past the buffer */
        std::fflush(f.fp());
        raise(SIGKILL);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(read_text("herd.pol"), "old policy\n");

    /* The disk fills up. */
    std::string error;
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(write_file("herd.pol", std::string(100000, 'y'), &error));
    }
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(read_text("herd.pol"), "old policy\n");

    /* Dropped before commit. */
    {
        OutputFile f("herd.pol");
        std::fputs("half", f.fp());
    }
    EXPECT_EQ(read_text("herd.pol"), "old policy\n");

    /* Committed: the new text, the old file's mode, nothing else left
    ** behind but the killed child's temporary file. */
    chmod("herd.pol", 0640);
    EXPECT_TRUE(write_file("herd.pol", "new policy\n"));
    EXPECT_EQ(read_text("herd.pol"), "new policy\n");
    struct stat st {};
    stat("herd.pol", &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const auto names = files_in(".");
    ASSERT_EQ(names.size(), 2u);
    const std::string killed = TEMP_NAME_START().substr(0, TEMP_NAME_START().rfind('-', TEMP_NAME_START().size() - 2)) +
                               "-" + std::to_string(child) + "-0.tmp";
    EXPECT_EQ(names[0], killed);

    /* The next writer in the folder sweeps it: its process is gone. */
    EXPECT_EQ(SWEEP_STALE_TEMP_FILES("."), 1);
    EXPECT_EQ(files_in("."), (std::vector<std::string>{"herd.pol"}));
}

TEST(OutputFile, StopSignalsRemoveTheTemporaryFiles)
{
    ScratchDir dir;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            OutputFile first("a.pol"), second("b.pol");
            std::fputs(std::string(3u << 20, 'x').c_str(), first.fp());
            std::fflush(first.fp());
            raise(sig);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << sig;
        EXPECT_EQ(WTERMSIG(status), sig) << "the signal still ends the process";
        EXPECT_TRUE(files_in(".").empty()) << sig;
    }
}

TEST(OutputFile, TheSweepSparesLiveFilesAndOtherHosts)
{
    ScratchDir dir;
    /* a process number that no longer lives */
    const pid_t dead = fork();
    ASSERT_GE(dead, 0);
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string start = TEMP_NAME_START(); /* .morvenda-<host>-<pid>- */
    const std::string host_part = start.substr(0, start.rfind('-', start.size() - 2) + 1);
    const std::string stale = host_part + std::to_string(dead) + "-3.tmp";
    const std::string live = start + "7.tmp";                                  /* this process */
    const std::string parent = host_part + std::to_string(getppid()) + "-0.tmp"; /* a live process */
    const std::string other_host = ".morvenda-elsewhere-" + std::to_string(dead) + "-0.tmp";
    const std::string not_ours = ".morvenda-" + std::to_string(dead) + "-0.tmp";
    for (const std::string& name : {stale, live, parent, other_host, not_ours})
        write_text(name, "x");
    EXPECT_EQ(SWEEP_STALE_TEMP_FILES("."), 1);
    EXPECT_FALSE(file_exists(stale));
    for (const std::string& name : {live, parent, other_host, not_ours})
        EXPECT_TRUE(file_exists(name)) << name;
}

TEST(OutputFile, LinksAreFollowedSpecialFilesRefused)
{
    ScratchDir dir;
    ASSERT_EQ(mkdir("store", 0700), 0);
    write_text("store/herd.mkv", "old\n");
    ASSERT_EQ(symlink("store/herd.mkv", "link.mkv"), 0);
    EXPECT_TRUE(write_file("link.mkv", "new\n"));
    struct stat st {};
    ASSERT_EQ(lstat("link.mkv", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_text("store/herd.mkv"), "new\n");

    std::string error;
    ASSERT_EQ(symlink("nowhere/file", "dangling"), 0);
    EXPECT_FALSE(write_file("dangling", "x", &error));
    EXPECT_EQ(error, "a symbolic link that leads to no file");
    for (const char* special : {"/dev/null", "store", "."}) {
        EXPECT_FALSE(write_file(special, "x", &error)) << special;
        EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    }
    /* the console, reached by name or through a link, is never replaced */
    write_text("console.log", "the log\n");
    const int log = open("console.log", O_WRONLY | O_APPEND);
    ASSERT_GE(log, 0);
    const std::string by_fd = "/proc/self/fd/" + std::to_string(log);
    ASSERT_EQ(symlink(by_fd.c_str(), "out.res"), 0);
    for (const std::string& console : {by_fd, std::string("out.res"), "/dev/fd/" + std::to_string(log)}) {
        EXPECT_FALSE(write_file(console, "x", &error)) << console;
        EXPECT_EQ(error, "a name under /dev or /proc, not a regular file") << console;
    }
    close(log);
    EXPECT_EQ(read_text("console.log"), "the log\n");
    EXPECT_FALSE(write_file("no/such/folder/f", "x", &error));
    EXPECT_FALSE(write_file("", "x", &error));
    EXPECT_FALSE(write_file(std::string("a\0b", 3), "x", &error));
    EXPECT_FALSE(file_exists("a"));
}

TEST(OutputFile, TemporaryNamesAreOwnAndShort)
{
    ScratchDir dir;
    /* Two writers of one file in one process: each its own temporary. */
    OutputFile a("herd.res"), b("herd.res");
    ASSERT_TRUE(a.ok() && b.ok());
    std::fputs("a", a.fp());
    std::fputs("b", b.fp());
    EXPECT_EQ(files_in(".").size(), 2u);
    EXPECT_TRUE(a.commit());
    EXPECT_TRUE(b.commit());
    EXPECT_EQ(read_text("herd.res"), "b");

    /* A name at the length limit still leaves room for the temporary. */
    const std::string longest(255, 'm');
    EXPECT_TRUE(write_file(longest, "stored herd\n"));
    EXPECT_EQ(read_text(longest), "stored herd\n");
}

TEST(OutputFile, ALargeOldFileIsReplacedWholeAndLaterCommitsWaitToBeFinished)
{
    ScratchDir dir;
    /* The old file is freed aside; a second name for it keeps it whole. */
    const std::string old_text(3u << 20, 'o');
    write_text("herd.del", old_text);
    ASSERT_EQ(link("herd.del", "kept.del"), 0);
    EXPECT_TRUE(write_file("herd.del", "new delays\n"));
    EXPECT_EQ(read_text("herd.del"), "new delays\n");
    EXPECT_EQ(read_text("kept.del"), old_text);

    /* Saves left to their threads: the old files until they are done, the
    ** new ones once waited for, no temporary file either way. */
    write_text("herd.rpo", old_text);
    OutputFile rpo("herd.rpo"), pol("herd.pol");
    ASSERT_TRUE(rpo.ok() && pol.ok());
    std::fputs("pay-offs\n", rpo.fp());
    std::fputs("decisions\n", pol.fp());
    rpo.start_writeback();
    EXPECT_TRUE(rpo.commit_later("rpo"));
    EXPECT_TRUE(pol.commit_later("pol"));
    EXPECT_TRUE(FINISH_COMMITS().empty());
    EXPECT_EQ(read_text("herd.rpo"), "pay-offs\n");
    EXPECT_EQ(read_text("herd.pol"), "decisions\n");
    EXPECT_EQ(files_in("."), (std::vector<std::string>{"herd.del", "herd.pol", "herd.rpo", "kept.del"}));
}

TEST(OutputFile, SameFileComparesFilesNotNames)
{
    ScratchDir dir;
    write_text("herd.bio", "x");
    ASSERT_EQ(mkdir("sub", 0700), 0);
    ASSERT_EQ(link("herd.bio", "hard.bio"), 0);
    EXPECT_TRUE(SAME_FILE("herd.bio", "./herd.bio"));
    EXPECT_TRUE(SAME_FILE("herd.bio", "sub/../herd.bio"));
    EXPECT_TRUE(SAME_FILE("herd.bio", dir.path() + "/herd.bio"));
    EXPECT_TRUE(SAME_FILE("herd.bio", "hard.bio"));
    EXPECT_TRUE(SAME_FILE("new.rpo", "./new.rpo")); /* not made yet */
    EXPECT_FALSE(SAME_FILE("new.rpo", "new.del"));
    EXPECT_FALSE(SAME_FILE("herd.bio", "sub/herd.bio"));
}

TEST(OutputFile, FormatFixedIsPrintfsText)
{
    auto check = [](double x, int width, int precision) {
        char want[512], got[512];
        const int n = std::snprintf(want, sizeof want, "%*.*f", width, precision, x);
        const int m = FORMAT_FIXED(got, x, width, precision);
        ASSERT_EQ(std::string(got, static_cast<std::size_t>(m)), std::string(want, static_cast<std::size_t>(n)))
            << x << " " << width << "." << precision;
    };
    /* Ties rounded half to even on the exact binary value, negative zero,
    ** values that round up to a new digit, huge and not-finite values. */
    const double edge[] = {0.0,     -0.0,   0.5,      1.5,     2.5,     -0.5,   -2.5,   0.125,
                           0.375,   -0.125, 1.005,    2.675,   0.045,   -0.004, -0.0049, 9.995,
                           99.995,  999.5,  -999.5,   1e9,     -1e9,    1e15,   1e22,   1e31,
                           -1e300,  5e-324, 0.999999, 30.4,    25.0,    -12345.4, 123456789.125,
                           INFINITY, -INFINITY, NAN, 4503599627370495.5, -4503599627370494.5,
                           4503599627370496.0, 4503599627370497.0, 9007199254740991.0, 9007199254740992.0};
    for (double x : edge)
        for (int p = 0; p <= 6; p++)
            for (int w : {0, 4, 5, 12})
                check(x, w, p);
    /* Values as the files hold them: money, milk per day, masses. */
    std::mt19937_64 gen(11);
    std::uniform_real_distribution<double> money(-5e4, 5e4), small(-1.0, 1.0);
    for (int i = 0; i < 200000; i++) {
        check(money(gen), 4, 0);
        check(money(gen) / 30.4, 5, 2);
        check(small(gen), 0, 6);
        check(std::round(money(gen) * 8) / 8 / 100, 5, 2); /* exact ties */
    }
}
