/*
** markov_chain_stats.cpp -- herd statistics from a collected projection.
**
** MARKOV_CHAIN_STATS runs once after the collecting MARKOV_CHAIN call and
** turns the monthly accumulators of the mkv record into herd figures:
**
**   - monthly ratios (cull price, days in milk, calving interval, days to
**     conception, to the end of the waiting period, to first service and
**     to last breeding, average yield class);
**   - yearly figures per cow per year (_cyr) and per hundredweight of milk
**     (_cwt) for the statistic years 1..4 (months 1-12, 13-24, 25-36 and
**     37..maxm), with the discounting restarted every statistic year;
**   - breakdowns by lactation and calving month, by yield class, by month
**     in milk, by calendar month and by month of pregnancy.
**
** Everything is left in the mkv record (the accumulator arrays keep their
** totals in their index-0 cells, the derived figures live in mkv->stats)
** for WRITE_MKV_STATS to print.  The herd is one herd place, so every sum
** over states is a figure per cow.
**
** The event tables (conceptions, first services, services after the
** waiting period, bred mass) keep the month as their first index, so that
** a short run touches only its own months of them; they are still walked
** state by state with the month innermost, which keeps every sum in the
** order it has always had (the months of one class and lactation are a
** few kilobytes apart and stay in the cache).  Every quotient whose
** divisor is not positive keeps the 0 the record was reset to, so no
** figure prints inf or nan.
*/
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "core/numeric.h"
#include "core/records.h"
#include "core/runlog.h"
#include "stats/stats.h"

namespace {

/* Scratch sums that have no home in the mkv record.  Arrays by month keep
** the statistic-year total in slot 0. */
struct StatsWork {
    double wc[NT];                      /* calving weights */
    double wvwp_t[NT], wvwp_curr[NCURR]; /* waiting-period weights */
    double wfs_t[NT], wfs_curr[NCURR];   /* first-service weights */

    /* last breeding: value (days x mass) and weight (mass) */
    double lbm_val[NCURR][NLACT][NT], lbm_w[NCURR][NLACT][NT];
    double lbm_val_t[NT], lbm_w_t[NT];

    /* insemination value over breedable mass */
    double ins_mim[NMIM], brd_mim[NMIM];
    double ins_t[NT], brd_t[NT];

    /* weights of the state-value tables */
    double pv_curr_w[NCURR][11];
    double pv_lact_w[NLACT][11];
    double pv_mim_w[NMIM][11];
    double pv_mpreg_w[11];
    double pv_t_w[NT][11];
    double pv_curr_lact_w[NCURR][NLACT][11];

    /* pregnancy-rate sums by calendar month, [0] the year total */
    double sum_delayed[NSEA], sum_servpreg[NSEA], sum_serv[NSEA];

    /* year sums of the open cows replaced: count and the six values */
    double replopen_yr[7];

    /* calving-season weights: by lactation [l][0] and calving month [0][cm] */
    double w_ci[NLACT][NSEA], w_dtc[NLACT][NSEA], w_vwp[NLACT][NSEA], w_fs[NLACT][NSEA];

    /* disposals by calving month and year slot: month-weighted sum, mass */
    double pind_msum[NSEA][NYR], pind_mass[NSEA][NYR];
    double repl_msum[NSEA][NYR], repl_mass[NSEA][NYR];
};

/* out = num / den when the divisor is positive; otherwise out keeps the
** value it had (0 after the reset of the record). */
void divide(double& out, double num, double den)
{
    if (den > 0.0)
        out = num / den;
}

int lact_limit()
{
    if (bio->maxlact < 0)
        return 0;
    return bio->maxlact > MAXLACT ? MAXLACT : bio->maxlact;
}

/* Days to an event: conceptions, services after the waiting period and
** first services, summed by class (whole run) and by month.  The weights of
** the waiting-period and first-service averages go to the work block. */
void event_sums(double (*e)[NCURR][NLACT][NMIM], double* w_t, double* w_curr, unsigned short maxm)
{
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= MAXLACT; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int t = 1; t <= maxm; t++) {
                    double x = e[t][c][l][m];
                    if (x == 0.0)
                        continue;
                    double days = DAYS_PER_MONTH * m * x;
                    e[0][c][0][0] += days;
                    e[t][0][0][0] += days;
                    if (w_t) {
                        w_t[t] += x;
                        w_curr[c] += x;
                    }
                }
}

/* Days to last breeding: for each class, lactation and month, the highest
** month in milk with bred mass of at least 1e-9 (month in milk 1 when none
** qualifies) gives value DAYS_PER_MONTH x mim x mass and weight mass. */
void last_breeding_sums(StatsWork& w, unsigned short maxm)
{
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= MAXLACT; l++)
            for (int t = 1; t <= maxm; t++) {
                int m = MAXMIM;
                while (m > 1 && mkv->bred[t][c][l][m] < 1e-9)
                    m--;
                double mass = mkv->bred[t][c][l][m];
                w.lbm_val[c][l][t] = DAYS_PER_MONTH * m * mass;
                w.lbm_w[c][l][t] = mass;
                w.lbm_val_t[t] += w.lbm_val[c][l][t];
                w.lbm_w_t[t] += mass;
            }
}

