/*
** temp_files.cpp -- removing temporary files on a stop signal, and
** sweeping those of dead processes.
**
** The signal handler may only make calls that are safe in a handler, so
** the open temporary files are kept in a fixed table of names, each slot
** marked in use by an atomic flag set once its name is whole, and the
** handler only calls
** unlink on the claimed ones before it lets the signal take its usual
** course.  A signal the user has set to be ignored (nohup) stays ignored.
*/
#include "core/temp_files.h"

#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

/* ---- constants -------------------------------------------------------- */

const char* const TEMP_NAME_HEAD = ".morvenda-";
/* Temporary files open at once: a run has at most a handful. */
constexpr int TRACKED_FILES = 64;
/* Characters of the host name kept in a temporary name. */
constexpr std::size_t HOST_NAME_KEPT = 64;
const int STOP_SIGNALS[] = {SIGINT, SIGHUP, SIGTERM};

struct Slot {
    std::atomic<bool> used{false};
    char path[PATH_MAX];
};
Slot slots[TRACKED_FILES];
/* Taken by the writers that claim and give back slots, never by the
** handler, which only reads the flags. */
std::mutex slots_mutex;
std::once_flag handlers_installed;

void remove_and_die(int sig)
{
    for (Slot& slot : slots)
        if (slot.used.load(std::memory_order_acquire))
            (void)unlink(slot.path);
    signal(sig, SIG_DFL);
    raise(sig);
}

void install_handlers()
{
    for (int sig : STOP_SIGNALS) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
            continue; /* ignored or handled by someone else: left so */
        struct sigaction act {};
        act.sa_handler = remove_and_die;
        sigemptyset(&act.sa_mask);
        for (int other : STOP_SIGNALS)
            sigaddset(&act.sa_mask, other);
        (void)sigaction(sig, &act, nullptr);
    }
}

/* This host's name as a temporary name may carry it: letters, digits,
** dots, dashes and underscores. */
std::string host_name()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0')
        std::strcpy(buf, "localhost");
    std::string host(buf, std::min(std::strlen(buf), HOST_NAME_KEPT));
    for (char& ch : host) {
        const bool plain = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                           ch == '.' || ch == '-' || ch == '_';
        if (!plain)
            ch = '_';
    }
    return host;
}

/* The host and process of a temporary name; false when it is not one. */
bool parse_temp_name(const std::string& name, std::string& host, long& pid)
{
    const std::size_t head = std::strlen(TEMP_NAME_HEAD), tail = std::strlen(TEMP_NAME_END);
    if (name.size() <= head + tail || name.compare(0, head, TEMP_NAME_HEAD) != 0 ||
        name.compare(name.size() - tail, tail, TEMP_NAME_END) != 0)
        return false;
    const std::string middle = name.substr(head, name.size() - head - tail); /* host-pid-n */
    const std::size_t serial_dash = middle.rfind('-');
    if (serial_dash == std::string::npos || serial_dash == 0)
        return false;
    const std::size_t pid_dash = middle.rfind('-', serial_dash - 1);
    if (pid_dash == std::string::npos || pid_dash == 0)
        return false;
    const std::string pid_text = middle.substr(pid_dash + 1, serial_dash - pid_dash - 1);
    const std::string serial_text = middle.substr(serial_dash + 1);
    if (pid_text.empty() || serial_text.empty() ||
        pid_text.find_first_not_of("0123456789") != std::string::npos ||
        serial_text.find_first_not_of("0123456789") != std::string::npos || pid_text.size() > 9)
        return false;
    host = middle.substr(0, pid_dash);
    pid = std::strtol(pid_text.c_str(), nullptr, 10);
    return pid > 0;
}

bool process_lives(long pid)
{
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

} // namespace

const std::string& TEMP_NAME_START()
{
    static const std::string start = TEMP_NAME_HEAD + host_name() + "-" + std::to_string(getpid()) + "-";
    return start;
}

bool TEMP_FILE_MADE(const std::string& path)
{
    std::call_once(handlers_installed, install_handlers);
    if (path.size() >= PATH_MAX)
        return false;
    std::lock_guard<std::mutex> hold(slots_mutex);
    for (Slot& slot : slots)
        if (!slot.used.load(std::memory_order_acquire)) {
            /* the name is whole before the handler may look at it */
            std::memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.used.store(true, std::memory_order_release);
            return true;
        }
    return false;
}

void TEMP_FILE_GONE(const std::string& path)
{
    std::lock_guard<std::mutex> hold(slots_mutex);
    for (Slot& slot : slots)
        if (slot.used.load(std::memory_order_acquire) && path == slot.path) {
            slot.used.store(false, std::memory_order_release);
            return;
        }
}

int SWEEP_STALE_TEMP_FILES(const std::string& folder)
{
    namespace fs = std::filesystem;
    const std::string own_host = host_name();
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string host;
        long pid = 0;
        if (!parse_temp_name(it->path().filename().string(), host, pid))
            continue;
        if (host != own_host || pid == static_cast<long>(getpid()) || process_lives(pid))
            continue;
        std::error_code gone;
        if (fs::is_regular_file(it->symlink_status(gone)) && fs::remove(it->path(), gone))
            removed++;
    }
    return removed;
}
