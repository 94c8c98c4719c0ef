/*
** run_lock.h -- one run at a time in a folder.
**
** Two runs writing the same files (msg.txt and warm.txt live in the working
** folder; the pol, rpo, del, MKV and report files wherever the bio file
** names them) would overwrite each other's results.  A run therefore holds
** an advisory lock on the working folder and on every folder it writes to,
** and a second run that finds one taken says so and ends before writing
** anything.  The locks go with the process, so a killed run leaves none.
*/
#ifndef MORVENDA_RUN_RUN_LOCK_H
#define MORVENDA_RUN_RUN_LOCK_H

#include <string>
#include <vector>

class RunLock {
public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    /* Locks the folder that holds `file` (the file itself need not exist);
    ** a folder already held by this lock, or one that does not exist, is
    ** taken as locked.  False when another run holds it. */
    bool lock_folder_of(const std::string& file);
    /* Locks the working folder. */
    bool lock_working_folder() { return lock_folder_of("msg.txt"); }

private:
    struct Held {
        int fd;
        unsigned long long dev;
        unsigned long long ino;
    };
    std::vector<Held> held_;
};

#endif
