// The hand-set herd of the dynamic-program tests.
#include "dp/dp_herd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "dp/dp.h"
#include "core/records.h"
#include "support/support.h"

void CLEAR_DP_RECORDS()
{
    allocate_records();
    std::memset(static_cast<void*>(bio), 0, sizeof(BioRecord));
    std::memset(static_cast<void*>(fut), 0, sizeof(FutRecord));
    capture_console();
    RESET_POL_RECORD();
    RESET_RPO_RECORD();
    RESET_INS_RECORD();
    RESET_DEL_RECORD();
    captured_console();
    std::memset(heifer_rpo, 0, sizeof heifer_rpo);
    warmstart = 0;
    biofiletime = "herd test 1";
}

/* Row of class s: `side` to each neighbour class (sums stay exact). */
static void spread_row(int s, int lact, int mim, int k, double side)
{
    double* row = bio->pnext[s][lact][mim][k];
    const int lo = side > 0.0 && s > 1 ? s - 1 : s;
    const int hi = side > 0.0 && s < 15 ? s + 1 : s;
    row[s] = 1.0 - (s - lo) * side - (hi - s) * side;
    row[lo] = lo < s ? side : row[s];
    row[hi] = hi > s ? side : row[s];
    bio->lo[s][lact][mim][k] = static_cast<short>(lo);
    bio->hi[s][lact][mim][k] = static_cast<short>(hi);
}

double SMALL_HERD_DAILY_MILK(int curr, int lact, int mim, int mpreg)
{
    if (mpreg >= 8)
        return 0.0;
    return (lact == 1 ? 27.0 : 34.0) * (1.0 + 0.04 * (curr - 8)) * std::exp(-0.06 * (mim - 2)) *
           (1.0 - 0.01 * mpreg);
}

void SET_SMALL_HERD(int maxlact, double interest)
{
    bio->policy = POLICY_OPTIMAL;
    bio->maxlact = static_cast<short>(maxlact);
    bio->vwp[1] = bio->vwp[2] = bio->vwp[3] = 2;
    bio->lbm = 10;
    bio->maxmim = 20;
    bio->start_sea = 10;
    bio->interest = interest;
    bio->fixedcost1 = bio->fixedcost2 = 0.5;
    bio->p_calf = 100.0;
    bio->sel_factor = 1.0;
    bio->cullcost = 50.0;
    bio->wage = 15.0;
    bio->instime = 20.0;
    bio->inscost = 15.0;
    bio->minrev = -1e9;
    for (int t = 0; t < NSLOT; t++) {
        bio->p_heifer[t] = 1400.0 + 20.0 * (t % 12);
        bio->serve[t] = bio->enter[t] = 8;
    }
    for (int p = 1; p < NMPREG; p++)
        bio->abort[p] = 0.01;
    for (int l = 1; l <= MAXLACT; l++)
        for (int m = 1; m <= MAXMIM; m++) {
            for (int sea = 1; sea <= 12; sea++) {
                bio->pind[l][m][sea] = 0.01 + 0.004 * l + (sea == 3 ? 0.01 : 0.0);
                bio->conceptionrate[l][m][sea] = 0.45 - 0.03 * l;
                bio->heatdetectionrate[m][sea] = sea <= 6 ? 0.55 : 0.5;
                bio->reprocost[m][sea] = 4.0;
            }
            for (int t = 1; t < NSLOT; t++)
                bio->sel[l][m][t] = 800.0 - 6.0 * m - 20.0 * l + 5.0 * (t % 12);
        }
    /* a lactation curve by class, dry in the last two months of pregnancy;
    ** revenue is milk less feed */
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= MAXLACT; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    const double daily = SMALL_HERD_DAILY_MILK(c, l, m, p);
                    for (int sea = 1; sea <= 12; sea++)
                        bio->milkyield[c][l][m][p][sea] = daily * 30.4;
                    for (int t = 1; t < NSLOT; t++)
                        bio->rev[c][l][m][p][t] = daily * 30.4 * (t % 12 < 4 ? 0.35 : 0.33) - 4.5 * 30.4;
                }
    /* classes drift early in lactation and at calving; heifers enter
    ** around the middle class */
    for (int s = 1; s <= MAXCURR; s++)
        for (int l = 0; l <= MAXLACT; l++)
            for (int m = 0; m <= MAXMIM; m++) {
                spread_row(s, l, m, 0, m < 10 ? 0.125 : 0.0);
                for (int k = 1; k <= 12; k++)
                    spread_row(s, l, m, k, 0.25);
            }
    const double heifer_row[5] = {0.125, 0.25, 0.25, 0.25, 0.125};
    for (int i = 0; i < 5; i++)
        bio->pnext[0][0][0][0][6 + i] = heifer_row[i];
}

void SET_FLAT_HERD()
{
    SET_SMALL_HERD(2, 0.0);
    bio->p_calf = bio->sel_factor = bio->cullcost = bio->wage = bio->inscost = 0.0;
    std::memset(bio->p_heifer, 0, sizeof bio->p_heifer);
    std::memset(bio->sel, 0, sizeof bio->sel);
    std::memset(bio->reprocost, 0, sizeof bio->reprocost);
    /* revenue matches the fixed cost of the place, 30.4 a month */
    double* rev = &bio->rev[0][0][0][0][0];
    for (std::size_t i = 0; i < sizeof bio->rev / sizeof(double); i++)
        rev[i] = 30.4;
}

std::string RUN_DP(short policy, short& status)
{
    bio->policy = policy;
    capture_console();
    status = DP_POLICY(policy);
    return captured_console();
}
