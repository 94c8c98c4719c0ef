// The value iteration: start checks, its end, the policies it finds and the
// result tables it leaves.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp/dp_herd.h"
#include "core/records.h"
#include "core/runlog.h"
#include "support/support.h"

namespace {

bool conceived_in_window(int mim, int mpreg)
{
    return mim - mpreg >= bio->vwp[1] && mim - mpreg <= bio->lbm; /* same vwp in every group */
}

/* An open cow milking less than the herd's minimum a day; she is only
** taken for one from her fourth month in milk on. */
bool low_producer(int curr, int lact, int mim)
{
    constexpr int FIRST_JUDGED_MONTH = 4;
    return mim >= FIRST_JUDGED_MONTH && SMALL_HERD_DAILY_MILK(curr, lact, mim, 0) < bio->minmilk;
}

struct RestoreSettings {
    ~RestoreSettings()
    {
        DP_SET_STAGE_LIMIT(10000);
        DP_SET_WORKERS(2);
    }
};

} // namespace

TEST(DpPolicy, ExtrapolateAitken)
{
    capture_console();
    EXPECT_DOUBLE_EQ(EXTRAPOLATE(0.0, 10.0, 15.0), 20.0); /* 0, 10, 15, 17.5 ... -> 20 */
    EXPECT_DOUBLE_EQ(EXTRAPOLATE(100.0, 90.0, 85.0), 80.0);
    EXPECT_EQ(EXTRAPOLATE(0.0, 10.0, 20.0), -9999.0); /* equal steps */
    EXPECT_EQ(EXTRAPOLATE(5.0, 3.0, 3.0), -9999.0);   /* no step */
    EXPECT_EQ(captured_console(), "");
    capture_console();
    EXPECT_EQ(EXTRAPOLATE(0.0, 10.0, 21.0), -9999.0); /* growing steps */
    EXPECT_EQ(captured_console(), ":ratio:0.91");
}

TEST(DpPolicy, SteadyHerdEndsAtStage72)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_FLAT_HERD();
    short status = 0;
    const std::string log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(DP_STAGES(), 72);
    EXPECT_EQ(log.find("\n DP_POLICY started ... policy:1 7% 27% 47% 67% 100%"
                       "\n 1 calc:-1 w:12 sea: 9 fut:0.00 cash:  0.00 yr:0.00 conv:0.000000\n 2 calc:"),
              0u);
    EXPECT_NE(log.find("\n 48 calc:-1 w:12 sea:10 fut:0.00 cash:  0.00 yr:0.00 conv:0.000000*"
                       "\n 49 calc: 1 w:12 sea: 9"),
              std::string::npos);
    EXPECT_NE(log.find("\n 61 calc:13 w: 0 sea: 9"), std::string::npos);
    const std::string done = "\n DP_POLICY done ... 3.0 years  calc:24 111111111111111111111111";
    EXPECT_EQ(log.substr(log.size() - done.size()), done);
    EXPECT_EQ(read_text("msg.txt"), "20 - DP converged, profit:0.00");
}

TEST(DpPolicy, StartChecksPauseAndEndOnlyOutsideTheRecords)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_FLAT_HERD();
    bio->vwp[1] = 1;
    bio->maxmim = 10;
    short status = 0;
    std::string log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(log.find("\n DP_POLICY started ... policy:1"
                       "\n bio->vwp1:1 or bio->vwp2:2 or bio->vwp3:2 or bio->lbm:10 error\a@"
                       "\n bio->maxmim:10 or bio->lbm:10 error\a@"),
              0u);
    EXPECT_EQ(status, 1); /* goes on after the pauses */

    CLEAR_DP_RECORDS();
    SET_FLAT_HERD();
    bio->lbm = 16; /* pregnant cows would run past month 24: never reached */
    bio->maxmim = 24;
    RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(pol->decision[8][1][24][8][1], 8);
    EXPECT_EQ(pol->decision[8][1][24][9][1], 1);

    for (short* bad : {&bio->lbm, &bio->maxmim, &bio->maxlact}) {
        CLEAR_DP_RECORDS();
        SET_FLAT_HERD();
        *bad = bad == &bio->lbm ? 24 : bad == &bio->maxmim ? 25 : 13;
        capture_console();
        EXPECT_THROW(DP_POLICY(POLICY_OPTIMAL), RunEnded);
        log = captured_console();
        EXPECT_NE(log.find("error\a@"), std::string::npos);
        EXPECT_EQ(log.find(" calc:"), std::string::npos);
    }
}