/* State values (retention pay-off of pregnancy) by class, lactation, month
** in milk, month of pregnancy and month; cell 10 gathers all pregnant
** states.  The projection has summed them by month and by state already.
** Values go to mkv->stats, weights to the work block. */
void state_value_sums(StatsWork& w, unsigned short maxm)
{
    MkvStats& s = mkv->stats;
    for (int t = 1; t <= maxm; t++)
        for (int k = 0; k <= 10; k++) {
            s.pv_t[t][k] += mkv->rpo_vwp_t[t][k];
            w.pv_t_w[t][k] += mkv->rpo_vwp_t_n[t][k];
        }
    int maxlact = lact_limit();
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= maxlact; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    const double v_sum = mkv->rpo_vwp[c][l][m][p];
                    const double w_sum = mkv->rpo_vwp_n[c][l][m][p];
                    int cells[2] = {p, 10};
                    int ncells = p >= 1 ? 2 : 1;
                    for (int i = 0; i < ncells; i++) {
                        int k = cells[i];
                        s.pv_curr[c][k] += v_sum;
                        w.pv_curr_w[c][k] += w_sum;
                        s.pv_lact[l][k] += v_sum;
                        w.pv_lact_w[l][k] += w_sum;
                        s.pv_mim[m][k] += v_sum;
                        w.pv_mim_w[m][k] += w_sum;
                        s.pv_mpreg[k] += v_sum;
                        w.pv_mpreg_w[k] += w_sum;
                        s.pv_curr_lact[c][l][k] += v_sum;
                        w.pv_curr_lact_w[c][l][k] += w_sum;
                    }
                }
}

/* A table [mim][t][yr] of the open cows replaced by decision. */
using ReplOpenTable = double (*)[NT][NYR];

/* The seven tables of the open cows replaced: the count, then the six
** values that are averaged over it. */
ReplOpenTable replopen_table(int i)
{
    MkvStats& s = mkv->stats;
    ReplOpenTable tables[7] = {s.replopen_count,   s.replopen_dim_avg, s.replopen_cur_avg,
                               s.replopen_mlk_avg, s.replopen_iof_avg, s.replopen_rev_avg,
                               s.replopen_rpo_avg};
    return tables[i];
}

/* The money and milk of statistic year yr (of `ny` years): the discounted
** sums annualised, the equivalent annual annuity, and every flow per cow
** per year and per hundredweight of milk. */
void money_figures(int yr, double ny, double sumd0, double sumd1)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;

    /* annualise: discounted sums over the sum of the discount factors */
    double* start_of_month[] = {r->milksales,          r->calfsales,          r->feedcostdry,
                                r->feedcostlac,        r->breedingsupplycost, r->heiferpurchasecost,
                                r->vetcost,            r->laborcost,          r->othercost,
                                r->fixedcost_labor,    r->fixedcost_other};
    for (double* x : start_of_month)
        divide(x[0], x[0] * 12.0, sumd0);
    divide(r->cowsales[0], r->cowsales[0] * 12.0, sumd1);
    divide(r->loss[0], r->loss[0] * 12.0, sumd1);

    /* equivalent annual annuity */
    double e = r->milksales[0] + r->calfsales[0] - r->feedcostdry[0] - r->feedcostlac[0] -
               r->breedingsupplycost[0] - r->heiferpurchasecost[0] - r->vetcost[0] -
               r->laborcost[0] - r->othercost[0] - r->fixedcost_labor[0] - r->fixedcost_other[0] +
               r->cowsales[0] - r->loss[0];
    double cwt = r->cwt[0];
    divide(s.eaa_cyr[yr], e, ny);
    divide(s.eaa_cwt[yr], e, cwt);

    /* per cow per year and per hundredweight */
    struct PerCow {
        double* cyr;
        double* cwt;
        double a;
    };
    const PerCow per_cow[] = {
        {s.cash_cyr, s.cash_cwt, r->total_cash[0]},
        {s.milkyield_cyr, s.milkyield_cwt, r->milkyield[0][0]},
        {s.milksales_cyr, s.milksales_cwt, r->milksales[0]},
        {s.breedingsupplycost_cyr, s.breedingsupplycost_cwt, r->breedingsupplycost[0]},
        {s.feedcost_cyr, s.feedcost_cwt, r->feedcostdry[0] + r->feedcostlac[0]},
        {s.heifercost_cyr, s.heifercost_cwt, r->heiferpurchasecost[0]},
        {s.cowsales_cyr, s.cowsales_cwt, r->cowsales[0]},
        {s.calfsales_cyr, s.calfsales_cwt, r->calfsales[0]},
        {s.laborcost_cyr, s.laborcost_cwt, r->laborcost[0]},
        {s.loss_cyr, s.loss_cwt, r->loss[0]},
        {s.vetcost_cyr, s.vetcost_cwt, r->vetcost[0]},
        {s.othercost_cyr, s.othercost_cwt, r->othercost[0]},
        {s.fixedcost_labor_cyr, s.fixedcost_labor_cwt, r->fixedcost_labor[0]},
        {s.fixedcost_other_cyr, s.fixedcost_other_cwt, r->fixedcost_other[0]},
        {s.breedingcost_cyr, s.breedingcost_cwt, r->breedinglaborcost[0] + r->breedingsupplycost[0]},
    };
    for (const PerCow& pc : per_cow) {
        divide(pc.cyr[yr], pc.a, ny);
        divide(pc.cwt[yr], pc.a, cwt);
    }
    s.livestockcost_cyr[yr] = s.heifercost_cyr[yr] - s.cowsales_cyr[yr];
    s.livestockcost_cwt[yr] = s.heifercost_cwt[yr] - s.cowsales_cwt[yr];
}

