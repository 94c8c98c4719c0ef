/*
** steady_state.cpp -- the steady-state search of analysis 1.
**
** The herd of one place is projected 12 months at a time, without
** collecting, until its distribution over cow states stops changing: the
** sum of the changes of the stored slot over a pass falls below a
** millionth.  A search that stops improving after 100 passes, or that
** reaches 500, goes on from where it stands with a warning.
*/
#include "markov/markov.h"

#include <cmath>
#include <cstdio>

#include "core/records.h"
#include "core/runlog.h"

namespace {

/* Sum over the stored distribution of |previous - current|. */
double steady_state_change()
{
    double conv = 0.0;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l <= bio->maxlact; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    conv += std::fabs(mkv->pstate_prev[c][l][m][p] - mkv->pstate[c][l][m][p][2]);
    return conv;
}

void keep_previous_distribution()
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l <= bio->maxlact; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    mkv->pstate_prev[c][l][m][p] = mkv->pstate[c][l][m][p][2];
}

} // namespace

unsigned short STEADY_STATE_LOOP(const std::function<void()>& pass)
{
    unsigned short iter = 0;
    double conv = 0.0;
    double prevconv = 0.0;
    do {
        if (iter > 1)
            prevconv = conv;
        keep_previous_distribution();
        pass();
        conv = steady_state_change();
        iter++;
        std::printf("   steady-state conv:%.7f (%d)", conv, iter);
        WRITE_MSG_FILE(MSG_CHAIN_CONVERGENCE, conv);
        if (conv > prevconv && iter > 100) {
            std::printf("\n\a convergence decreases, continue with current solution");
            WRITE_MSG_FILE(MSG_CHAIN_FAILED, conv);
            conv = 0.0;
        }
        if (iter == 500) {
            std::printf("\n\a steady state not found in 500 iterations, continue with current solution");
            WRITE_MSG_FILE(MSG_CHAIN_FAILED, conv);
            conv = 0.0;
        }
    } while (conv > 0.0000001);
    return iter;
}
