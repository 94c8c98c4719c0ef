/*
** cold_policy.cpp -- the policy for a question about cows, not a run.
**
** Valuing a herd's cows and simulating a herd both need the policy of a bio
** file exactly as a run would have it, but neither is a run: the solve
** starts cold (no warm file is read, whatever the bio file says) and writes
** no warm file either, so that asking about cows never changes what the
** next run of the herd starts from.  A bio file whose policy is not the
** optimal one has its decisions read from its pol file instead.
*/
#include "dp/dp.h"

#include "core/records.h"
#include "core/runlog.h"

/* ---- constants ----
** EXIT_FAILED  the exit status of a command whose solve gave up */
constexpr int EXIT_FAILED = 1;

bool OBTAIN_COLD_POLICY()
{
    WRITE_MSG_FILE(MSG_RESET_FUT);
    INIT_FUT_RECORD();
    warmstart = SWITCH_OFF;
    INIT_POLICY_RECORDS();

    if (bio->policy >= POLICY_OPTIMAL) {
        if (DP_POLICY(bio->policy) == 0)
            END_RUN(EXIT_FAILED);
        return true;
    }
    READ_POL_FILE();
    return false;
}