/* The culling, day-count, reproduction and value figures of statistic year
** yr, whose months are first..t. */
void herd_figures(const StatsWork& w, int yr, int first, int t)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;

    /* culling */
    double present = r->present[0][0];
    double culled = r->repl[0][0] + r->pind[0][0];
    divide(s.cullrateall[yr], culled * 12.0, present);
    divide(s.cullratevol[yr], r->repl[0][0] * 12.0, present);
    divide(s.cullrateinv[yr], r->pind[0][0] * 12.0, present);
    if (s.cullrateall[yr] > 0.0)
        s.herdlife[yr] = 1.0 / s.cullrateall[yr] * DAYS_PER_MONTH * 12.0;
    divide(s.cullprice_yr[yr], r->cowsales[0], culled);

    /* ratios */
    double newpreg = r->newpreg[0][0][0];
    divide(s.preglaborcost[yr], r->breedinglaborcost[0], newpreg);
    divide(s.pregsupplycost[yr], r->breedingsupplycost[0], newpreg);
    divide(s.daysopen[yr], r->openmim_sum[0] * DAYS_PER_MONTH, r->open[0][0]);
    divide(s.daystoconc_yr[yr], r->conceptions[0][0][0][0], newpreg);
    divide(s.clvinterval[yr], r->calvings[0][0][0], w.wc[0]);
    divide(s.dvwp_yr[yr], r->delayserv[0][0][0][0], w.wvwp_t[0]);
    divide(s.daysfs[yr], r->firstserv[0][0][0][0], w.wfs_t[0]);
    divide(s.dlbm_yr[yr], w.lbm_val_t[0], w.lbm_w_t[0]);
    divide(s.daysopen_cost[yr], -r->delval[0][0][0], r->delval_n[0][0][0]);
    divide(s.dayspreg_cost[yr], -r->delval2[0][0][0], r->delval2_n[0][0][0]);
    divide(s.opendays_yr[yr], r->open[0][0] * 365.0, present);
    divide(s.feedcostdry_cyr[yr], r->feedcostdry[0] * 12.0, present - r->milking[0]);
    divide(s.feedcostlac_cyr[yr], r->feedcostlac[0] * 12.0, r->milking[0]);
    divide(s.cowvalue[yr], r->cowvalue_sum[0], r->cowvalue_n[0]);
    divide(s.dim_yr[yr], r->dim_sum[0], r->milking[0]);
    divide(s.abortrisk[yr], r->abortions[0] * 8.0, r->abortrisk_n[0]);
    for (int sea = 0; sea <= 12; sea++) {
        divide(s.pregnancyrate0[sea][yr], w.sum_servpreg[sea], w.sum_serv[sea]);
        divide(s.pregnancyrate1[sea][yr], w.sum_servpreg[sea], w.sum_serv[sea] + w.sum_delayed[sea]);
    }

    /* state values of the year: open (cell 0) and all pregnant (cell 10) */
    double open_v = 0.0, open_w = 0.0, preg_v = 0.0, preg_w = 0.0;
    for (int m = first; m <= t; m++) {
        open_v += s.pv_t[m][0];
        open_w += w.pv_t_w[m][0];
        preg_v += s.pv_t[m][10];
        preg_w += w.pv_t_w[m][10];
    }
    divide(s.pv_open[yr], open_v, open_w);
    divide(s.pv_preg[yr], preg_v, preg_w);
    divide(s.inseminationvalue[0][0][yr], w.ins_t[0], w.brd_t[0]);
    for (int i = 1; i < 7; i++)
        divide(replopen_table(i)[0][0][yr], w.replopen_yr[i], w.replopen_yr[0]);
}