TEST(DpPolicy, OptimalDecisionsAgreeWithPayOffs)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->minmilk = 12.0;
    short status = 0;
    const std::string log = RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    EXPECT_EQ(log.find(" A"), std::string::npos); /* no extrapolation without interest */
    EXPECT_EQ((DP_STAGES() - 72) % 12, 0);        /* converged in the start month */
    double yr = 0.0;
    for (int i = 1; i <= 12; i++)
        yr += fut->cash[i];
    EXPECT_DOUBLE_EQ(DPcash12, yr);

    int counts[3] = {0, 0, 0};
    for (int t = 1; t <= 24; t++) {
        EXPECT_EQ(pol->enter[t], heifer_rpo[t] >= 0.0 ? 1 : 0);
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 3; lact++)
                for (int mim = 1; mim <= 24; mim++) {
                    const short d = pol->decision[curr][lact][mim][0][t];
                    ASSERT_LE(d, 2);
                    counts[d]++;
                    if (low_producer(curr, lact, mim)) {
                        EXPECT_EQ(d, 0);
                    } else {
                        EXPECT_EQ(d == 0, rpo->rpo[curr][lact][mim][0][t] < 0.0);
                    }
                    const bool window = conceived_in_window(mim, 0);
                    EXPECT_TRUE(d != 2 || window);
                    EXPECT_EQ(ins->ins[curr][lact][mim][t] != 0.0, window);
                    EXPECT_EQ(del->open[curr][lact][mim][mim][t], 0.0);
                    EXPECT_EQ(rpo->prg[curr][lact][mim][0][t],
                              mim >= 3 && mim <= 11 ? rpo->prg[curr][lact][mim][1][t] : -9999.0);
                    for (int mpreg = 1; mpreg <= 9; mpreg++) {
                        const short dp = pol->decision[curr][lact][mim][mpreg][t];
                        if (!conceived_in_window(mim, mpreg)) {
                            EXPECT_EQ(dp, 8); /* no cow is ever in this state */
                            EXPECT_EQ(rpo->prg[curr][lact][mim][mpreg][t], -9999.0);
                        } else {
                            EXPECT_EQ(dp == 0, rpo->rpo[curr][lact][mim][mpreg][t] < 0.0);
                            EXPECT_LE(dp, 1);
                        }
                    }
                }
        for (int mim = 0; mim <= 24; mim++)
            EXPECT_EQ(pol->decision[8][4][mim][0][t] + pol->decision[0][1][mim][0][t], 16);
    }
    EXPECT_GT(counts[0], 0);
    EXPECT_GT(counts[1], 0);
    EXPECT_GT(counts[2], 0);
}

TEST(DpPolicy, ServeAndEnterSwitchesForce)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->serve[3] = bio->serve[14] = 0;
    bio->serve[4] = bio->serve[15] = 1;
    bio->enter[22] = 1;
    bio->enter[5] = 0;
    short status = 0;
    RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    EXPECT_EQ(pol->enter[22], 1);
    EXPECT_EQ(pol->enter[5], 0);
    EXPECT_NEAR(heifer_rpo[22], 0.001, 1e-9);
    EXPECT_NEAR(heifer_rpo[5], -0.001, 1e-9);
    int free_bred = 0;
    for (int curr = 1; curr <= 15; curr++)
        for (int lact = 1; lact <= 3; lact++)
            for (int mim = 2; mim <= 10; mim++) {
                const short* d = pol->decision[curr][lact][mim][0];
                EXPECT_TRUE(d[3] != 2 && d[14] != 2 && d[4] != 1 && d[15] != 1);
                free_bred += d[16] == 2;
            }
    EXPECT_GT(free_bred, 0);
}

TEST(DpPolicy, OneStageCalvesTheLastLactationIntoItself)
{
    ScratchDir dir;
    RestoreSettings restore;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.08);
    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 4; l++)
            fut->value[c][l][1][0][0] = l == 4 ? -50000.0 : 100.0 * l + 10.0 * c;
    fut->heifer[0] = 250.0;
    DP_SET_STAGE_LIMIT(1);
    short status = 1;
    RUN_DP(POLICY_KEEPPREG, status);
    EXPECT_EQ(status, 0);
    /* stage 1: calendar month 9, slot 21, next slot 22 */
    const double disc = 1.0 / (1.0 + 0.08 / 12.0);
    const int mim = 12, sea = 9;
    for (int lact = 1; lact <= 3; lact++)
        for (int curr : {1, 8, 15}) {
            const int nl = lact < 3 ? lact + 1 : 3;
            const double M = bio->pind[lact][mim][sea];
            const double loss = disc * M * (bio->sel[lact][mim][22] - 50.0 + disc * 250.0);
            double calving = 0.0;
            for (int c = bio->lo[curr][lact][mim][sea]; c <= bio->hi[curr][lact][mim][sea]; c++)
                calving += bio->pnext[curr][lact][mim][sea][c] * fut->value[c][nl][1][0][0];
            EXPECT_NEAR(fut->value[curr][lact][mim][9][1],
                        bio->rev[curr][lact][mim][9][21] - 30.4 + loss + disc * (1 - M) * calving, 1e-9);
        }
}

