// The monthly herd projection on a hand-made herd and policy.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <memory>
#include <string>

#include "markov/herd_fixture.h"
#include "markov/markov.h"
#include "core/records.h"
#include "core/runlog.h"
#include "support/support.h"

namespace {

double PRESENT(int t)
{
    double sum = 0.0;
    for (int c = 1; c <= MAXCURR; c++)
        sum += mkv->present[c][t];
    return sum;
}

std::string RUN_CHAIN(unsigned short entry_mode, unsigned short count, unsigned short collect)
{
    capture_console();
    MARKOV_CHAIN(entry_mode, count, collect);
    return captured_console();
}

class MarkovChain : public testing::Test {
protected:
    void SetUp() override
    {
        allocate_records();
        BUILD_HAND_HERD();
    }
    ScratchDir dir;
};

} // namespace

TEST_F(MarkovChain, SteadyHerdFillsEveryPlaceAndStoresTheHerdBeforeRefill)
{
    RUN_PASSES(40);
    RUN_CHAIN(1, 36, 1);

    for (int t = 1; t <= 36; t++) {
        EXPECT_NEAR(PRESENT(t), 1.0, 1e-9) << "month " << t;
        for (int c = 1; c <= MAXCURR; c++)
            EXPECT_EQ(mkv->present[c][t], mkv->open[c][t] + mkv->preg[c][t]);
    }
    /* The stored herd is the next month's before its heifers: 1.0 less the
    ** involuntary disposals and the cows sold at the last month in milk. */
    double disposed = 0.0;
    for (int c = 1; c <= MAXCURR; c++)
        disposed += mkv->pind[c][36];
    const double sold_at_end = mkv->repl_mim[bio->maxmim][36];
    EXPECT_GT(disposed, 0.005);
    EXPECT_GT(sold_at_end, 0.0);
    EXPECT_NEAR(HERD_MASS(2), 1.0 - disposed - sold_at_end, 1e-9);
    EXPECT_LT(HERD_MASS(2), 0.995);
    EXPECT_GT(HERD_MASS(2), 0.95);
    EXPECT_EQ(mkv->sea_next, 1);

    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                ASSERT_LE(mkv->pfs[c][l][m][2], mkv->pstate[c][l][m][0][2]);
    for (int c = 0; c < NCURR; c++)
        for (int t = 0; t < NT; t++)
            ASSERT_EQ(mkv->keep[c][t], 0.0);
}

TEST_F(MarkovChain, NoLossesKeepTheStoredHerdWhole)
{
    /* Every cow conceives at her first service and none is disposed of,
    ** aborts or reaches the last month in milk. */
    BUILD_HAND_HERD(0.0);
    for (int m = 0; m < NMIM; m++)
        for (int s = 0; s < NSEA; s++) {
            bio->heatdetectionrate[m][s] = 1.0;
            for (int l = 0; l < NLACT; l++)
                bio->conceptionrate[l][m][s] = 1.0;
        }
    for (int p = 0; p < NMPREG; p++)
        bio->abort[p] = 0.0;
    RUN_PASSES(5);
    EXPECT_NEAR(HERD_MASS(2), 1.0, 1e-9);
    RUN_CHAIN(1, 36, 1);
    EXPECT_NEAR(HERD_MASS(2), 1.0, 1e-9);
    for (int t = 1; t <= 36; t++)
        EXPECT_NEAR(PRESENT(t), 1.0, 1e-9);
}