/* Clears the year accumulators for the next statistic year. */
void clear_year(StatsWork& w, double& sumd0, double& sumd1)
{
    MkvRecord* r = mkv;
    sumd0 = 0.0;
    sumd1 = 0.0;
    double* monthly[] = {r->heiferpurchasecost, r->breedingsupplycost, r->breedinglaborcost,
                         r->calfsales,          r->feedcostdry,        r->feedcostlac,
                         r->fixedcost_labor,    r->fixedcost_other,    r->milksales,
                         r->laborcost,          r->othercost,          r->vetcost,
                         r->cowsales,           r->loss,               r->abortions,
                         r->abortrisk_n,        r->calved,             r->total_cash,
                         r->cwt,                r->cowvalue_sum,       r->cowvalue_n,
                         r->milking,            r->openmim_sum,        r->rpo_sum,
                         r->rpo_n,              r->dim_sum};
    for (double* x : monthly)
        x[0] = 0.0;
    r->calvings[0][0][0] = 0.0;
    r->newpreg[0][0][0] = 0.0;
    r->conceptions[0][0][0][0] = 0.0;
    r->delayserv[0][0][0][0] = 0.0;
    r->firstserv[0][0][0][0] = 0.0;
    r->delval[0][0][0] = 0.0;
    r->delval_n[0][0][0] = 0.0;
    r->delval2[0][0][0] = 0.0;
    r->delval2_n[0][0][0] = 0.0;
    r->milkyield[0][0] = 0.0;
    r->preg[0][0] = 0.0;
    r->open[0][0] = 0.0;
    r->pind[0][0] = 0.0;
    r->present[0][0] = 0.0;
    r->repl[0][0] = 0.0;
    for (int i = 0; i < 7; i++) {
        replopen_table(i)[0][0][0] = 0.0;
        w.replopen_yr[i] = 0.0;
    }
    w.wc[0] = 0.0;
    w.wvwp_t[0] = 0.0;
    w.wfs_t[0] = 0.0;
    w.lbm_val_t[0] = 0.0;
    w.lbm_w_t[0] = 0.0;
    w.ins_t[0] = 0.0;
    w.brd_t[0] = 0.0;
    for (int sea = 0; sea <= 12; sea++) {
        w.sum_delayed[sea] = 0.0;
        w.sum_servpreg[sea] = 0.0;
        w.sum_serv[sea] = 0.0;
    }
}

/* Closes the statistic year of months first..t: annualises the discounted sums,
** derives the yearly figures and clears the year accumulators. */
void year_end(StatsWork& w, unsigned short maxm, int first, int t, double& sumd0, double& sumd1, int& k)
{
    int yr;
    int years;
    if (t == 12 || t == 24 || t == 36) {
        yr = t / 12;
        years = 1;
    } else {
        yr = 4;
        years = (static_cast<int>(maxm) - 36) / 12;
    }
    k = 0;
    money_figures(yr, years, sumd0, sumd1);
    herd_figures(w, yr, first, t);
    clear_year(w, sumd0, sumd1);
}

/* Progress mark of a pass over months 1..maxm: month 1, every fifth of the
** run and the last month. */
bool progress_month(int t, unsigned short maxm)
{
    int step = maxm / 5;
    return t == 1 || (step > 0 && t % step == 0) || t == maxm;
}

/* Month t's money and counts into the year sums: flows discounted to the
** start of the month, cow sales and losses to its end, counts undiscounted;
** and the check of the first steady year against the dynamic program. */
void year_flow_sums(int t, int sea, int k, double& sumd0, double& sumd1)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;
    const int off = t <= 12 ? 0 : 12;

    /* discount factors at the start and the end of the month */
    double d0 = 1.0, d1 = 1.0;
    if (bio->analysis != ANALYSIS_STEADY_STATE) {
        double rate = bio->interest / 12.0;
        d0 = DISCOUNT(rate, k - 1);
        d1 = DISCOUNT(rate, k);
    }
    sumd0 += d0;
    sumd1 += d1;

    /* year sums: flows discounted to the start of the month ... */
    r->heiferpurchasecost[0] += d0 * bio->p_heifer[sea + off] * r->heiferpool[t];
    double* start_of_month[] = {r->breedingsupplycost, r->breedinglaborcost, r->calfsales,
                                r->feedcostdry,        r->feedcostlac,       r->fixedcost_labor,
                                r->fixedcost_other,    r->milksales,         r->laborcost,
                                r->othercost,          r->vetcost};
    for (double* x : start_of_month)
        x[0] += d0 * x[t];
    /* ... sales and losses of cows leaving to its end ... */
    r->cowsales[0] += d1 * r->cowsales[t];
    r->loss[0] += d1 * r->loss[t];
    /* ... and the undiscounted counts */
    double* plain[] = {r->abortions, r->abortrisk_n, r->calved,    r->total_cash,
                       r->cwt,       r->cowvalue_sum, r->cowvalue_n, r->milking,
                       r->openmim_sum, r->rpo_sum,   r->rpo_n,     r->dim_sum};
    for (double* x : plain)
        x[0] += x[t];
    s.cash_maxm += r->total_cash[t];

    /* with no discounting the first year of the steady herd must earn what
    ** the dynamic program valued */
    if (bio->analysis == ANALYSIS_STEADY_STATE && bio->interest <= 0.0001 && t == 12 &&
        std::fabs(s.cash_maxm - DPcash12) > 0.01)
        std::printf("\n MARKOV_CHAIN_STATS: difference: mkv->cash_maxm:%f  DPcash12:%f", s.cash_maxm,
                    DPcash12);
}

