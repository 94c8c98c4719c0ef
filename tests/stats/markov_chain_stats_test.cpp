// Herd statistics from hand-made projections.
#include <gtest/gtest.h>

#include <cmath>

#include "core/runlog.h"
#include "stats/stats.h"
#include "stats/stats_test_util.h"
#include "support/support.h"

namespace {

std::string run_stats(unsigned short maxm)
{
    capture_console();
    MARKOV_CHAIN_STATS(maxm);
    return captured_console();
}

/* A steady herd: every month the same cash, milk, cows and culls. */
void fill_steady_herd(int maxm)
{
    for (int t = 1; t <= maxm; t++) {
        mkv->total_cash[t] = 100.0;
        mkv->milksales[t] = 200.0;
        mkv->milkyield[5][t] = 600.0;
        mkv->milkyield[9][t] = 400.0;
        mkv->cwt[t] = 10.0;
        mkv->open[1][t] = 0.6;
        mkv->preg[1][t] = 0.4;
        mkv->present[1][t] = 1.0;
        mkv->repl[1][t] = 0.02;
        mkv->pind[1][t] = 0.01;
        mkv->milking[t] = 0.85;
        mkv->dim_sum[t] = 0.85 * 170.0;
        mkv->cowsales[t] = 24.0;
        mkv->heiferpool[t] = 0.03;
        mkv->openmim_sum[t] = 0.6 * 4.0;
        mkv->cows_mim[5][t] = 0.06;
        mkv->cows_mim[9][t] = 0.04;
    }
}

} // namespace

TEST(MarkovChainStats, SteadyHerdYearsOfAnalysisOneArePlainSums)
{
    ScratchDir dir;
    CLEAR_PROJECTION(1, 0.05);
    fill_steady_herd(36);
    run_stats(36);
    const MkvStats& s = mkv->stats;
    for (int yr = 1; yr <= 3; yr++) {
        SCOPED_TRACE(yr);
        EXPECT_NEAR(s.cash_cyr[yr], 1200.0, 1e-9);
        EXPECT_NEAR(s.milksales_cyr[yr], 2400.0, 1e-9);  // no discounting in analysis 1
        EXPECT_NEAR(s.milksales_cwt[yr], 20.0, 1e-9);
        EXPECT_NEAR(s.cowsales_cyr[yr], 288.0, 1e-9);
        EXPECT_NEAR(s.livestockcost_cyr[yr], 540.0 - 288.0, 1e-9);
        EXPECT_NEAR(s.cullrateall[yr], 0.36, 1e-12);
        EXPECT_NEAR(s.herdlife[yr], 30.4 * 12.0 / 0.36, 1e-9);
        EXPECT_NEAR(s.dim_yr[yr], 170.0, 1e-9);  // days in milk counted once per year
        EXPECT_NEAR(s.daysopen[yr], 4.0 * 30.4, 1e-9);
        EXPECT_NEAR(s.eaa_cyr[yr], 2400.0 + 288.0 - 540.0, 1e-9);
    }
    EXPECT_EQ(s.cash_cyr[4], 0.0);  // slot 4 only for projections past 36 months
    EXPECT_NEAR(s.cash_maxm, 3600.0, 1e-9);
    for (int t = 1; t <= 36; t++) {
        EXPECT_NEAR(s.dim[t], 170.0, 1e-9);
        EXPECT_NEAR(s.cullprice[t], 24.0 / 0.03, 1e-9);
        EXPECT_NEAR(mkv->milkyield[0][t], 1000.0, 1e-9);
    }
    // lactation curve: per cow per day, and the share of all cow-months
    EXPECT_NEAR(mkv->milkyield[5][0], 600.0 / 0.06 / 30.4, 1e-9);
    EXPECT_NEAR(mkv->milkyield[9][0], 400.0 / 0.04 / 30.4, 1e-9);
    EXPECT_NEAR(mkv->cows_mim[5][0], 0.6, 1e-12);
}

TEST(MarkovChainStats, LongProjectionFillsSlotFourOverTwentyTwoYears)
{
    ScratchDir dir;
    CLEAR_PROJECTION(2, 0.0);
    fill_steady_herd(300);
    std::string log = run_stats(300);
    const MkvStats& s = mkv->stats;
    EXPECT_NEAR(s.cash_cyr[3], 1200.0, 1e-9);
    EXPECT_NEAR(s.cash_cyr[4], 264 * 100.0 / 22.0, 1e-9);
    EXPECT_NEAR(s.milkyield_cyr[4], 264 * 1000.0 / 22.0, 1e-9);
    EXPECT_NEAR(s.cullrateall[4], 0.36, 1e-12);
    EXPECT_EQ(log, "\n MARKOV_CHAIN_STATS started ... 0% 20% 40% 60% 80% 100%"
                   "\n MARKOV_CHAIN_STATS done ...");

    // 40 months: slot 4 is less than a whole year, so no yearly quotient
    CLEAR_PROJECTION(2, 0.0);
    fill_steady_herd(40);
    run_stats(40);
    EXPECT_EQ(mkv->stats.cash_cyr[4], 0.0);
    EXPECT_EQ(mkv->stats.eaa_cyr[4], 0.0);
    EXPECT_NEAR(mkv->stats.cullrateall[4], 0.36, 1e-12);
}

