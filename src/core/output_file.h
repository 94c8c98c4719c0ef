/*
** output_file.h -- the one way the program writes a file.
**
** Every file a run leaves behind (pol, rpo, del, warm.txt, the stored herd,
** the report) is the input of a later run or of another program, so a
** half-written file must never pass for a whole one.  OutputFile writes
** under a temporary name of its own in the target's folder and, on commit,
** flushes, syncs and renames it over the target: a kill, a full disk or a
** write error at any point leaves the old file whole.  The temporary name
** is unique per process and created exclusively, so two runs never share
** one.  A name that is a symbolic link is written through to the link's
** target, unless the caller refuses links (the workbench server, whose
** files must never lead out of its folder); a name that is not a regular
** file (a folder, a device, a pipe) is refused, so that the rename never
** replaces a special file.
** commit_later lets the caller go on while the disk writes.
*/
#ifndef MORVENDA_CORE_OUTPUT_FILE_H
#define MORVENDA_CORE_OUTPUT_FILE_H

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/huge_pages.h"

class OutputFile {
public:
    /* What a name that is a symbolic link gets: written through to its
    ** target, or refused. */
    enum class Links { FOLLOW, REFUSE };

    OutputFile() = default;
    /* Opens `name` at once; ok() and error() tell how it went. */
    explicit OutputFile(const std::string& name, Links links = Links::FOLLOW);
    /* An uncommitted file is discarded: the target stays as it was. */
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /* Starts writing `name`; false (with error()) when it cannot be. */
    bool open(const std::string& name, Links links = Links::FOLLOW);
    bool ok() const { return fp_ != nullptr; }
    /* The buffered stream to write to while the file is open. */
    std::FILE* fp() const { return fp_; }
    /* Hands what is written so far to the disk without waiting for it, so
    ** that the disk works while the rest of the file is made; commit()
    ** still waits for the whole file. */
    void start_writeback();
    /* Flushes, syncs and renames the new file over the target; false (with
    ** error()) on any failure, and then the target stays as it was. */
    bool commit();
    /* Like commit(), but only the writing out is done here (false, with
    ** error(), when it fails); the sync and the rename go on on a thread
    ** of their own while the caller goes on.  FINISH_COMMITS waits for
    ** them and tells which failed, by `label`. */
    bool commit_later(const std::string& label);
    /* Drops the new file without touching the target. */
    void discard();
    /* Why the last open or commit failed, in words. */
    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& why);
    /* Flushes and closes the stream and returns a descriptor of the file,
    ** or -1 (with error(), the temporary file removed) on failure. */
    int close_stream();

    std::FILE* fp_ = nullptr;
    std::string target_; /* the file that is replaced (a link's target) */
    std::string temp_;
    std::string error_;
    bool replaces_large_ = false; /* the target holds a large old file */
    std::vector<char, HugePageAllocator<char>> buffer_; /* stdio's write buffer */
};

/* A file of commit_later that could not be saved, and why. */
struct LateFailure {
    std::string label;
    std::string why;
};

/* Waits for every commit_later of the process; the files that could not
** be saved (each left as it was before). */
std::vector<LateFailure> FINISH_COMMITS();

/* True when the two names lead to one file, existing or still to be made
** ("./" and "..", symbolic and hard links followed). */
bool SAME_FILE(const std::string& a, const std::string& b);

#endif