/* Month t's day counts: calving interval, days to conception, to the end of
** the waiting period, to first and to last service, and the cost of a
** further month open or pregnant. */
void day_count_sums(StatsWork& w, int t)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;

    /* calving interval in months */
    double ci = 0.0, wc = 0.0;
    for (int l = 1; l <= MAXLACT; l++)
        for (int m = 1; m <= MAXMIM; m++) {
            double c = r->calvings[l][m][t];
            ci += m * c;
            wc += c;
        }
    r->calvings[0][0][t] += ci;
    r->calvings[0][0][0] += ci;
    w.wc[t] += wc;
    w.wc[0] += wc;
    divide(s.calvinginterval[t], r->calvings[0][0][t], w.wc[t]);

    /* conceptions by class and lactation */
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= MAXLACT; l++) {
            double x = r->newpreg[c][l][t];
            r->newpreg[c][0][0] += x;
            r->newpreg[0][l][0] += x;
            r->newpreg[0][0][t] += x;
            r->newpreg[0][0][0] += x;
        }

    /* days to conception, to the end of the waiting period and to first
    ** service (the monthly totals were formed state by state) */
    r->conceptions[0][0][0][0] += r->conceptions[t][0][0][0];
    r->delayserv[0][0][0][0] += r->delayserv[t][0][0][0];
    r->firstserv[0][0][0][0] += r->firstserv[t][0][0][0];
    w.wvwp_t[0] += w.wvwp_t[t];
    w.wfs_t[0] += w.wfs_t[t];
    divide(s.daystoconc[t], r->conceptions[t][0][0][0], r->newpreg[0][0][t]);
    divide(s.dvwp[t], r->delayserv[t][0][0][0], w.wvwp_t[t]);
    divide(s.dfs[t], r->firstserv[t][0][0][0], w.wfs_t[t]);

    /* cost of a further month open or pregnant */
    for (int c = 1; c <= MAXCURR; c++)
        for (int m = 1; m <= MAXMIM; m++) {
            double (*arrays[4])[NMIM][NT] = {r->delval, r->delval_n, r->delval2, r->delval2_n};
            for (auto a : arrays) {
                double x = a[c][m][t];
                a[c][0][0] += x;
                a[0][m][0] += x;
                a[0][0][0] += x;
            }
        }

    /* days to last breeding */
    w.lbm_val_t[0] += w.lbm_val_t[t];
    w.lbm_w_t[0] += w.lbm_w_t[t];
    divide(s.dlbm[t], w.lbm_val_t[t], w.lbm_w_t[t]);
}

/* Month t's herd: milk, cows by yield class (present, open, pregnant, left
** involuntarily or replaced) and the pregnancy-rate sums of its calendar
** month. */
void herd_sums(StatsWork& w, int t, int sea)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;

    /* milk */
    double milk = 0.0;
    for (int m = 1; m <= MAXMIM; m++)
        milk += r->milkyield[m][t];
    r->milkyield[0][t] = milk;
    r->milkyield[0][0] += milk;

    /* herd by yield class */
    double (*by_class[4])[NT] = {r->preg, r->open, r->pind, r->present};
    for (int c = 1; c <= MAXCURR; c++)
        for (auto x : by_class) {
            x[0][0] += x[c][t];
            x[c][0] += x[c][t];
            x[0][t] += x[c][t];
        }
    if (r->present[0][t] > 0.0)
        for (int c = 1; c <= MAXCURR; c++)
            s.smy_ave[t] += r->present[c][t] / r->present[0][t] * bio->smy[c];
    for (int c = 1; c <= MAXCURR; c++) {
        r->repl[0][0] += r->repl[c][t];
        r->repl[c][0] += r->repl[c][t];
        r->repl[0][t] += r->repl[c][t];
    }

    /* pregnancy-rate sums by calendar month */
    w.sum_delayed[0] += r->delayed_n[t];
    w.sum_servpreg[0] += r->serv_preg[t];
    w.sum_serv[0] += r->serv_n[t];
    w.sum_delayed[sea] += r->delayed_n[t];
    w.sum_servpreg[sea] += r->serv_preg[t];
    w.sum_serv[sea] += r->serv_n[t];
}

/* Month t's decisions: open cows replaced by the policy, the value of
** inseminating, the cull price and the days in milk. */
void decision_sums(StatsWork& w, int t)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;

    /* open cows replaced by decision */
    for (int m = 1; m <= MAXMIM; m++)
        for (int c = 1; c <= MAXCURR; c++) {
            double n = r->replopen_n[c][m][t];
            double q[7] = {n,
                           DAYS_PER_MONTH * (m - 1) * n,
                           c * n,
                           r->replopen_mlk[c][m][t] / DAYS_PER_MONTH,
                           r->replopen_iof[c][m][t] / DAYS_PER_MONTH,
                           r->replopen_rev[c][m][t] / DAYS_PER_MONTH,
                           r->replopen_rpo[c][m][t]};
            for (int i = 0; i < 7; i++) {
                ReplOpenTable table = replopen_table(i);
                table[0][t][0] += q[i];
                table[m][0][0] += q[i];
                table[0][0][0] += q[i];
                w.replopen_yr[i] += q[i];
            }
        }

    /* insemination value over breedable mass */
    double brd = 0.0;
    for (int m = 1; m <= MAXMIM; m++) {
        double iv = r->insval[m][t], b = r->breedable_mim[m][t];
        w.ins_mim[m] += iv;
        w.ins_t[t] += iv;
        w.ins_t[0] += iv;
        w.brd_mim[m] += b;
        w.brd_t[t] += b;
        w.brd_t[0] += b;
        brd += b;
    }
    r->breedable_mim[0][t] = brd;

    /* cull price and days in milk of the month */
    divide(s.cullprice[t], r->cowsales[t], r->pind[0][t] + r->repl[0][t]);
    divide(s.dim[t], r->dim_sum[t], r->milking[t]);
}