TEST(MarkovChainStats, DiscountingRestartsEveryStatisticYear)
{
    ScratchDir dir;
    CLEAR_PROJECTION(2, 0.12);  // one per cent a month
    mkv->milksales[13] = 100.0;  // first month of year 2: factor 1
    mkv->milksales[26] = 100.0;  // second month of year 3: factor 1/1.01
    mkv->cowsales[13] = 100.0;   // sales at the end of the month: 1/1.01
    run_stats(36);
    double sumd0 = 0.0;
    for (int k = 0; k < 12; k++)
        sumd0 += 1.0 / std::pow(1.01, k);
    double sumd1 = sumd0 / 1.01;
    const MkvStats& s = mkv->stats;
    EXPECT_EQ(s.milksales_cyr[1], 0.0);
    EXPECT_NEAR(s.milksales_cyr[2], 100.0 / sumd0 * 12.0, 1e-9);
    EXPECT_NEAR(s.milksales_cyr[3], 100.0 / 1.01 / sumd0 * 12.0, 1e-9);
    EXPECT_NEAR(s.cowsales_cyr[2], 100.0 / 1.01 / sumd1 * 12.0, 1e-9);
    // no milk and no cows: the per-hundredweight and per-cow quotients stay 0
    EXPECT_EQ(s.milksales_cwt[2], 0.0);
    EXPECT_EQ(s.cullrateall[2], 0.0);
    EXPECT_EQ(s.herdlife[2], 0.0);
}

TEST(MarkovChainStats, CashCheckAgainstTheDynamicProgram)
{
    ScratchDir dir;
    struct Case {
        short analysis;
        double interest;
        double dpcash;
        bool reported;
    };
    const Case cases[] = {
        {1, 0.0, 1200.02, true},     // off by 0.02
        {1, 0.0, 1199.995, false},   // within 0.01
        {1, 0.0001, 1100.0, true},   // interest small enough to count as none
        {2, 0.0, 1100.0, false},     // stored herd: no check
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpcash);
        CLEAR_PROJECTION(c.analysis, c.interest);
        fill_steady_herd(36);
        DPcash12 = c.dpcash;
        std::string log = run_stats(36);
        char line[200];
        std::snprintf(line, sizeof line, "\n MARKOV_CHAIN_STATS: difference: mkv->cash_maxm:%f  DPcash12:%f",
                      1200.0, c.dpcash);
        EXPECT_EQ(log.find(line) != std::string::npos, c.reported) << log;
    }
}

TEST(MarkovChainStats, ProgressMarksOfAThirtySixMonthRun)
{
    ScratchDir dir;
    CLEAR_PROJECTION();
    EXPECT_EQ(run_stats(36), "\n MARKOV_CHAIN_STATS started ... 3% 19% 39% 58% 78% 97% 100%"
                             "\n MARKOV_CHAIN_STATS done ...");
    // fewer than five months: no division by a zero step
    CLEAR_PROJECTION();
    EXPECT_EQ(run_stats(3), "\n MARKOV_CHAIN_STATS started ... 33% 100%\n MARKOV_CHAIN_STATS done ...");
}

TEST(MarkovChainStats, DaysToEventsAndCalvingInterval)
{
    ScratchDir dir;
    CLEAR_PROJECTION(1, 0.0, 1);
    // calvings in month 5 after 13 and 12 months in milk
    mkv->calvings[1][13][5] = 0.1;
    mkv->calvings[2][12][5] = 0.3;
    // conceptions of class 2 in month 3 at month in milk 4
    mkv->conceptions[3][2][1][4] = 0.2;
    mkv->newpreg[2][1][3] = 0.2;
    // services after the waiting period and first services of class 5
    mkv->delayserv[8][5][2][3] = 0.1;
    mkv->delayserv[8][5][2][5] = 0.3;
    mkv->firstserv[20][5][2][3] = 0.4;
    run_stats(36);
    const MkvStats& s = mkv->stats;
    EXPECT_NEAR(s.calvinginterval[5], (13 * 0.1 + 12 * 0.3) / 0.4, 1e-12);
    EXPECT_NEAR(s.clvinterval[1], 12.25, 1e-12);
    EXPECT_EQ(s.clvinterval[2], 0.0);
    EXPECT_NEAR(s.calvinginterval_clv[0][5], 13.0, 1e-12);  // calved in month 1+5-13 = May
    EXPECT_NEAR(s.calvinginterval_clv[0][6], 12.0, 1e-12);

    EXPECT_NEAR(s.daystoconc[3], 4 * 30.4, 1e-9);
    EXPECT_NEAR(mkv->conceptions[0][2][0][0], 4 * 30.4, 1e-9);

    double dvwp = 30.4 * (3 * 0.1 + 5 * 0.3) / 0.4;
    EXPECT_NEAR(s.dvwp[8], dvwp, 1e-9);
    EXPECT_NEAR(mkv->delayserv[0][5][0][0], dvwp, 1e-9);
    EXPECT_NEAR(s.daysvwp_clv[2][0], dvwp, 1e-9);
    EXPECT_NEAR(s.dfs[20], 3 * 30.4, 1e-9);
    EXPECT_NEAR(mkv->firstserv[0][5][0][0], 3 * 30.4, 1e-9);
}

