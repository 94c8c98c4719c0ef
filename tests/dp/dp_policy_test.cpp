// The value iteration: its start checks and end, the policies it finds and
// the result tables it leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp_herd.h"
#include "run/records.h"
#include "run/runlog.h"
#include "support/support.h"

namespace {

bool in_window(int lact, int mim, int mpreg)
{
    const int g = lact < 3 ? lact : 3;
    return mim - mpreg >= bio->vwp[g] && mim - mpreg <= bio->lbm;
}

bool low_producer(int curr, int lact, int mim)
{
    return mim >= 4 && (bio->milkyield[curr][lact][mim][0][12] / 30.4 < bio->minmilk ||
                        bio->rev[curr][lact][mim][0][12] / 30.4 < bio->minrev);
}

/* Restores the run settings of the iteration when a case ends. */
struct DpSettings {
    ~DpSettings()
    {
        DP_SET_STAGE_LIMIT(10000);
        DP_SET_WORKERS(2);
    }
};

} // namespace

TEST(DpPolicy, ExtrapolateAitken)
{
    testing::internal::CaptureStdout();
    /* 0, 10, 15, 17.5, ... tends to 20 */
    EXPECT_DOUBLE_EQ(EXTRAPOLATE(0.0, 10.0, 15.0), 20.0);
    EXPECT_DOUBLE_EQ(EXTRAPOLATE(100.0, 90.0, 85.0), 80.0);
    /* equal steps or no step: nothing to extrapolate, and no ratio line */
    EXPECT_EQ(EXTRAPOLATE(0.0, 10.0, 20.0), -9999.0);
    EXPECT_EQ(EXTRAPOLATE(5.0, 3.0, 3.0), -9999.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    /* steps that do not shrink fast enough print the ratio */
    testing::internal::CaptureStdout();
    EXPECT_EQ(EXTRAPOLATE(0.0, 10.0, 21.0), -9999.0);
    EXPECT_EQ(EXTRAPOLATE(0.0, 10.0, 19.0), 0.0 - 100.0 / (-10.0 + 9.0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), ":ratio:0.91");
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
    EXPECT_EQ(log.rfind("\n DP_POLICY started ... policy:1 7% 27% 47% 67% 100%"
                        "\n 1 calc:-1 w:12 sea: 9 fut:0.00 cash:  0.00 yr:0.00 conv:0.000000",
                        0),
              0u);
    EXPECT_NE(log.find("\n 48 calc:-1 w:12 sea:10 fut:0.00 cash:  0.00 yr:0.00 conv:0.000000*"
                       "\n 49 calc: 1 w:12 sea: 9"),
              std::string::npos);
    EXPECT_NE(log.find("\n 61 calc:13 w: 0 sea: 9"), std::string::npos);
    const std::string done = "\n DP_POLICY done ... 3.0 years  calc:24 111111111111111111111111";
    ASSERT_GE(log.size(), done.size());
    EXPECT_EQ(log.substr(log.size() - done.size()), done);
    EXPECT_EQ(READ_TEXT("msg.txt"), "20 - DP converged, profit:0.00");
    EXPECT_EQ(log.find(" A"), std::string::npos);
}

TEST(DpPolicy, NoExtrapolationWithoutInterest)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    short status = 0;
    const std::string log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(status, 1);
    EXPECT_GE(DP_STAGES(), 72);
    EXPECT_EQ((DP_STAGES() - 72) % 12, 0); /* convergence only in the start month */
    EXPECT_EQ(log.find(" A"), std::string::npos);
    /* the yearly cash value is left for the statistics */
    double yr = 0.0;
    for (int i = 1; i <= 12; i++)
        yr += fut->cash[i];
    EXPECT_DOUBLE_EQ(DPcash12, yr);
    EXPECT_GT(DPcash12, 0.0);
}

