/*
** run_lock.cpp -- advisory locks on the folders a run writes to.
**
** flock on the folder itself: nothing is created, and the lock is released
** by the kernel when the process ends however it ends.
*/
#include "core/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

RunLock::~RunLock()
{
    for (const Held& h : held_)
        ::close(h.fd);
}

bool RunLock::lock_folder_of(const std::string& file)
{
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true; /* nothing there to share: the write itself will fail */
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    for (const Held& h : held_)
        if (h.dev == st.st_dev && h.ino == st.st_ino) {
            ::close(fd);
            return true;
        }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    held_.push_back({fd, static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)});
    return true;
}