TEST_F(MarkovChain, HeifersEnterAsTheEntryModeSays)
{
    /* Mode 1, empty herd: nobody enters until the policy lets heifers in. */
    pol->enter[1] = pol->enter[2] = 0;
    RUN_CHAIN(1, 12, 1);
    EXPECT_EQ(mkv->heiferpool[1], 0.0);
    EXPECT_EQ(mkv->heiferpool[2], 0.0);
    EXPECT_EQ(mkv->heiferpool[3], 1.0);
    EXPECT_EQ(mkv->mkv_enter[2], 0);
    EXPECT_EQ(mkv->mkv_enter[3], 1);
    EXPECT_NEAR(PRESENT(3), 1.0, 1e-12);
    EXPECT_NEAR(PRESENT(12), 1.0, 1e-9);

    /* Mode 0, empty herd: a whole herd in month 1 and never again. */
    BUILD_HAND_HERD();
    RUN_CHAIN(0, 36, 1);
    EXPECT_EQ(mkv->heiferpool[1], 1.0);
    for (int t = 2; t <= 36; t++)
        EXPECT_EQ(mkv->heiferpool[t], 0.0);
    EXPECT_LT(PRESENT(36), PRESENT(2));
    EXPECT_GT(mkv->heifers_raised[36] + mkv->heifers_sold[30], 0.0);

    /* Mode 0 with a herd present: no heifer ever enters. */
    BUILD_HAND_HERD();
    mkv->pstate[8][2][3][0][2] = 1.0;
    RUN_CHAIN(0, 36, 1);
    for (int t = 1; t <= 36; t++)
        EXPECT_EQ(mkv->heiferpool[t], 0.0);
    EXPECT_LT(HERD_MASS(2), 1.0);
}

TEST_F(MarkovChain, EmptyHerdTestIgnoresAnEarlierRunsCounts)
{
    /* Without collecting, the replacement counts are left over from an
    ** earlier run; they must not hide that the herd is empty. */
    mkv->repl[5][1] = 0.5;
    RUN_CHAIN(0, 12, 0);
    EXPECT_EQ(mkv->heiferpool[1], 1.0);
    EXPECT_GT(HERD_MASS(2), 0.8);
}

TEST_F(MarkovChain, ReplacedCowYieldsSaleValueAndKeptCowItsRevenue)
{
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 0;
    pol->decision[5][2][12][0][1] = DEC_REPLACE;
    mkv->pstate[5][2][12][0][2] = 0.25; /* replaced in month 1 */
    mkv->pstate[6][2][12][0][2] = 0.5;  /* kept */
    mkv->pfs[6][2][12][2] = 0.5;
    RUN_CHAIN(1, 12, 1);

    const double S = bio->sel[2][12][1];
    const double Sprime = bio->sel[2][12][2] * bio->sel_factor;
    const double q = bio->pind[2][12][1];
    const double R = bio->rev[6][2][12][0][1];
    EXPECT_DOUBLE_EQ(mkv->repl[5][1], 0.25);
    EXPECT_DOUBLE_EQ(mkv->replopen_n[5][12][1], 0.25);
    EXPECT_DOUBLE_EQ(mkv->replopen_rev[5][12][1], 0.25 * bio->rev[5][2][12][0][1]);
    EXPECT_EQ(mkv->open[5][1], 0.0);
    EXPECT_DOUBLE_EQ(mkv->operating_cash[1], 0.5 * R);
    EXPECT_DOUBLE_EQ(mkv->cowsales[1], 0.25 * S + q * 0.5 * Sprime);
    EXPECT_NEAR(mkv->total_cash[1],
                0.25 * S + 0.5 * (R + q * (Sprime - bio->cullcost)) -
                    (bio->fixedcost1 + bio->fixedcost2) * 30.4,
                1e-9);
    EXPECT_DOUBLE_EQ(mkv->loss[1], q * 0.5 * bio->cullcost);
    EXPECT_DOUBLE_EQ(PRESENT(1), 0.5);
    EXPECT_EQ(mkv->heiferpool[1], 0.0);
    /* The replaced cow is gone the next month; the kept one moved on. */
    EXPECT_NEAR(mkv->open[6][2] + mkv->preg[6][2], 0.5 * (1.0 - q), 1e-15);
    EXPECT_EQ(mkv->open[5][2], 0.0);
}

