/*
** stats_test_util.h -- a hand-made projection for the statistics tests.
**
** The cases fill a few accumulators of the mkv record by hand, as a
** collecting projection would, and run the statistics and the report on
** them.  CLEAR_PROJECTION brings the record and the bio fields the
** statistics read to a known start.
*/
#ifndef MORVENDA_STATS_TEST_UTIL_H
#define MORVENDA_STATS_TEST_UTIL_H

#include <cstring>
#include <string>

#include "core/records.h"
#include "support/support.h"

inline void CLEAR_PROJECTION(short analysis = 1, double interest = 0.0, short start_sea = 1)
{
    allocate_records();
    std::memset(static_cast<void*>(mkv), 0, sizeof(MkvRecord));
    bio->analysis = analysis;
    bio->interest = interest;
    bio->start_sea = start_sea;
    bio->maxlact = 12;
    bio->p_lactfeed = 0.2;
    for (int c = 0; c < NCURR; c++)
        bio->smy[c] = c == 0 ? 0.0 : 0.7 + 0.04 * c;
    for (int t = 0; t < NSLOT; t++)
        bio->p_heifer[t] = 1500.0;
    for (int t = 0; t < NSLOT; t++)
        heifer_rpo[t] = 10.0 * t;
    DPcash12 = 0.0;
    runname = "stats run";
    biofiletime = "Tue Dec  8 04:00:00 2026";
}

#endif