TEST(DpPolicy, StartChecksPauseAndEndOnlyOutsideTheRecords)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_FLAT_HERD();
    bio->vwp[1] = 1;
    short status = 0;
    std::string log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(log.find("\n DP_POLICY started ... policy:1\n bio->vwp1:1 or bio->vwp2:2 or bio->vwp3:2 "
                       "or bio->lbm:10 error\a@"),
              0u);
    EXPECT_EQ(status, 1); /* goes on after the pause */

    CLEAR_DP_RECORDS();
    SET_FLAT_HERD();
    bio->lbm = 16; /* pregnant cows would run past month 24: those are skipped */
    bio->maxmim = 24;
    log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_NE(log.find("\n bio->vwp1:2 or bio->vwp2:2 or bio->vwp3:2 or bio->lbm:16 error\a@"),
              std::string::npos);
    EXPECT_EQ(log.find("bio->maxmim"), std::string::npos);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(pol->decision[8][1][24][7][1], 8);

    CLEAR_DP_RECORDS();
    SET_FLAT_HERD();
    bio->maxmim = 10; /* the last breeding month must come before it */
    log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_NE(log.find("\n DP_POLICY started ... policy:1\n bio->maxmim:10 or bio->lbm:10 error\a@"),
              std::string::npos);
    EXPECT_EQ(status, 1);

    for (int bad = 0; bad < 3; bad++) {
        CLEAR_DP_RECORDS();
        SET_FLAT_HERD();
        if (bad == 0)
            bio->lbm = 24;
        else if (bad == 1)
            bio->maxmim = 25;
        else
            bio->maxlact = 13;
        testing::internal::CaptureStdout();
        EXPECT_THROW(DP_POLICY(POLICY_OPTIMAL), RunEnded);
        log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find("error\a@"), std::string::npos) << log;
        EXPECT_EQ(log.find(" calc:"), std::string::npos);
    }
}

TEST(DpPolicy, NotConvergedRunsNothingFromTheBioFile)
{
    ScratchDir dir;
    DpSettings restore;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(2, 0.0);
    biofiletime = "x; touch pwned #";
    DP_SET_STAGE_LIMIT(5);
    short status = 1;
    const std::string log = RUN_DP(POLICY_OPTIMAL, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(DP_STAGES(), 5);
    EXPECT_NE(log.find("\n 5 calc:-1 w:12 sea: 5 fut:"), std::string::npos);
    EXPECT_NE(log.find("\n DP_POLICY not converged, biofiletime = x; touch pwned #\a"
                       "\n WRITE_WARM_FILE started ... warm.txt\n WRITE_WARM_FILE done ..."),
              std::string::npos);
    EXPECT_FALSE(FILE_EXISTS("pwned"));
    EXPECT_EQ(READ_TEXT("msg.txt"), "19 - DP convergence failed");
    /* the warm file holds the buffer the last stage read: stage 4's values */
    const std::string warm = READ_TEXT("warm.txt");
    char expect[64];
    std::snprintf(expect, sizeof expect, "%f\n%f\n", fut->heifer[0] - fut->heifer_now, 0.0);
    EXPECT_EQ(warm.substr(0, std::strlen(expect)), expect);
}

TEST(DpPolicy, OptimalDecisionsMatchPayOffs)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->minmilk = 12.0;
    short status = 0;
    RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);

    int replaced = 0, bred = 0, kept = 0, low = 0;
    for (int t = 1; t <= 24; t++) {
        EXPECT_EQ(pol->enter[t], heifer_rpo[t] >= 0.0 ? 1 : 0) << t;
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 3; lact++)
                for (int mim = 1; mim <= 24; mim++) {
                    const short d = pol->decision[curr][lact][mim][0][t];
                    const double r = rpo->rpo[curr][lact][mim][0][t];
                    if (low_producer(curr, lact, mim)) {
                        EXPECT_EQ(d, 0);
                        low++;
                    } else {
                        EXPECT_EQ(d == 0, r < 0.0) << curr << " " << lact << " " << mim << " " << t;
                    }
                    const bool window = in_window(lact, mim, 0) && mim < bio->maxmim;
                    if (!window) {
                        EXPECT_NE(d, 2);
                    }
                    EXPECT_EQ(ins->ins[curr][lact][mim][t] != 0.0, window);
                    replaced += d == 0;
                    bred += d == 2;
                    kept += d == 1;
                    /* a cow that takes her best value at once loses nothing */
                    EXPECT_EQ(del->open[curr][lact][mim][mim][t], 0.0);
                    for (int mpreg = 1; mpreg <= 9; mpreg++) {
                        const short dp = pol->decision[curr][lact][mim][mpreg][t];
                        if (!in_window(lact, mim, mpreg)) {
                            EXPECT_EQ(dp, 8);
                            EXPECT_EQ(rpo->prg[curr][lact][mim][mpreg][t], -9999.0);
                            continue;
                        }
                        EXPECT_EQ(dp == 0, rpo->rpo[curr][lact][mim][mpreg][t] < 0.0);
                        EXPECT_NE(dp, 2);
                        if (t == bio->start_sea) { /* the last stage's values */
                            EXPECT_DOUBLE_EQ(rpo->prg[curr][lact][mim][mpreg][t],
                                             fut->value[curr][lact][mim][mpreg][0] -
                                                 fut->value[curr][lact][mim][0][0]);
                        }
                    }
                    if (mim >= 3 && mim <= bio->lbm + 1)
                        EXPECT_EQ(rpo->prg[curr][lact][mim][0][t], rpo->prg[curr][lact][mim][1][t]);
                    else
                        EXPECT_EQ(rpo->prg[curr][lact][mim][0][t], -9999.0);
                }
        /* states no cow can be in keep their reset value */
        for (int mim = 1; mim <= 24; mim++)
            for (int mpreg = 0; mpreg <= 9; mpreg++) {
                EXPECT_EQ(pol->decision[8][4][mim][mpreg][t], 8);
                EXPECT_EQ(pol->decision[0][1][mim][mpreg][t], 8);
            }
    }
    EXPECT_EQ(pol->enter[0], 8);
    EXPECT_EQ(pol->decision[8][1][5][0][0], 8);
    EXPECT_GT(replaced, low);
    EXPECT_GT(bred, 0);
    EXPECT_GT(kept, 0);
}