TEST_F(MarkovChain, MonthTotalsUseThePolicyMonth)
{
    RUN_PASSES(10);
    RUN_CHAIN(1, 24, 1);
    for (int t = 1; t <= 24; t++) {
        double milk = 0.0;
        for (int m = 1; m <= MAXMIM; m++)
            milk += mkv->milkyield[m][t];
        EXPECT_NEAR(mkv->cwt[t], milk / 100.0, 1e-9);
        const double price = bio->p_milk[POLICY_MONTH(t)];
        EXPECT_EQ(price, t < 13 ? 0.30 : 0.40);
        EXPECT_NEAR(mkv->milksales[t], milk * price, 1e-7);
        EXPECT_NEAR(mkv->totrevenue[t], mkv->milksales[t] + mkv->cowsales[t] + mkv->calfsales[t], 1e-9);
        EXPECT_NEAR(mkv->lactation1[t], mkv->heiferpool[t], 1e-15);
        EXPECT_GT(mkv->serv_n[t], 0.0);
        EXPECT_GT(mkv->calvings[1][11][t] + mkv->calvings[1][12][t] + mkv->calvings[1][13][t], 0.0);
    }
    /* Heifers bought for every place refilled, none raised. */
    EXPECT_EQ(mkv->heifers_raised[5], 0.0);
    EXPECT_DOUBLE_EQ(mkv->heifers_purchased[5], mkv->heiferpool[5]);
    EXPECT_DOUBLE_EQ(mkv->heiferpurchasecost[5], 1500.0 * mkv->heiferpool[5]);
}

TEST_F(MarkovChain, ProgressMarksOfACollectingRun)
{
    std::string log = RUN_CHAIN(1, 36, 1);
    const std::string reset_done = "\n RESET_MKV_RECORD done ...";
    ASSERT_NE(log.find(reset_done), std::string::npos);
    EXPECT_EQ(log.substr(log.find(reset_done) + reset_done.size()),
              " 17% 50% 53% 60% 69% 79% 89% 99% 100%");
    EXPECT_EQ(read_text("msg.txt"), "27 - Markov chain collecting data: 100% completed");

    /* Without collecting: no marks at all. */
    log = RUN_CHAIN(1, 12, 0);
    EXPECT_EQ(log, "\n MARKOV_CHAIN ...");

    /* A run shorter than five months still reports its marks. */
    log = RUN_CHAIN(1, 3, 1);
    EXPECT_EQ(log.substr(log.find(reset_done) + reset_done.size()), " 17% 50% 83% 100%");
}

TEST_F(MarkovChain, ManyBadStatesPauseOnceAndEndTheRun)
{
    /* Decision 8 in every reachable open state: a few lines, one pause,
    ** then the run ends with the count. */
    RESET_REPEATED_STOPS();
    for (int c = 1; c <= MAXCURR; c++)
        for (int m = 2; m <= 24; m++) {
            mkv->pstate[c][2][m][0][2] = 0.001;
            for (int t = 1; t <= 24; t++)
                pol->decision[c][2][m][0][t] = DEC_NONE;
        }
    capture_console();
    EXPECT_THROW(MARKOV_CHAIN(1, 12, 0), RunEnded);
    const std::string log = captured_console();
    EXPECT_EQ(std::count(log.begin(), log.end(), '@'), 2) << log;
    EXPECT_NE(log.find("\n MARKOV_CHAIN decision error: 5 times, the run ends"), std::string::npos);
    RESET_REPEATED_STOPS();
}

