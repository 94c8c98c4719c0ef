/*
** policy_reach.cpp -- does a policy read from a pol file decide every
** state the herd can be in?
**
** A pol file holds the decisions of the herd it was solved for.  Read for
** a herd with more lactations or a longer lactation, it leaves the states
** the other herd never had at "no decision", and the projection found
** that out only when the first cow got there, after the policy files had
** been written.  The run asks this before it writes anything.
**
** A state counts when the chain visits it: every yield class, lactation
** 1..maxlact and calendar slot; an open cow in month in milk 1..maxmim
** (but for a heifer's first month, which she passes through outside the
** breeding window); a pregnant cow in the months of pregnancy she can have
** reached from the breeding window.  The decision must be one the state
** allows: keep or replace, and inseminate too in the breeding window.
** The heifer entry decision of every slot is 0 or 1.
*/
#include <cstdio>
#include <string>

#include "markov/markov.h"
#include "core/records.h"

namespace {

/* Calendar slots of a policy: two years of months. */
constexpr int POLICY_SLOTS = 24;

bool allowed(short decision, bool may_inseminate)
{
    return decision == DEC_KEEP || decision == DEC_REPLACE || (may_inseminate && decision == DEC_INSEMINATE);
}

std::string state_text(int t, int c, int l, int mim, int mpreg, short decision)
{
    char text[160];
    std::snprintf(text, sizeof text, "t=%d curr:%d lact:%d mim:%d mpreg:%d has decision %d", t, c, l, mim, mpreg,
                  decision);
    return text;
}

} // namespace

bool POLICY_DECIDES_HERD(std::string& missing)
{
    for (int t = 1; t <= POLICY_SLOTS; t++)
        if (pol->enter[t] != 0 && pol->enter[t] != 1) {
            missing = "t=" + std::to_string(t) + " heifer entry decision " + std::to_string(pol->enter[t]) +
                      " (0 or 1)";
            return false;
        }
    const int last_mim = bio->maxmim < MAXMIM ? bio->maxmim : MAXMIM;
    for (int t = 1; t <= POLICY_SLOTS; t++)
        for (int l = 1; l <= bio->maxlact; l++) {
            const int vwp = waiting_period_end(l);
            for (int c = 1; c <= MAXCURR; c++)
                for (int mim = 1; mim <= MAXMIM; mim++) {
                    const bool last_month = mim >= bio->maxmim;
                    const bool window = !last_month && vwp <= mim && mim <= bio->lbm;
                    const bool heifer_passing = !last_month && !window && l == 1 && mim == 1;
                    if (mim <= last_mim && !heifer_passing) {
                        const short d = pol->decision[c][l][mim][0][t];
                        if (!allowed(d, window)) {
                            missing = state_text(t, c, l, mim, 0, d);
                            return false;
                        }
                    }
                    int first, last;
                    pregnancy_window(l, mim, first, last);
                    for (int mpreg = first; mpreg <= last; mpreg++) {
                        const short d = pol->decision[c][l][mim][mpreg][t];
                        if (!allowed(d, false)) {
                            missing = state_text(t, c, l, mim, mpreg, d);
                            return false;
                        }
                    }
                }
        }
    return true;
}