/* One month of the monthly pass: year sums, monthly ratios and the
** breakdown totals of month t (calendar month sea), in that order. */
void month_sums(StatsWork& w, int t, int sea, int k, double& sumd0, double& sumd1)
{
    year_flow_sums(t, sea, k, sumd0, sumd1);
    day_count_sums(w, t);
    herd_sums(w, t, sea);
    decision_sums(w, t);
}

/* Calving-season tables: days to events and disposals by the lactation and
** the calendar month in which the cow calved. */
void calving_season_tables(StatsWork& w, unsigned short maxm)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;
    int start = bio->start_sea;

    /* calving interval (months) by lactation left and calving month */
    for (int l = 1; l <= MAXLACT; l++)
        for (int m = 1; m <= MAXMIM; m++)
            for (int t = 1; t <= maxm; t++) {
                double c = r->calvings[l][m][t];
                if (c == 0.0)
                    continue;
                int cm = MONTH_WRAP(static_cast<short>(start + t - m));
                s.calvinginterval_clv[l][0] += m * c;
                s.calvinginterval_clv[0][cm] += m * c;
                w.w_ci[l][0] += c;
                w.w_ci[0][cm] += c;
            }

    /* days to conception, to the end of the waiting period, to first service */
    struct DaysTable {
        double (*e)[NCURR][NLACT][NMIM];
        double (*table)[NSEA];
        double (*weight)[NSEA];
    };
    const DaysTable days[3] = {{r->conceptions, s.daystoconception_clv, w.w_dtc},
                               {r->delayserv, s.daysvwp_clv, w.w_vwp},
                               {r->firstserv, s.daysfs_clv, w.w_fs}};
    for (const DaysTable& d : days)
        for (int c = 1; c <= MAXCURR; c++)
            for (int l = 1; l <= MAXLACT; l++)
                for (int m = 1; m <= MAXMIM; m++)
                    for (int t = 1; t <= maxm; t++) {
                        double e = d.e[t][c][l][m];
                        if (e == 0.0)
                            continue;
                        int cm = MONTH_WRAP(static_cast<short>(start + t - m));
                        d.table[l][0] += DAYS_PER_MONTH * m * e;
                        d.table[0][cm] += DAYS_PER_MONTH * m * e;
                        d.weight[l][0] += e;
                        d.weight[0][cm] += e;
                    }

    /* disposals by calving month and the year slot of the calving */
    for (int m = 1; m <= MAXMIM; m++)
        for (int t = 1; t <= maxm; t++) {
            int tc = t - m;
            int yc;
            if (bio->analysis == ANALYSIS_STEADY_STATE)
                yc = 1;
            else if (tc < 1)
                yc = 0;
            else if (tc <= 12)
                yc = 1;
            else if (tc <= 24)
                yc = 2;
            else if (tc <= 36)
                yc = 3;
            else
                yc = 4;
            int cm = MONTH_WRAP(static_cast<short>(start + t - m));
            int cm_prev = MONTH_WRAP(static_cast<short>(start + t - m - 1));
            double pm = r->pind_mim[m][t];
            w.pind_msum[cm][yc] += m * pm;
            w.pind_mass[cm][yc] += pm;
            double rm = r->repl_mim[m][t];
            w.repl_msum[cm_prev][yc] += (m - 1) * rm;
            w.repl_mass[cm_prev][yc] += rm;
        }

    /* averages */
    double (*tables[4])[NSEA] = {s.calvinginterval_clv, s.daystoconception_clv, s.daysvwp_clv,
                                 s.daysfs_clv};
    double (*weights[4])[NSEA] = {w.w_ci, w.w_dtc, w.w_vwp, w.w_fs};
    for (int i = 0; i < 4; i++)
        for (int j = 1; j <= 12; j++) {
            divide(tables[i][j][0], tables[i][j][0], weights[i][j][0]);
            divide(tables[i][0][j], tables[i][0][j], weights[i][0][j]);
        }
    for (int l = 1; l <= MAXLACT; l++) {
        double v = 0.0, wt = 0.0;
        for (int c = 1; c <= MAXCURR; c++)
            for (int t = 1; t <= maxm; t++) {
                v += w.lbm_val[c][l][t];
                wt += w.lbm_w[c][l][t];
            }
        divide(s.dayslbm_clv[l][0], v, wt);
    }
    for (int cm = 1; cm <= 12; cm++)
        for (int yc = 1; yc <= 4; yc++) {
            if (w.pind_mass[cm][yc] > 0.0)
                s.pind_clv[cm][yc] += w.pind_msum[cm][yc] / w.pind_mass[cm][yc];
            if (w.repl_mass[cm][yc] > 0.0)
                s.repl_clv[cm][yc] += w.repl_msum[cm][yc] / w.repl_mass[cm][yc];
        }
}