TEST_F(MarkovChain, InconsistentPolicyIsReported)
{
    RESET_REPEATED_STOPS();
    /* A decision 8 on an open and on a pregnant state with mass. */
    mkv->pstate[5][2][12][0][2] = 0.3;
    mkv->pstate[5][2][8][3][2] = 0.2;
    pol->decision[5][2][12][0][1] = DEC_NONE;
    pol->decision[5][2][8][3][1] = DEC_NONE;
    const short policy = bio->policy;
    bio->policy = 0; /* read from a pol file */
    polfile = "other_herd.pol";
    std::string log = RUN_CHAIN(1, 1, 0);
    bio->policy = policy;
    EXPECT_NE(log.find("\n decision error open t=1 curr:5 lact:2 mim:12: no decision in the pol file other_herd.pol"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\n decision error preg: 5 2 8 3 1 : 8: no decision in the pol file other_herd.pol"),
              std::string::npos);
    EXPECT_EQ(read_text("msg.txt"), " STOP(): check Morvenda.EXE");

    /* Unserved mass above the state's mass. */
    BUILD_HAND_HERD();
    mkv->pstate[4][2][5][0][2] = 0.1;
    mkv->pfs[4][2][5][2] = 0.2;
    log = RUN_CHAIN(1, 1, 0);
    EXPECT_NE(log.find("\nMARKOV_CHAIN error t:1 curr:4 lact:2 mim:5 pstate:0.100000000000000 < "
                       "pfs:0.200000000000000"),
              std::string::npos);

    /* An entry switch that is neither 0 nor 1: nobody enters. */
    BUILD_HAND_HERD();
    pol->enter[1] = 5;
    log = RUN_CHAIN(1, 1, 1);
    EXPECT_NE(log.find("\n MARKOV_CHAIN: pol->enter[5] error in ENTERING HEIFERS"), std::string::npos);
    EXPECT_EQ(mkv->heiferpool[1], 0.0);

    /* An unknown entry mode: the pause, and no heifers. */
    BUILD_HAND_HERD();
    log = RUN_CHAIN(2, 12, 1);
    EXPECT_NE(log.find("\n MARKOV_CHAIN: entry_mode:2 error"), std::string::npos);
    EXPECT_EQ(HERD_MASS(2), 0.0);
}

TEST_F(MarkovChain, LimitsOutsideTheRecordsEndTheRun)
{
    auto ends_run = [](unsigned short count) {
        capture_console();
        int status = 0;
        try {
            MARKOV_CHAIN(1, count, 0);
        } catch (const RunEnded& e) {
            status = e.status;
        }
        captured_console();
        return status;
    };
    EXPECT_EQ(ends_run(301), 1);
    bio->maxlact = 13;
    EXPECT_EQ(ends_run(12), 1);
    bio->maxlact = 3;
    bio->maxmim = 25;
    EXPECT_EQ(ends_run(12), 1);
    bio->maxmim = 20;
    bio->lbm = 16; /* a pregnant cow would pass month in milk 24 */
    EXPECT_EQ(ends_run(12), 1);
    bio->lbm = 8;
    EXPECT_EQ(ends_run(12), 0);
}

TEST_F(MarkovChain, LastLactationCowsCalveIntoTheSameLactation)
{
    /* The policy keeps a cow due to calve in the last lactation: she calves
    ** into that lactation again, as the dynamic program values her, and is
    ** not replaced behind the policy's back. */
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 0;
    mkv->pstate[7][3][14][9][2] = 0.4; /* due to calve in the last lactation */
    mkv->pstate[7][2][14][9][2] = 0.3; /* due to calve into lactation 3 */
    RUN_CHAIN(1, 1, 1);
    EXPECT_EQ(mkv->repl[7][1], 0.0);
    const double q2 = bio->pind[2][14][1];
    const double q3 = bio->pind[3][14][1];
    EXPECT_DOUBLE_EQ(mkv->calvings[2][14][1], 0.3 * (1.0 - q2));
    EXPECT_DOUBLE_EQ(mkv->calvings[3][14][1], 0.4 * (1.0 - q3));
    EXPECT_DOUBLE_EQ(mkv->pstate[7][3][1][0][2], 0.3 * (1.0 - q2) + 0.4 * (1.0 - q3));
    EXPECT_DOUBLE_EQ(mkv->pfs[7][3][1][2], 0.3 * (1.0 - q2) + 0.4 * (1.0 - q3));
    EXPECT_NEAR(HERD_MASS(2), 0.3 * (1.0 - q2) + 0.4 * (1.0 - q3), 1e-15);

    /* replaced when the policy says so */
    RESET_MKV_RECORD(RESET_ALL_SLOTS, 300);
    for (int m = 0; m < NSLOT; m++)
        pol->decision[7][3][14][9][m] = DEC_REPLACE;
    mkv->pstate[7][3][14][9][2] = 0.4;
    RUN_CHAIN(1, 1, 1);
    EXPECT_DOUBLE_EQ(mkv->repl[7][1], 0.4);
}

TEST_F(MarkovChain, PregnancyValuesOfKeptCowsByMonth)
{
    /* One cow, pregnant one month, followed until she calves in month 9
    ** of a 12-month run. */
    for (int t = 0; t < NSLOT; t++)
        pol->enter[t] = 0;
    for (int p = 0; p < NMPREG; p++)
        bio->abort[p] = 0.0;
    mkv->pstate[8][2][5][1][2] = 0.5;
    RUN_CHAIN(1, 12, 1);
    for (int t = 1; t <= 9; t++) {
        /* each state is met in one month only: its run sum is that month's */
        const int mim = 4 + t, mpreg = t;
        const double value = mkv->preg[8][t] * rpo->prg[8][2][mim][mpreg][POLICY_MONTH(t)];
        EXPECT_DOUBLE_EQ(mkv->rpo_vwp_n[8][2][mim][mpreg], mkv->preg[8][t]) << "month " << t;
        EXPECT_DOUBLE_EQ(mkv->rpo_vwp[8][2][mim][mpreg], value) << "month " << t;
        for (int k : {mpreg, 10}) {
            EXPECT_DOUBLE_EQ(mkv->rpo_vwp_t_n[t][k], mkv->preg[8][t]) << "month " << t;
            EXPECT_DOUBLE_EQ(mkv->rpo_vwp_t[t][k], value) << "month " << t;
        }
        EXPECT_EQ(mkv->rpo_vwp_t_n[t][0], 0.0) << "month " << t;
    }
    EXPECT_DOUBLE_EQ(mkv->rpo_vwp_n[8][2][5][1], 0.5);
    EXPECT_EQ(mkv->rpo_vwp_t_n[10][10], 0.0); /* calved: no longer pregnant */
    EXPECT_GT(mkv->calvings[2][13][9], 0.0);
}

/* Runs of 48 months and more read the second-year slots from the month
** tables rather than the records: their first 36 months must be the same
** doubles as those of a 36-month run, which reads the records throughout. */
TEST_F(MarkovChain, MonthTablesGiveTheFiguresOfTheRecords)
{
    RUN_PASSES(40);
    auto start = std::make_unique<MkvRecord>(*mkv);
    RUN_CHAIN(1, 36, 1);
    auto records = std::make_unique<MkvRecord>(*mkv);
    *mkv = *start;
    RUN_CHAIN(1, 60, 1);

    const MkvRecord& r = *records;
    const MkvRecord& k = *mkv;
    int compared = 0;
    for (int t = 1; t <= 36; t++) {
        const double pairs[][2] = {
            {r.total_cash[t], k.total_cash[t]},     {r.operating_cash[t], k.operating_cash[t]},
            {r.feedcostdry[t], k.feedcostdry[t]},   {r.feedcostlac[t], k.feedcostlac[t]},
            {r.laborcost[t], k.laborcost[t]},       {r.othercost[t], k.othercost[t]},
            {r.dryoffyield[t], k.dryoffyield[t]},   {r.rpo_sum[t], k.rpo_sum[t]},
            {r.cowvalue_sum[t], k.cowvalue_sum[t]}, {r.cowsales[t], k.cowsales[t]},
            {r.rpo_vwp_t[t][10], k.rpo_vwp_t[t][10]}, {r.rpo_vwp_t[t][0], k.rpo_vwp_t[t][0]},
        };
        for (const auto& pair : pairs) {
            EXPECT_EQ(pair[0], pair[1]) << "month " << t << ", figure " << &pair - pairs;
            compared += pair[0] != 0.0;
        }
        for (int m = 1; m <= MAXMIM; m++) {
            EXPECT_EQ(r.milkyield[m][t], k.milkyield[m][t]) << "month " << t << ", mim " << m;
            EXPECT_EQ(r.dmi_mim[m][t], k.dmi_mim[m][t]) << "month " << t << ", mim " << m;
        }
        for (int c = 1; c <= MAXCURR; c++)
            EXPECT_EQ(r.repl[c][t], k.repl[c][t]) << "month " << t << ", class " << c;
    }
    EXPECT_GT(compared, 36 * 8); /* the herd really earned, fed and sold */
}
