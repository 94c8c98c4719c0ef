/*
** bench_support.h -- the set-up the benchmarks share: a scratch folder and
** the example herd read, derived and ready for the solver.
*/
#ifndef MORVENDA_BENCH_SUPPORT_H
#define MORVENDA_BENCH_SUPPORT_H

/* Moves into a new folder under /tmp, so that msg.txt and the files a
** benchmark writes stay out of the source tree. */
void enter_scratch_folder(const char* bench);

/* Reads examples/<file>, derives its transitions and allocates the records
** of the solver (cold start); ends the process with a message when the
** file cannot be read. */
void load_example_herd(const char* file, const char* bench);

#endif