TEST(DpPolicy, KeepAllAndKeepPreg)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->minmilk = 20.0;
    short status = 0;
    RUN_DP(POLICY_KEEPALL, status);
    ASSERT_EQ(status, 1);
    int low = 0, early_low = 0;
    for (int t = 1; t <= 24; t++)
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 3; lact++)
                for (int mim = 1; mim <= 24; mim++) {
                    const bool is_low = low_producer(curr, lact, mim);
                    low += is_low;
                    early_low += mim < 4 && bio->milkyield[curr][lact][mim][0][12] / 30.4 < 20.0;
                    EXPECT_EQ(pol->decision[curr][lact][mim][0][t] == 0, is_low);
                    for (int mpreg = 1; mpreg <= 9; mpreg++)
                        if (in_window(lact, mim, mpreg)) {
                            EXPECT_EQ(pol->decision[curr][lact][mim][mpreg][t], 1);
                        }
                }
    EXPECT_GT(low, 0);
    EXPECT_GT(early_low, 0); /* months 1..3 are never tested */

    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    RUN_DP(POLICY_KEEPPREG, status);
    ASSERT_EQ(status, 1);
    int open_replaced = 0;
    for (int t = 1; t <= 24; t++)
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 3; lact++)
                for (int mim = 1; mim <= 24; mim++) {
                    open_replaced += pol->decision[curr][lact][mim][0][t] == 0;
                    for (int mpreg = 1; mpreg <= 9; mpreg++)
                        if (in_window(lact, mim, mpreg)) {
                            EXPECT_EQ(pol->decision[curr][lact][mim][mpreg][t], 1);
                        }
                }
    EXPECT_GT(open_replaced, 0);
}

TEST(DpPolicy, ServeAndEnterSwitchesForce)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->serve[14] = 0;
    bio->serve[3] = 0;
    bio->serve[15] = 1;
    bio->serve[4] = 1;
    bio->enter[22] = 1; /* entry is not chosen freely in slot 22 */
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
                for (int t : {3, 14})
                    EXPECT_NE(pol->decision[curr][lact][mim][0][t], 2);
                for (int t : {4, 15})
                    EXPECT_NE(pol->decision[curr][lact][mim][0][t], 1);
                free_bred += pol->decision[curr][lact][mim][0][16] == 2;
            }
    EXPECT_GT(free_bred, 0);
}