TEST(DpPolicy, TwoWorkersGiveTheSameResults)
{
    ScratchDir dir;
    RestoreSettings restore;
    std::string logs[2];
    std::unique_ptr<PolRecord> pols[2];
    std::unique_ptr<DelRecord> dels[2];
    std::unique_ptr<FutRecord> futs[2];
    for (int w = 0; w < 2; w++) {
        CLEAR_DP_RECORDS();
        SET_SMALL_HERD(3, 0.0);
        bio->minmilk = 12.0;
        DP_SET_WORKERS(w + 1);
        short status = 0;
        logs[w] = RUN_DP(POLICY_OPTIMAL, status);
        pols[w] = std::make_unique<PolRecord>(*pol);
        dels[w] = std::make_unique<DelRecord>(*del);
        futs[w] = std::make_unique<FutRecord>(*fut);
    }
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_EQ(std::memcmp(pols[0].get(), pols[1].get(), sizeof(PolRecord)), 0);
    EXPECT_EQ(std::memcmp(dels[0].get(), dels[1].get(), sizeof(DelRecord)), 0);
    EXPECT_EQ(std::memcmp(futs[0].get(), futs[1].get(), sizeof(FutRecord)), 0);
}

TEST(DpPolicy, ExpectedMonthsInHerd)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->maxmim = 24;
    std::memset(bio->pind, 0, sizeof bio->pind);
    short status = 0;
    RUN_DP(POLICY_KEEPALL, status);
    ASSERT_EQ(status, 1);
    for (int t = 1; t <= 24; t++) {
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 3; lact++) {
                for (int mim = 22; mim <= 24; mim++)
                    ASSERT_EQ(pol->decision[curr][lact][mim][0][t], 1);
                EXPECT_NEAR(rpo->life[curr][lact][22][0][t], 3.0, 1e-12);
                EXPECT_NEAR(rpo->life[curr][lact][23][0][t], 2.0, 1e-12);
                EXPECT_EQ(rpo->life[curr][lact][24][0][t], 1.0);
                /* a fresh cow that can calve again stays past month 24 */
                EXPECT_TRUE(lact == 3 || rpo->life[curr][lact][1][0][t] > 24.0);
            }
        EXPECT_EQ(rpo->life[8][3][15][9][t], 1.0); /* calving ends the last lactation */
        EXPECT_GT(rpo->life[8][2][15][9][t], 1.0);
    }
}

/* The stage sums the 15 classes side by side; each class's sum must still
** be the very double a plain loop over its own row gives, also for rows
** that reach the lowest and the highest class. */
TEST(DpPolicy, ClassSumsAreThoseOfAPlainLoop)
{
    ScratchDir dir;
    RestoreSettings restore;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.08);
    const int lact = 2, mim = 12; /* after the breeding window, before the last month */
    for (int s = 1; s <= MAXCURR; s++) {
        double* row = bio->pnext[s][lact][mim][0];
        const int lo = s > 4 ? s - 4 : 1, hi = s < 11 ? s + 4 : 15;
        for (int c = 0; c < NCURR; c++)
            row[c] = c >= lo && c <= hi ? 1.0 / (hi - lo + 1) + 0.001 * c : 0.0;
        bio->lo[s][lact][mim][0] = static_cast<short>(lo);
        bio->hi[s][lact][mim][0] = static_cast<short>(hi);
    }
    for (int c = 0; c < NCURR; c++)
        for (int h = 0; h < NMIM; h++)
            fut->delay_open[c][lact][mim + 1][h][0] = 1000.0 / (c + 3) + 7.0 * h + 0.1 * c * h;
    DP_SET_STAGE_LIMIT(1);
    short status = 1;
    RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 0);
    /* stage 1: calendar month 9, slot 21, next slot 22, empty place worth 0 */
    const double disc = 1.0 / (1.0 + 0.08 / 12.0);
    const double M = bio->pind[lact][mim][9];
    const double loss = disc * M * (bio->sel_factor * bio->sel[lact][mim][22] - bio->cullcost + disc * 0.0);
    const double stay = disc * (1.0 - M);
    for (int curr = 1; curr <= MAXCURR; curr++) {
        const double best = bio->rev[curr][lact][mim][0][21] - DAYS_PER_MONTH + loss + 0.0;
        for (int h = mim + 1; h <= bio->maxmim; h++) {
            double sum = 0.0;
            for (int c = bio->lo[curr][lact][mim][0]; c <= bio->hi[curr][lact][mim][0]; c++)
                sum += bio->pnext[curr][lact][mim][0][c] * fut->delay_open[c][lact][mim + 1][h][0];
            ASSERT_EQ(fut->delay_open[curr][lact][mim][h][1], best + stay * sum) << curr << " " << h;
        }
    }
}
