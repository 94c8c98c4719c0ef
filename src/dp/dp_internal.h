/*
** dp_internal.h -- knobs and helpers shared inside the dynamic program and
** with its tests and benchmarks.
**
** The stage limit and the worker count are run settings of the value
** iteration that a normal run never changes: a test lowers the limit to
** reach the not-converged path cheaply, or runs one worker to check that the
** split over two cores leaves every result unchanged.
**
** The files of the dynamic program are written through core/output_file.h,
** their numbers formatted by core/number_format.h.
*/
#ifndef MORVENDA_DP_INTERNAL_H
#define MORVENDA_DP_INTERNAL_H

#include "core/number_format.h"
#include "core/output_file.h"

/* Stage at which the value iteration gives up (10000 in a run). */
void DP_SET_STAGE_LIMIT(int limit);
/* Threads sharing the state loops of a stage and the formatting of the
** rpo and del files (2 in a run; 1 = serial). */
void DP_SET_WORKERS(int workers);
int DP_WORKERS();
/* Stages of the latest DP_POLICY call. */
int DP_STAGES();

#endif
