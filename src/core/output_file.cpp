/*
** output_file.cpp -- writing a file through a temporary name and a rename,
** and the fast fixed-point conversion of the large files.
**
** The temporary file is created with O_EXCL under a short name of its own
** (".morvenda-<host>-<pid>-<n>.tmp", run/temp_files.h) in the target's
** folder: short, so that a target name at the length limit still leaves
** room; in the same folder, so that the rename is atomic; and with the
** host and process, so that two runs never meet on it and a stopped run's
** leftovers can be told from a live run's.  It takes the mode of the file it replaces (a new
** file gets the usual 0666 less the umask).
**
** commit_later leaves the sync and the rename to a thread of the file's
** own, so that a run goes on computing while the disk writes; the run
** waits for them with FINISH_COMMITS before it ends, and a file that could
** not be saved fails the run then.  Until its rename the target stays as
** it was.
**
** A large file that is replaced is given back to the file system on a
** helper thread: freeing the tens of megabytes of an old rpo or del file
** takes some 8 ms, which the run need not wait for.  The rename itself
** then only drops a name; the helper closes the last handle on the old
** file.
*/
#include "core/output_file.h"

#include "core/output_check.h"
#include "core/temp_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>

namespace {

/* Write buffer: the rpo and del files run to tens of megabytes. */
constexpr std::size_t WRITE_BUFFER = 1 << 20;
/* Attempts at a free temporary name before giving up. */
constexpr int TEMP_ATTEMPTS = 100;
/* An old file from this size on is freed on a helper thread. */
constexpr off_t LARGE_OLD_FILE = 1 << 20;

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string system_error()
{
    return std::strerror(errno);
}

} // namespace

OutputFile::OutputFile(const std::string& name, Links links)
{
    open(name, links);
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::fail(const std::string& why)
{
    error_ = why;
    discard();
    return false;
}

bool OutputFile::open(const std::string& name, Links links)
{
    discard();
    error_.clear();
    replaces_large_ = false;
    if (name.empty() || name.find('\0') != std::string::npos)
        return fail("not a usable file name");

    /* Find the file that is really replaced, and refuse special files. */
    struct stat st {};
    bool exists = false;
    target_ = name;
    if (lstat(name.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode) && links == Links::REFUSE)
            return fail("a symbolic link, which is not written through");
        if (S_ISLNK(st.st_mode)) {
            char* real = realpath(name.c_str(), nullptr);
            if (real == nullptr)
                return fail("a symbolic link that leads to no file");
            target_ = real;
            std::free(real);
            if (stat(target_.c_str(), &st) != 0)
                return fail("a symbolic link that leads to no file");
        }
        if (!S_ISREG(st.st_mode))
            return fail("not a regular file");
        exists = true;
        replaces_large_ = st.st_size >= LARGE_OLD_FILE;
    } else if (errno != ENOENT) {
        return fail(system_error());
    }
    /* /dev/stdout and /proc/self/fd/1 lead to the file the console goes to */
    if (UNDER_SYSTEM_FOLDER(name))
        return fail("a name under /dev or /proc, not a regular file");

    const std::string folder = folder_of(target_);
    /* Threads of one process (the workbench server's) share the count. */
    static std::atomic<unsigned long> serial{0};
    int fd = -1;
    for (int attempt = 0; attempt < TEMP_ATTEMPTS && fd < 0; attempt++) {
        temp_ = folder + "/" + TEMP_NAME_START() + std::to_string(serial++) + TEMP_NAME_END;
        const bool tracked = TEMP_FILE_MADE(temp_);
        fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        const int open_errno = errno;
        if (fd < 0 && tracked)
            TEMP_FILE_GONE(temp_);
        errno = open_errno;
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const std::string why = system_error();
        temp_.clear();
        return fail(why);
    }
    if (exists)
        (void)fchmod(fd, st.st_mode & 07777);
    fp_ = fdopen(fd, "w");
    if (fp_ == nullptr) {
        const std::string why = system_error();
        ::close(fd);
        return fail(why);
    }
    buffer_.resize(WRITE_BUFFER);
    std::setvbuf(fp_, buffer_.data(), _IOFBF, buffer_.size());
    return true;
}

