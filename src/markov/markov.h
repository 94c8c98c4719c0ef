/*
** markov.h -- the herd projection: the monthly Markov chain step with its
** data collection, the reset of the mkv record and the MKV state file.
*/
#ifndef MORVENDA_MARKOV_H
#define MORVENDA_MARKOV_H

#include <algorithm>

#include "run/records.h"

void MARKOV_CHAIN(unsigned short entry_mode, unsigned short count, unsigned short collect);

/* The services of an open cow inseminated this month, as the projection
** and the herd simulation both count them.  Her first heat is detected
** with the heat detection rate hd and a service conceives with the
** conception rate; a cow still open after it has a second heat within the
** month with the share SECOND_HEAT.  pr = hd x conception rate. */
struct ServiceChances {
    double hd;      /* heat detection rate */
    double cr;      /* conception rate of a service */
    double Ps;      /* services charged: the expected number, at most one */
    double Pc;      /* conception within the month */
    double E;       /* expected number of heats (service opportunities) */
};

inline ServiceChances SERVICE_CHANCES(int lact, int mim, int sea)
{
    ServiceChances s;
    s.hd = bio->heatdetectionrate[mim][sea];
    s.cr = bio->conceptionrate[lact][mim][sea];
    const double pr = s.hd * s.cr;
    s.Ps = std::min(1.0, s.hd + (1.0 - pr) * s.hd * SECOND_HEAT);
    s.Pc = pr + (1.0 - pr) * pr * SECOND_HEAT;
    s.E = 1.0 + (1.0 - pr) * SECOND_HEAT;
    return s;
}
/* Modes of RESET_MKV_RECORD (there is no mode 2).  The two single-slot
** modes equal the number of the working slot they clear, so the chain can
** pass the slot it has just consumed. */
constexpr unsigned short RESET_SLOT_0 = 0;     /* working slot 0 and keep */
constexpr unsigned short RESET_SLOT_1 = 1;     /* working slot 1 and keep */
constexpr unsigned short RESET_COLLECTING = 3; /* both working slots and every accumulator */
constexpr unsigned short RESET_ALL_SLOTS = 4;  /* all three slots, before the stored herd is loaded */

void RESET_MKV_RECORD(unsigned short mode, unsigned short count);
void READ_MKV_FILE();
void WRITE_MKV_FILE();

#endif