TEST(DpPolicy, OneStageFromGivenValues)
{
    /* One stage from hand-set values: the calving and pregnancy sums, and
    ** the last lactation calving into itself. */
    ScratchDir dir;
    DpSettings restore;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.08);
    for (int c = 1; c <= 15; c++)
        for (int l = 1; l <= 4; l++)
            for (int m = 1; m <= 24; m++)
                for (int p = 0; p <= 9; p++)
                    fut->value[c][l][m][p][0] = l == 4 ? -50000.0 : 100.0 * l + 10.0 * c + m + 0.5 * p;
    fut->heifer[0] = 250.0;
    DP_SET_STAGE_LIMIT(1);
    short status = 1;
    RUN_DP(POLICY_KEEPPREG, status);
    EXPECT_EQ(status, 0);

    const double disc = 1.0 / (1.0 + 0.08 / 12.0);
    const double cost = 30.4;
    const int sea = 9, t = 21, tn = 22;
    const double place = disc * 250.0;
    for (int lact = 1; lact <= 3; lact++)
        for (int curr : {1, 8, 15}) {
            const int nl = lact < 3 ? lact + 1 : 3;
            const int mim = 12;
            const double M = bio->pind[lact][mim][sea];
            const double loss = disc * M * (bio->sel[lact][mim][tn] - 50.0 + place);
            double calving = 0.0;
            for (int c = bio->lo[curr][lact][mim][sea]; c <= bio->hi[curr][lact][mim][sea]; c++)
                calving += bio->pnext[curr][lact][mim][sea][c] * fut->value[c][nl][1][0][0];
            EXPECT_NEAR(fut->value[curr][lact][mim][9][1],
                        bio->rev[curr][lact][mim][9][t] - cost + loss + disc * (1 - M) * calving, 1e-9);
            EXPECT_GT(fut->value[curr][lact][mim][9][1], 0.0); /* never lactation 4 */

            const int m5 = 9; /* pregnant 5 months, conceived in month 4 */
            const double M5 = bio->pind[lact][m5][sea];
            const double loss5 = disc * M5 * (bio->sel[lact][m5][tn] - 50.0 + place);
            double next = 0.0;
            for (int c = bio->lo[curr][lact][m5][0]; c <= bio->hi[curr][lact][m5][0]; c++)
                next += bio->pnext[curr][lact][m5][0][c] *
                        (0.99 * fut->value[c][lact][m5 + 1][6][0] + 0.01 * fut->value[c][lact][m5 + 1][0][0]);
            EXPECT_NEAR(fut->value[curr][lact][m5][5][1],
                        bio->rev[curr][lact][m5][5][t] - cost + loss5 + disc * (1 - M5) * next, 1e-9);
        }
}

TEST(DpPolicy, TwoWorkersGiveTheSameResults)
{
    ScratchDir dir;
    DpSettings restore;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->minmilk = 12.0;
    DP_SET_WORKERS(1);
    short status = 0;
    const std::string log1 = RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    auto decisions = std::make_unique<PolRecord>(*pol);
    std::vector<double> values(&fut->value[0][0][0][0][0], &fut->value[0][0][0][0][0] + sizeof(fut->value) / 8);
    auto dels = std::make_unique<DelRecord>(*del);

    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->minmilk = 12.0;
    DP_SET_WORKERS(2);
    const std::string log2 = RUN_DP(POLICY_OPTIMAL, status);
    ASSERT_EQ(status, 1);
    EXPECT_EQ(log1, log2);
    EXPECT_EQ(std::memcmp(decisions.get(), pol, sizeof(PolRecord)), 0);
    EXPECT_EQ(std::memcmp(values.data(), fut->value, sizeof(fut->value)), 0);
    EXPECT_EQ(std::memcmp(dels.get(), del, sizeof(DelRecord)), 0);
}

TEST(DpPolicy, ExpectedMonthsInHerd)
{
    ScratchDir dir;
    CLEAR_DP_RECORDS();
    SET_SMALL_HERD(3, 0.0);
    bio->maxmim = 24;
    for (int l = 0; l <= 12; l++)
        for (int m = 0; m <= 24; m++)
            for (int s = 0; s <= 12; s++)
                bio->pind[l][m][s] = 0.0;
    short status = 0;
    RUN_DP(POLICY_KEEPALL, status);
    ASSERT_EQ(status, 1);
    for (int t = 1; t <= 24; t++)
        for (int curr = 1; curr <= 15; curr++)
            for (int lact = 1; lact <= 3; lact++) {
                for (int mim = 22; mim <= 24; mim++)
                    ASSERT_EQ(pol->decision[curr][lact][mim][0][t], 1);
                EXPECT_NEAR(rpo->life[curr][lact][22][0][t], 3.0, 1e-12);
                EXPECT_NEAR(rpo->life[curr][lact][23][0][t], 2.0, 1e-12);
                EXPECT_EQ(rpo->life[curr][lact][24][0][t], 1.0);
                /* a fresh cow that can calve again stays beyond month 24 */
                if (lact < 3) {
                    EXPECT_GT(rpo->life[curr][lact][1][0][t], 24.0);
                }
            }
    for (int t = 1; t <= 24; t++)
        EXPECT_EQ(rpo->life[8][3][15][9][t], 1.0); /* calves out of the last lactation */
    EXPECT_GT(rpo->life[8][2][15][9][5], 1.0);
    EXPECT_EQ(rpo->life[8][4][1][0][5], 0.0);
}