void OutputFile::start_writeback()
{
    if (fp_ != nullptr && std::fflush(fp_) == 0)
        (void)sync_file_range(fileno(fp_), 0, 0, SYNC_FILE_RANGE_WRITE);
}

namespace {

/* Closes the last handle on a replaced file, on a thread of its own. */
void release_in_background(int old)
{
    if (old < 0)
        return;
    try {
        std::thread([old] { ::close(old); }).detach();
    } catch (const std::system_error&) {
        ::close(old);
    }
}

/* Syncs and closes the written temporary file `fd` and renames it over
** `target`, freeing a large old file aside; "" when all went well, else
** the reason, and then the temporary file is gone and the target as it
** was. */
std::string save_file(int fd, const std::string& temp, const std::string& target, bool replaces_large)
{
    std::string why;
    if (fsync(fd) != 0)
        why = system_error();
    if (::close(fd) != 0 && why.empty())
        why = system_error();
    const int old = why.empty() && replaces_large ? ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (why.empty() && std::rename(temp.c_str(), target.c_str()) != 0)
        why = system_error();
    if (why.empty()) {
        release_in_background(old);
    } else {
        if (old >= 0)
            ::close(old);
        std::remove(temp.c_str());
    }
    TEMP_FILE_GONE(temp);
    return why;
}

/* A file whose saving goes on on a thread of its own. */
struct LateCommit {
    std::string label;
    std::string why;
    std::thread thread;
};

/* The saves not yet waited for; any left at exit are waited for then. */
struct LateCommits {
    std::vector<std::unique_ptr<LateCommit>> jobs;
    ~LateCommits()
    {
        for (auto& job : jobs)
            if (job->thread.joinable())
                job->thread.join();
    }
};

LateCommits& late_commits()
{
    static LateCommits commits;
    return commits;
}

} // namespace

int OutputFile::close_stream()
{
    if (fp_ == nullptr) {
        if (error_.empty())
            error_ = "not open";
        return -1;
    }
    int fd = -1;
    if (std::fflush(fp_) != 0 || std::ferror(fp_) != 0 || (fd = dup(fileno(fp_))) < 0)
        error_ = system_error();
    if (std::fclose(fp_) != 0 && fd >= 0) {
        error_ = system_error();
        ::close(fd);
        fd = -1;
    }
    fp_ = nullptr;
    if (fd < 0) {
        std::remove(temp_.c_str());
        TEMP_FILE_GONE(temp_);
        temp_.clear();
    }
    return fd;
}

bool OutputFile::commit()
{
    const int fd = close_stream();
    if (fd < 0)
        return false;
    error_ = save_file(fd, temp_, target_, replaces_large_);
    temp_.clear();
    return error_.empty();
}

bool OutputFile::commit_later(const std::string& label)
{
    const int fd = close_stream();
    if (fd < 0)
        return false;
    std::vector<std::unique_ptr<LateCommit>>& jobs = late_commits().jobs;
    jobs.push_back(std::make_unique<LateCommit>());
    LateCommit* late = jobs.back().get();
    late->label = label;
    try {
        late->thread = std::thread([late, fd, temp = temp_, target = target_, large = replaces_large_] {
            late->why = save_file(fd, temp, target, large);
        });
    } catch (const std::system_error&) {
        /* no thread to be had: save it now */
        jobs.pop_back();
        error_ = save_file(fd, temp_, target_, replaces_large_);
        temp_.clear();
        return error_.empty();
    }
    temp_.clear();
    return true;
}

std::vector<LateFailure> FINISH_COMMITS()
{
    std::vector<LateFailure> failures;
    for (auto& job : late_commits().jobs) {
        job->thread.join();
        if (!job->why.empty())
            failures.push_back({job->label, job->why});
    }
    late_commits().jobs.clear();
    return failures;
}

void OutputFile::discard()
{
    if (fp_ != nullptr) {
        std::fclose(fp_);
        fp_ = nullptr;
    }
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        TEMP_FILE_GONE(temp_);
        temp_.clear();
    }
}

bool SAME_FILE(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    if (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    /* A file still to be made: the same place once links and dots are
    ** resolved as far as the path exists. */
    std::error_code ea, eb;
    const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
    const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
    return !ea && !eb && pa == pb;
}

