/*
** dp_internal.h -- knobs and helpers shared inside the dynamic program and
** with its tests and benchmarks.
**
** The stage limit and the worker count are run settings of the value
** iteration that a normal run never changes: a test lowers the limit to
** reach the not-converged path cheaply, or runs one worker to check that the
** split over two cores leaves every result unchanged.
**
** OutFile is the output-file holder of the pol, rpo, del and warm files: a
** large write buffer, and a close that reports whether every byte reached
** the file.
*/
#ifndef MORVENDA_DP_INTERNAL_H
#define MORVENDA_DP_INTERNAL_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

/* Stage at which the value iteration gives up (10000 in a run). */
void DP_SET_STAGE_LIMIT(int limit);
/* Threads sharing the state loops of a stage (2 in a run; 1 = serial). */
void DP_SET_WORKERS(int workers);
/* Stages of the latest DP_POLICY call. */
int DP_STAGES();

/* The fixed-width "%w.pf" conversion of printf, written at `out` (room for
** 400 characters; no terminating zero); returns the number of characters.
** Same text as printf, only faster. */
int FORMAT_FIXED(char* out, double x, int width, int precision);

class OutFile {
public:
    /* Opens `name` for writing; ok() tells whether it opened. */
    explicit OutFile(const std::string& name);
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    bool ok() const { return fp_ != nullptr; }
    std::FILE* fp() const { return fp_; }
    /* Flushes and closes; false when any write or the close failed. */
    bool close();

private:
    std::FILE* fp_;
    std::vector<char> buffer_;
};

#endif
