/*
** sim_test_support.h -- what the simulation tests share: the chain's
** yearly figures by label, and a herd made ready for simulating.
*/
#ifndef MORVENDA_TEST_SIM_SUPPORT_H
#define MORVENDA_TEST_SIM_SUPPORT_H

#include <gtest/gtest.h>

#include <string>

#include "markov/markov.h"
#include "core/records.h"
#include "sim/herd_sim.h"
#include "sim/simulate_command.h"
#include "stats/stats.h"
#include "support/support.h"

/* The chain's figure of statistic year yr (1..3) for a label of the yearly
** block; fails the test for a label it does not know. */
inline double chain_figure(const std::string& label, int yr)
{
    const MkvStats& s = mkv->stats;
    if (label == "cash_cyr") return s.cash_cyr[yr];
    if (label == "milkyield_cyr") return s.milkyield_cyr[yr];
    if (label == "milksales_cyr") return s.milksales_cyr[yr];
    if (label == "feedcost_cyr") return s.feedcost_cyr[yr];
    if (label == "heifercost_cyr") return s.heifercost_cyr[yr];
    if (label == "cowsales_cyr") return s.cowsales_cyr[yr];
    if (label == "calfsales_cyr") return s.calfsales_cyr[yr];
    if (label == "cullrateall") return s.cullrateall[yr];
    if (label == "cullratevol") return s.cullratevol[yr];
    if (label == "cullrateinv") return s.cullrateinv[yr];
    if (label == "clvinterval") return s.clvinterval[yr];
    if (label == "daysopen") return s.daysopen[yr];
    if (label == "herdlife") return s.herdlife[yr];
    if (label == "eaa_cyr") return s.eaa_cyr[yr];
    if (label == "laborcost_cyr") return s.laborcost_cyr[yr];
    if (label == "vetcost_cyr") return s.vetcost_cyr[yr];
    if (label == "loss_cyr") return s.loss_cyr[yr];
    if (label == "othercost_cyr") return s.othercost_cyr[yr];
    if (label == "breedingsupplycost_cyr") return s.breedingsupplycost_cyr[yr];
    if (label == "cash_cwt") return s.cash_cwt[yr];
    if (label == "daystoconc") return s.daystoconc_yr[yr];
    if (label == "pregnancyrate0") return s.pregnancyrate0[0][yr];
    if (label == "opendays") return s.opendays_yr[yr];
    ADD_FAILURE() << "no chain figure " << label;
    return 0.0;
}

/* Takes the start herd of the records' policy into a setup, then runs the
** chain's collecting projection and statistics of the same herd (console
** hidden).  `months`: 36, or 300 for a stored-herd analysis. */
inline SimSetup setup_and_chain(int places, int years, unsigned short months)
{
    capture_console();
    SimSetup setup = SIM_SETUP(places, years, 2020);
    MARKOV_CHAIN(static_cast<unsigned short>(setup.entry_mode), months, 1);
    MARKOV_CHAIN_STATS(months);
    captured_console();
    return setup;
}

#endif
