// The hand-set herd of the dynamic-program tests.
#include "dp_herd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "dp/dp.h"
#include "run/records.h"
#include "support/support.h"

void CLEAR_DP_RECORDS()
{
    ALLOCATE_RECORDS();
    std::memset(static_cast<void*>(bio), 0, sizeof(BioRecord));
    bio->kg = 1;
    std::memset(static_cast<void*>(fut), 0, sizeof(FutRecord));
    testing::internal::CaptureStdout();
    RESET_POL_RECORD();
    RESET_RPO_RECORD();
    RESET_INS_RECORD();
    RESET_DEL_RECORD();
    testing::internal::GetCapturedStdout();
    for (double& v : heifer_rpo)
        v = 0.0;
    DPcash12 = 0.0;
    warmstart = 0;
    biofiletime = "herd test 1";
}

namespace {

/* Spreads a row over s-1, s, s+1 (kept inside 1..15). */
void spread_row(int s, int lact, int mim, int k, double side)
{
    double* row = bio->pnext[s][lact][mim][k];
    for (int c = 0; c < NCURR; c++)
        row[c] = 0.0;
    int lo = s, hi = s;
    row[s] = 1.0;
    if (side > 0.0) {
        if (s > 1) {
            row[s - 1] = side;
            row[s] -= side;
            lo = s - 1;
        }
        if (s < MAXCURR) {
            row[s + 1] = side;
            row[s] -= side;
            hi = s + 1;
        }
    }
    bio->lo[s][lact][mim][k] = static_cast<short>(lo);
    bio->hi[s][lact][mim][k] = static_cast<short>(hi);
}

} // namespace

void SET_SMALL_HERD(int maxlact, double interest)
{
    bio->policy = POLICY_OPTIMAL;
    bio->maxlact = static_cast<short>(maxlact);
    bio->vwp[1] = 2;
    bio->vwp[2] = 2;
    bio->vwp[3] = 2;
    bio->lbm = 10;
    bio->maxmim = 20;
    bio->start_sea = 10;
    bio->interest = interest;
    bio->fixedcost1 = 0.5;
    bio->fixedcost2 = 0.5;
    bio->p_calf = 100.0;
    bio->sel_factor = 1.0;
    bio->cullcost = 50.0;
    bio->wage = 15.0;
    bio->instime = 20.0;
    bio->inscost = 15.0;
    bio->minmilk = 0.0;
    bio->minrev = -1e9;
    for (int t = 0; t < NSLOT; t++) {
        bio->p_heifer[t] = 1400.0 + 20.0 * (t % 12);
        bio->serve[t] = 8;
        bio->enter[t] = 8;
    }
    for (int p = 1; p < NMPREG; p++)
        bio->abort[p] = 0.01;

    for (int l = 1; l <= MAXLACT; l++)
        for (int m = 1; m <= MAXMIM; m++) {
            for (int sea = 1; sea <= 12; sea++) {
                bio->pind[l][m][sea] = 0.01 + 0.004 * l + (sea == 3 ? 0.01 : 0.0);
                bio->conceptionrate[l][m][sea] = 0.45 - 0.03 * l;
            }
            for (int t = 1; t < NSLOT; t++)
                bio->sel[l][m][t] = 800.0 - 6.0 * m - 20.0 * l + 5.0 * (t % 12);
        }
    for (int m = 1; m <= MAXMIM; m++)
        for (int sea = 1; sea <= 12; sea++) {
            bio->heatdetectionrate[m][sea] = 0.5 + (sea <= 6 ? 0.05 : 0.0);
            bio->reprocost[m][sea] = 4.0;
        }

    /* daily milk: a lactation curve by class, dry in the last two months
    ** of pregnancy; monthly revenue is milk minus feed */
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= MAXLACT; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    const double peak = l == 1 ? 27.0 : 34.0;
                    const double rel = (100.0 + 4.0 * (c - 8)) / 100.0;
                    double daily = peak * rel * std::exp(-0.06 * (m - 2)) * (1.0 - 0.01 * p);
                    if (p >= 8)
                        daily = 0.0;
                    for (int sea = 1; sea <= 12; sea++)
                        bio->milkyield[c][l][m][p][sea] = daily * 30.4;
                    for (int t = 1; t < NSLOT; t++) {
                        const double price = 0.33 + (t % 12 < 4 ? 0.02 : 0.0);
                        bio->rev[c][l][m][p][t] = daily * 30.4 * price - 4.5 * 30.4;
                    }
                }

    /* yield classes: a little drift early in lactation, none later; more
    ** at calving; heifers enter around the middle class */
    for (int s = 1; s <= MAXCURR; s++)
        for (int l = 0; l <= MAXLACT; l++)
            for (int m = 0; m <= MAXMIM; m++) {
                spread_row(s, l, m, 0, m < 10 ? 0.125 : 0.0);
                for (int k = 1; k <= 12; k++)
                    spread_row(s, l, m, k, 0.25);
            }
    const double heifer_row[5] = {0.125, 0.25, 0.25, 0.25, 0.125};
    for (int c = 0; c < NCURR; c++)
        bio->pnext[0][0][0][0][c] = 0.0;
    for (int i = 0; i < 5; i++)
        bio->pnext[0][0][0][0][6 + i] = heifer_row[i];
}

void SET_FLAT_HERD()
{
    SET_SMALL_HERD(2, 0.0);
    bio->p_calf = 0.0;
    bio->sel_factor = 0.0;
    bio->cullcost = 0.0;
    for (int t = 0; t < NSLOT; t++)
        bio->p_heifer[t] = 0.0;
    for (int l = 1; l <= MAXLACT; l++)
        for (int m = 1; m <= MAXMIM; m++)
            for (int t = 1; t < NSLOT; t++)
                bio->sel[l][m][t] = 0.0;
    /* revenue matches the fixed cost of the place, 30.4 a month */
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= MAXLACT; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++)
                    for (int t = 1; t < NSLOT; t++)
                        bio->rev[c][l][m][p][t] = 30.4;
    bio->wage = 0.0;
    bio->inscost = 0.0;
    for (int m = 1; m <= MAXMIM; m++)
        for (int sea = 1; sea <= 12; sea++)
            bio->reprocost[m][sea] = 0.0;
}

std::string RUN_DP(short policy, short& status)
{
    bio->policy = policy;
    testing::internal::CaptureStdout();
    status = DP_POLICY(policy);
    return testing::internal::GetCapturedStdout();
}
