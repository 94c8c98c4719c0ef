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
**
** FORMAT_FIXED is printf's "%w.pf" without stdio's per-call cost, for the
** writers of large files.
*/
#ifndef MORVENDA_RUN_OUTPUT_FILE_H
#define MORVENDA_RUN_OUTPUT_FILE_H

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "run/huge_pages.h"

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

/* The fixed-width "%w.pf" conversion of printf, written at `out` (room for
** 400 characters; no terminating zero); returns the number of characters.
** Same text as printf, ties and negative zero included, only faster. */
int FORMAT_FIXED(char* out, double x, int width, int precision);

/* Values FORMAT_WHOLE takes: sizes below 2^53 (every double from there on
** is whole already, and a NaN fails the comparison). */
constexpr double FORMAT_WHOLE_LIMIT = 9007199254740992.0;

/* Pairs of decimal digits 00..99, for writing two digits at a time. */
inline constexpr char DIGIT_PAIRS[] = "00010203040506070809101112131415161718192021222324"
                                      "25262728293031323334353637383940414243444546474849"
                                      "50515253545556575859606162636465666768697071727374"
                                      "75767778798081828384858687888990919293949596979899";

/* "%w.0f" of a value of size below FORMAT_WHOLE_LIMIT, the case of most
** numbers in the large files, inline: the value rounded to the nearest
** whole number, half to even on its exact binary value as printf does; a
** value that rounds to zero keeps its sign ("-0"). */
inline int FORMAT_WHOLE(char* out, double x, int width)
{
    /* Adding and taking away 2^52 leaves a size below 2^52 rounded to a
    ** whole number, ties to even (the spacing of doubles there is 1);
    ** from 2^52 on a double is whole already. */
    constexpr double TWO_TO_52 = 4503599627370496.0;
    const double size = std::fabs(x);
    const double rounded = size < TWO_TO_52 ? (size + TWO_TO_52) - TWO_TO_52 : size;
    unsigned long long v = static_cast<unsigned long long>(rounded);
    int digits = 1;
    for (unsigned long long rest = v; rest >= 10; rest /= 10)
        digits++;
    const int sign = std::signbit(x) ? 1 : 0;
    const int pad = width > digits + sign ? width - digits - sign : 0;
    /* written in place, right to left: building the text elsewhere and
    ** copying it stalls on reading back bytes just stored */
    for (int i = 0; i < pad; i++)
        out[i] = ' ';
    if (sign)
        out[pad] = '-';
    char* end = out + pad + sign + digits;
    while (v >= 100) {
        const unsigned pair = static_cast<unsigned>(v % 100) * 2;
        v /= 100;
        *--end = DIGIT_PAIRS[pair + 1];
        *--end = DIGIT_PAIRS[pair];
    }
    if (v >= 10) {
        *--end = DIGIT_PAIRS[v * 2 + 1];
        *--end = DIGIT_PAIRS[v * 2];
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return pad + sign + digits;
}

#endif