TEST(MarkovChainStats, LastBreedingIsAWeightedMeanInDays)
{
    ScratchDir dir;
    CLEAR_PROJECTION();
    // class 2: bred at months in milk 3 and 6; the last one counts
    mkv->bred[5][2][1][3] = 0.5;
    mkv->bred[5][2][1][6] = 0.2;
    // class 3: bred at month in milk 2
    mkv->bred[5][3][1][2] = 0.3;
    // class 4: a trace below the threshold falls back to month in milk 1
    mkv->bred[7][4][1][10] = 1e-10;
    run_stats(36);
    const MkvStats& s = mkv->stats;
    double mean = 30.4 * (6 * 0.2 + 2 * 0.3) / (0.2 + 0.3);
    EXPECT_NEAR(s.dlbm[5], mean, 1e-9);
    EXPECT_NEAR(s.dayslbm_clv[1][0], mean, 1e-9);  // not the sum of class ratios
    EXPECT_NEAR(mkv->bred[0][2][0][0], 6 * 30.4, 1e-9);
    EXPECT_EQ(mkv->bred[0][4][0][0], 0.0);
    EXPECT_EQ(s.dlbm[7], 0.0);
}

TEST(MarkovChainStats, PregnancyRatesStateValuesAndReplacedOpenCows)
{
    ScratchDir dir;
    CLEAR_PROJECTION(1, 0.0, 3);
    for (int t = 1; t <= 36; t++) {
        mkv->serv_n[t] = 0.1;
        mkv->serv_preg[t] = 0.04;
        mkv->delayed_n[t] = t == 1 ? 0.1 : 0.0;
    }
    // state values: an open state in year 1, a pregnant one in year 2
    // (sums by state and by month, as the projection leaves them)
    mkv->rpo_vwp[2][1][4][0] = 0.1 * 300.0;
    mkv->rpo_vwp_n[2][1][4][0] = 0.1;
    mkv->rpo_vwp_t[2][0] = 0.1 * 300.0;
    mkv->rpo_vwp_t_n[2][0] = 0.1;
    mkv->rpo_vwp[2][1][7][4] = 0.1 * 900.0;
    mkv->rpo_vwp_n[2][1][7][4] = 0.1;
    mkv->rpo_vwp_t[14][4] = mkv->rpo_vwp_t[14][10] = 0.1 * 900.0;
    mkv->rpo_vwp_t_n[14][4] = mkv->rpo_vwp_t_n[14][10] = 0.1;
    // open cows replaced in month 4 at month in milk 10
    mkv->replopen_n[6][10][4] = 0.02;
    mkv->replopen_mlk[6][10][4] = 0.02 * 304.0;
    run_stats(36);
    const MkvStats& s = mkv->stats;
    EXPECT_NEAR(s.replopen_mlk_avg[0][0][1], 10.0, 1e-9);  // daily milk
    EXPECT_NEAR(s.replopen_dim_avg[10][0][0], 9 * 30.4, 1e-9);
    EXPECT_NEAR(s.pregnancyrate0[0][1], 0.4, 1e-12);
    EXPECT_NEAR(s.pregnancyrate1[0][1], 0.48 / 1.3, 1e-12);
    EXPECT_NEAR(s.pregnancyrate1[3][1], 0.04 / 0.2, 1e-12);  // first month is March
    EXPECT_NEAR(s.pregnancyrate1[4][1], 0.4, 1e-12);

    EXPECT_NEAR(s.pv_open[1], 300.0, 1e-9);
    EXPECT_NEAR(s.pv_preg[2], 900.0, 1e-9);
}

TEST(MarkovChainStats, TooManyMonthsEndTheRun)
{
    ScratchDir dir;
    CLEAR_PROJECTION();
    capture_console();
    try {
        MARKOV_CHAIN_STATS(301);
        ADD_FAILURE() << "the run went on";
    } catch (const RunEnded& e) {
        EXPECT_EQ(e.status, 1);
    }
    std::string log = captured_console();
    EXPECT_NE(log.find("\n MARKOV_CHAIN_STATS: 301 months exceed"), std::string::npos);
}