/* Days to events by yield class, and the cost of a further month open or
** pregnant by class and by month in milk. */
void class_breakdowns(StatsWork& w, unsigned short maxm)
{
    MkvRecord* r = mkv;

    /* days to events by yield class, and the cost of a further month
    ** open or pregnant by class and by month in milk */
    for (int c = 1; c <= MAXCURR; c++) {
        divide(r->conceptions[0][c][0][0], r->conceptions[0][c][0][0], r->newpreg[c][0][0]);
        divide(r->delayserv[0][c][0][0], r->delayserv[0][c][0][0], w.wvwp_curr[c]);
        divide(r->firstserv[0][c][0][0], r->firstserv[0][c][0][0], w.wfs_curr[c]);
        double v = 0.0, wt = 0.0;
        for (int l = 1; l <= MAXLACT; l++)
            for (int t = 1; t <= maxm; t++) {
                v += w.lbm_val[c][l][t];
                wt += w.lbm_w[c][l][t];
            }
        divide(r->bred[0][c][0][0], v, wt);
        divide(r->delval[c][0][0], -r->delval[c][0][0], r->delval_n[c][0][0]);
        divide(r->delval2[c][0][0], -r->delval2[c][0][0], r->delval2_n[c][0][0]);
    }
    for (int m = 1; m <= MAXMIM; m++) {
        divide(r->delval[0][m][0], -r->delval[0][m][0], r->delval_n[0][m][0]);
        divide(r->delval2[0][m][0], -r->delval2[0][m][0], r->delval2_n[0][m][0]);
    }
}

/* Cows open and pregnant by month in milk, and the culling hazards. */
void culling_breakdowns(unsigned short maxm)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;

    /* average cow mass per month, open and pregnant, by month in milk */
    for (int m = 1; m <= MAXMIM; m++) {
        divide(r->open_dim[m], r->open_dim[m], maxm);
        divide(r->preg_dim[m], r->preg_dim[m], maxm);
    }

    /* culling hazards by month in milk */
    double cull_all = 0.0;
    for (int m = 1; m <= MAXMIM; m++)
        cull_all += r->hz_open[m][1] + r->hz_open[m][2] + r->hz_preg[m][1] + r->hz_preg[m][2];
    for (int m = 1; m <= MAXMIM; m++) {
        double cull = r->hz_open[m][1] + r->hz_open[m][2] + r->hz_preg[m][1] + r->hz_preg[m][2];
        divide(s.hz_cull_mim[m], cull, r->hz_open[m][0] + r->hz_preg[m][0]);
        divide(s.pctcull_mim[m], cull, cull_all);
        divide(r->hz_open[m][1], r->hz_open[m][1], r->hz_open[m][0]);
        divide(r->hz_open[m][2], r->hz_open[m][2], r->hz_open[m][0]);
        divide(r->hz_preg[m][1], r->hz_preg[m][1], r->hz_preg[m][0]);
        divide(r->hz_preg[m][2], r->hz_preg[m][2], r->hz_preg[m][0]);
    }
}

/* Open cows replaced, the value of inseminating and the state values. */
void decision_breakdowns(StatsWork& w, unsigned short maxm)
{
    MkvRecord* r = mkv;
    MkvStats& s = r->stats;
    const int maxlact = lact_limit();

    /* open cows replaced: averages over the replaced count */
    ReplOpenTable count = replopen_table(0);
    for (int i = 1; i < 7; i++) {
        ReplOpenTable table = replopen_table(i);
        for (int m = 1; m <= MAXMIM; m++)
            divide(table[m][0][0], table[m][0][0], count[m][0][0]);
        for (int t = 1; t <= maxm; t++)
            divide(table[0][t][0], table[0][t][0], count[0][t][0]);
        divide(table[0][0][0], table[0][0][0], count[0][0][0]);
    }

    /* insemination value by month in milk and by month */
    for (int m = 1; m <= MAXMIM; m++)
        divide(s.inseminationvalue[m][0][0], w.ins_mim[m], w.brd_mim[m]);
    for (int t = 1; t <= maxm; t++)
        divide(s.inseminationvalue[0][t][0], w.ins_t[t], w.brd_t[t]);

    /* state values */
    for (int k = 0; k <= 10; k++) {
        for (int c = 1; c <= MAXCURR; c++) {
            divide(s.pv_curr[c][k], s.pv_curr[c][k], w.pv_curr_w[c][k]);
            for (int l = 1; l <= maxlact; l++)
                divide(s.pv_curr_lact[c][l][k], s.pv_curr_lact[c][l][k], w.pv_curr_lact_w[c][l][k]);
        }
        for (int l = 1; l <= maxlact; l++)
            divide(s.pv_lact[l][k], s.pv_lact[l][k], w.pv_lact_w[l][k]);
        for (int m = 1; m <= MAXMIM; m++)
            divide(s.pv_mim[m][k], s.pv_mim[m][k], w.pv_mim_w[m][k]);
        divide(s.pv_mpreg[k], s.pv_mpreg[k], w.pv_mpreg_w[k]);
        for (int t = 1; t <= maxm; t++)
            divide(s.pv_t[t][k], s.pv_t[t][k], w.pv_t_w[t][k]);
    }
}

