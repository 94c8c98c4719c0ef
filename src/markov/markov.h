/*
** markov.h -- the herd projection: the monthly Markov chain step with its
** data collection, the reset of the mkv record and the MKV state file.
*/
#ifndef MORVENDA_MARKOV_H
#define MORVENDA_MARKOV_H

#include <functional>

#include <string>

/* How heifers enter an empty place (entry_mode of MARKOV_CHAIN). */
constexpr unsigned short ENTRY_FULL_HERD_AT_START = 0; /* a whole herd of heifers in month 1, only into an empty herd */
constexpr unsigned short ENTRY_REFILL = 1;             /* refill to a full place in the policy's entry months */
/* Whether a run of the chain gathers the monthly statistics (collect). */
constexpr unsigned short CHAIN_PROJECT_ONLY = 0;
constexpr unsigned short CHAIN_COLLECT = 1;
/* Lengths of the runs the driver makes. */
constexpr unsigned short STEADY_STATE_PASS_MONTHS = 12; /* one pass of the steady-state search */
constexpr unsigned short STEADY_HERD_MONTHS = 36;       /* analysis 1, collecting */
constexpr unsigned short STORED_HERD_MONTHS = 300;      /* analyses 2 and 3, collecting */

void MARKOV_CHAIN(unsigned short entry_mode, unsigned short count, unsigned short collect);

/* Modes of RESET_MKV_RECORD (there is no mode 2).  The two single-slot
** modes equal the number of the working slot they clear, so the chain can
** pass the slot it has just consumed. */
constexpr unsigned short RESET_SLOT_0 = 0;     /* working slot 0 and keep */
constexpr unsigned short RESET_SLOT_1 = 1;     /* working slot 1 and keep */
constexpr unsigned short RESET_COLLECTING = 3; /* both working slots and every accumulator */
constexpr unsigned short RESET_ALL_SLOTS = 4;  /* all three slots, before the stored herd is loaded */

void RESET_MKV_RECORD(unsigned short mode, unsigned short count);
void READ_MKV_FILE();
/* False when the stored herd file exists but READ_MKV_FILE would find it
** damaged; says and stores nothing. */
bool MKV_FILE_IS_WHOLE();
void WRITE_MKV_FILE();

/* True when the policy in the pol record has a decision the state allows
** for every state the chain can visit with this bio record, and a heifer
** entry decision for every slot; else false with the first state that has
** none in `missing`. */
bool POLICY_DECIDES_HERD(std::string& missing);

/* The steady-state search of analysis 1: repeats `pass` (a 12-month
** projection that leaves its distribution in the stored slot) until the
** herd stops changing.  Returns the number of passes made. */
unsigned short STEADY_STATE_LOOP(const std::function<void()>& pass);

#endif
