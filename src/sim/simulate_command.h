/*
** simulate_command.h -- morvenda simulate: herds of real cows under the
** policy of a run, and the spread of their yearly figures.
**
**   morvenda simulate HERD.bio [--cows N] [--years Y] [--replicates R]
**                    [--seed S] [--start YYYY] [--records DIR]
**                    [--death-share X] [--test-day-cv X] [-o SUMMARY.csv]
**
** Solves the policy of HERD.bio as a run does (or reads its pol file under
** USE_POL), finds the start herd (the steady state, or the stored herd of
** analyses 2 and 3), simulates R herds of N places for Y years, writes the
** summary (default: the run name with "_sim.csv") and, with --records, the
** first herd's records.  None of the run's own files is written.  Exit
** status 0 done, 1 the command could not run, 2 a usage error.
*/
#ifndef MORVENDA_SIM_SIMULATE_COMMAND_H
#define MORVENDA_SIM_SIMULATE_COMMAND_H

#include <cstdint>
#include <string>
#include <vector>

#include "sim/herd_sim.h"

/* argv[0] is "simulate". */
int MORVENDA_SIMULATE(int argc, char** argv);

/* The policy of the bio file, as a run obtains it (solved, or read under
** USE_POL), writing none of the run's files; a policy that cannot be had
** ends the run (END_RUN).  Allocates the records. */
void OBTAIN_SIM_POLICY(const std::string& bio_file);

/* The start herd of the run whose policy the records hold, as the chain
** starts it: analysis 1 searches the steady state from the stored herd (or
** an empty one), analyses 2 and 3 take the stored herd.  Leaves the start
** herd in slot 2 of the distribution. */
void FIND_START_HERD();

/* Replicates 1..count of `seed` on `threads` threads (each replicate its
** own streams, so the outcome does not depend on the threads); `records`
** receives replicate 1's records.  `backwards` runs them in the opposite
** order (for the tests that the order changes nothing). */
std::vector<SimReplicate> RUN_REPLICATES(const SimSetup& setup, std::uint64_t seed, int count, int threads,
                                         SimRecords* records, bool backwards = false);

#endif