/* Dry-off milk, the lactation curve, the herd by month in milk and by
** lactation, the pay-off of cows lost involuntarily and the intake. */
void herd_breakdowns(unsigned short maxm)
{
    MkvRecord* r = mkv;
    const int maxlact = lact_limit();

    /* daily milk of cows dried off */
    for (int t = 1; t <= maxm; t++)
        divide(r->dryoffyield[t], r->dryoffyield[t], r->dryoff_n[t]);

    /* lactation curve (per cow per day) and the herd by month in milk */
    double all_months = 0.0;
    for (int m = 1; m <= MAXMIM; m++) {
        double milk = 0.0, cows = 0.0;
        for (int t = 1; t <= maxm; t++) {
            milk += r->milkyield[m][t];
            cows += r->cows_mim[m][t];
        }
        r->milkyield[m][0] = milk;
        r->cows_mim[m][0] = cows;
        all_months += cows;
    }
    r->cows_mim[0][0] = all_months;
    for (int m = 1; m <= MAXMIM; m++) {
        divide(r->milkyield[m][0], r->milkyield[m][0] / DAYS_PER_MONTH, r->cows_mim[m][0]);
        divide(r->cows_mim[m][0], r->cows_mim[m][0], all_months);
    }

    /* herd by lactation */
    double lact_months = 0.0;
    for (int l = 1; l <= maxlact; l++) {
        double cows = 0.0;
        for (int t = 1; t <= maxm; t++)
            cows += r->cows_lact[l][t];
        r->cows_lact[l][0] = cows;
        lact_months += cows;
    }
    for (int l = 1; l <= maxlact; l++)
        divide(r->cows_lact[l][0], r->cows_lact[l][0], lact_months);

    /* retention pay-off of the cows lost involuntarily */
    double (*v)[NLACT][NMIM][NMPREG] = r->pind_rpo;
    double (*n)[NLACT][NMIM][NMPREG] = r->pind_rpo_n;
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= maxlact; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    double wt = n[c][l][m][p];
                    if (wt <= 0.0)
                        continue;
                    double x = v[c][l][m][p];
                    v[c][0][0][0] += x;
                    n[c][0][0][0] += wt;
                    v[0][l][0][0] += x;
                    n[0][l][0][0] += wt;
                    v[0][0][0][p] += x;
                    n[0][0][0][p] += wt;
                    if (p == 0) {
                        v[0][0][m][0] += x;
                        n[0][0][m][0] += wt;
                    }
                }
    for (int c = 1; c <= MAXCURR; c++)
        divide(v[c][0][0][0], v[c][0][0][0], n[c][0][0][0]);
    for (int l = 1; l <= maxlact; l++)
        divide(v[0][l][0][0], v[0][l][0][0], n[0][l][0][0]);
    for (int m = 1; m <= MAXMIM; m++)
        divide(v[0][0][m][0], v[0][0][m][0], n[0][0][m][0]);
    for (int p = 0; p <= MAXMPREG; p++)
        divide(v[0][0][0][p], v[0][0][0][p], n[0][0][0][p]);

    /* dry-matter intake by month in milk */
    for (int m = 1; m <= MAXMIM; m++) {
        double dmi = 0.0, cows = 0.0;
        for (int t = 1; t <= maxm; t++) {
            dmi += r->dmi_mim[m][t];
            cows += r->milkingcows_mim[m][t];
        }
        r->dmi_mim[m][0] = dmi;
        divide(r->dmi_mim[m][0], dmi, cows);
    }
}

/* Whole-run breakdowns by class, month in milk, month and state. */
void whole_run_breakdowns(StatsWork& w, unsigned short maxm)
{
    class_breakdowns(w, maxm);
    culling_breakdowns(maxm);
    decision_breakdowns(w, maxm);
    herd_breakdowns(maxm);
}

} // namespace

void MARKOV_CHAIN_STATS(unsigned short maxm)
{
    std::printf("\n MARKOV_CHAIN_STATS started ...");
    if (maxm > MAXT) {
        FAIL_RUN("MARKOV_CHAIN_STATS", "%d months exceed the %d of the mkv record", maxm, MAXT);
    }
    std::unique_ptr<StatsWork> work;
    try {
        work = std::make_unique<StatsWork>();
    } catch (const std::bad_alloc&) {
        /* no statistics: a report of zeros would pass for a result */
        FAIL_RUN("MARKOV_CHAIN_STATS", "Insufficient memory available. ");
    }
    StatsWork& w = *work;

    /* the sums formed state by state, month innermost */
    mkv->total_cash[0] = 0.0;
    event_sums(mkv->conceptions, nullptr, nullptr, maxm);
    event_sums(mkv->delayserv, w.wvwp_t, w.wvwp_curr, maxm);
    event_sums(mkv->firstserv, w.wfs_t, w.wfs_curr, maxm);
    last_breeding_sums(w, maxm);
    state_value_sums(w, maxm);

    /* the monthly pass with its statistic-year ends */
    int sea = MONTH_WRAP(bio->start_sea);
    int k = 0;
    int first = 1;
    double sumd0 = 0.0, sumd1 = 0.0;
    for (int t = 1; t <= maxm; t++) {
        k++;
        month_sums(w, t, sea, k, sumd0, sumd1);
        if (t == 12 || t == 24 || t == 36 || t == maxm) {
            year_end(w, maxm, first, t, sumd0, sumd1, k);
            first = t + 1;
        }
        if (progress_month(t, maxm))
            std::printf(" %.0f%%", 100.0 * t / maxm);
        sea = sea == 12 ? 1 : sea + 1;
    }

    calving_season_tables(w, maxm);
    whole_run_breakdowns(w, maxm);
    std::printf("\n MARKOV_CHAIN_STATS done ...");
}
