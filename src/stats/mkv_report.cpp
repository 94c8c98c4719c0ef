/*
** mkv_report.cpp -- the statistics report of a projection.
**
** WRITE_MKV_STATS writes the file named by resfile after
** MARKOV_CHAIN_STATS has left its figures in the mkv record:
**
**   - a header: the run name with the analysis, and the bio file's time
**     stamp line;
**   - a line of column labels ("t sea " and 116 more);
**   - 300 rows, one per projection month whatever the run's length.  A
**     column runs over months (rows 1..maxm), or over lactations, months in
**     milk, yield classes, calendar months or months of pregnancy (rows
**     1..12, 1..24, 1..15 ...); rows outside its range print "0 " (or
**     "null " for the few columns that say so);
**   - 65 lines of yearly figures, statistic years 1, 2 and 3.
**
** Every number is "%f ", so columns are separated by one blank.  Quotients
** formed here print 0 where their divisor is not positive.  The report is
** formatted through a large stdio buffer: it is some 35,000 numbers.
*/
#include <cstdio>
#include <memory>
#include <vector>

#include "../bio/numeric.h"
#include "../run/output_file.h"
#include "../run/records.h"
#include "../run/runlog.h"
#include "stats.h"

namespace {

/* The column labels after "t " and "sea ", in the order the rows print
** them.  Each label carries its trailing blank. */
const char* const COLUMN_LABELS[116] = {
    "operating_cash ", "total_cash ", "sumcash ", "milkyield ", "discount ", "calves_born ",
    "heifers_purchased ", "heifers_raised ", "heifers_sold ", "heiferpool ", "keep ", "pind ",
    "repl ", "open ", "preg ", "milking ", "present ", "milksales ", "cwt ", "feedcost ",
    "cullprice ", "calfsales ", "cowsales ", "heiferpurchasecost ", "calvinginterval_clvlact ",
    "calvinginterval_clvsea ", "daystoconception_clvlact ", "daystoconception_clvsea ",
    "feedcost_wet_mim ", "repl_clv ", "smy_curr ", "smy_ave ", "pind_clv ", "dayslbm_curr ",
    "delayed ", "serv ", "serv_keep ", "lactation1 ", "lactation2 ", "mkv_enter ", "open_dim ",
    "preg_dim ", "%open ", "%preg ", "calved ", "fixedcost ", "saldo ", "milkyield_mcow_d ",
    "feedcost_lact ", "insval_mim ", "rpo ", "inv ", "vol ", "insval_sea ",
    "daysfirstservice_curr ", "daystoconception_curr ", "hz_open_repl ", "hz_open_pind ",
    "hz_preg_repl ", "hz_preg_pind ", "replopen_mlk[mim] ", "replopen_mlk[t] ", "daysvwp_curr ",
    "dim ", "totrevenue ", "totcost ", "replopen_dim[mim] ", "replopen_dim[t] ",
    "replopen_cur[mim] ", "replopen_cur[t] ", "replopen_rev[mim] ", "replopen_rev[t] ",
    "replopen_iof[mim] ", "replopen_iof[t] ", "replopen_rpo[mim] ", "replopen_rpo[t] ",
    "daysopencost_dim ", "dmi_mcow_d ", "dmi_mim ", "dayspregcost_mim ", "lactationcurve ",
    "milkingcows_mim ", "cows_lact ", "hz_cull_mim ", "pctcull_mim ", "breedingsupplycost ",
    "pv_curr ", "pv_lact ", "pv_mim ", "pv_mpreg ", "pv_t_open ", "pv_t_preg ", "labortime ",
    "laborcost ", "calvinginterval ", "daystoconc ", "pv_curr_lact ", "opportunitycost ",
    "cowvalue ", "pind_rpo_curr ", "pind_rpo_lact ", "pind_rpo_mim ", "pind_rpo_mpreg ",
    "daysvwp_clvlact ", "daysvwp_clvsea ", "dvwp ", "daysfs_clvlact ", "daysfs_clvsea ", "dfs ",
    "dayslbm_clvlact ", "dayslbm_clvsea ", "dlbm ", "present_dim ", "breedings1 ",
    "dryoffyield ", "breedings ",
};

/* A value when the row is within the column's range, else the filler "0 ". */
void put(std::FILE* f, bool in_range, double value)
{
    if (in_range)
        std::fprintf(f, "%f ", value);
    else
        std::fputs("0 ", f);
}

/* A value or "null ". */
void put_or_null(std::FILE* f, bool in_range, double value)
{
    if (in_range)
        std::fprintf(f, "%f ", value);
    else
        std::fputs("null ", f);
}

double quotient(double num, double den)
{
    return den > 0.0 ? num / den : 0.0;
}

/* Index r when it lies in 1..n, else 0 (a cell that is always there). */
int within(int r, int n)
{
    return r >= 1 && r <= n ? r : 0;
}

/* One row of the table: projection month r, calendar month sea. */
void WRITE_ROW(std::FILE* f, int r, int sea, unsigned short maxm, double sumcash)
{
    const MkvRecord* k = mkv;
    const MkvStats& s = k->stats;
    bool mon = r <= maxm;            /* month columns */
    int t = mon ? r : 0;
    int l12 = within(r, 12), m24 = within(r, 24), c15 = within(r, 15), p10 = within(r, 10);
    bool in12 = l12 > 0, in24 = m24 > 0, in15 = c15 > 0, in10 = p10 > 0;
    double serv_all = k->serv_n[t] + k->delayed_n[t];
    double dim_all = k->preg_dim[m24] + k->open_dim[m24];
    double pfeed = bio->p_lactfeed;

    std::fprintf(f, "\n%d %d ", r, sea);
    put(f, mon, k->operating_cash[t]);
    put(f, mon, k->total_cash[t]);
    put(f, mon, sumcash);
    put(f, mon, k->milkyield[0][t] / 30.4);
    put(f, mon, mon ? DISCOUNT(bio->interest / 12.0, r - 1) : 0.0);
    put(f, mon, k->calves_born[t]);
    put(f, mon, k->heifers_purchased[t]);
    put(f, mon, k->heifers_raised[t]);
    put(f, mon, k->heifers_sold[t]);
    put(f, mon, k->heiferpool[t]);
    std::fputs("null ", f);
    put(f, mon, k->pind[0][t]);
    put(f, mon, k->repl[0][t]);
    put(f, mon, k->open[0][t]);
    put(f, mon, k->preg[0][t]);
    put(f, mon, k->milking[t]);
    put(f, mon, k->open[0][t] + k->preg[0][t]);
    put(f, mon, k->milksales[t]);
    put(f, mon, k->cwt[t]);
    put(f, mon, k->feedcostdry[t] + k->feedcostlac[t]);
    put(f, mon, s.cullprice[t]);
    put(f, mon, k->calfsales[t]);
    put(f, mon, k->cowsales[t]);
    put(f, mon, k->heiferpurchasecost[t]);
    put(f, in12, s.calvinginterval_clv[l12][0]);
    put(f, in12, s.calvinginterval_clv[0][l12]);
    put(f, in12, s.daystoconception_clv[l12][0]);
    put(f, in12, s.daystoconception_clv[0][l12]);
    put(f, in24, k->dmi_mim[m24][0] / 30.4 * pfeed);
    put(f, in12, s.repl_clv[sea][1]);
    put(f, in15, bio->smy[c15]);
    put(f, mon, s.smy_ave[t]);
    put(f, in12, s.pind_clv[sea][1]);
    put(f, in15, k->bred[c15][0][0][0]);
    put(f, mon, quotient(k->delayed_n[t], serv_all));
    put(f, mon, quotient(k->serv_preg[t], k->serv_n[t]));
    put(f, mon, quotient(k->serv_preg[t], serv_all));
    put(f, mon, k->lactation1[t]);
    put(f, mon, k->lactation2[t]);
    if (mon)
        std::fprintf(f, "%d ", k->mkv_enter[t]);
    else
        std::fputs("0 ", f);
    put(f, in24, k->open_dim[m24]);
    put(f, in24, k->preg_dim[m24]);
    put(f, in24, quotient(k->open_dim[m24], dim_all));
    put(f, in24, quotient(k->preg_dim[m24], dim_all));
    put(f, mon, k->calved[t]);
    put(f, mon, k->fixedcost_labor[t] + k->fixedcost_other[t]);
    put(f, mon, k->total_cash[t] + k->fixedcost_labor[t] + k->fixedcost_other[t]);
    put(f, mon, quotient(k->milkyield[0][t], k->milking[t]) / 30.4);
    put(f, mon, k->feedcostlac[t] / 30.4);
    put(f, in24, s.inseminationvalue[m24][0][0]);
    put(f, mon, quotient(k->rpo_sum[t], k->rpo_n[t]));
    put(f, mon, k->pind[0][r == 1 ? 12 : (mon ? r - 1 : 0)]);
    put(f, mon, k->repl[0][t]);
    put(f, mon, s.inseminationvalue[0][t][0]);
    put(f, in15, k->firstserv[c15][0][0][0]);
    put(f, in15, k->conceptions[c15][0][0][0]);
    put(f, in24, k->hz_open[m24][1]);
    put(f, in24, k->hz_open[m24][2]);
    put(f, in24, k->hz_preg[m24][1]);
    put(f, in24, k->hz_preg[m24][2]);
    put(f, in24, s.replopen_mlk_avg[m24][0][0]);
    put(f, in12, s.replopen_mlk_avg[0][l12][0]);
    put(f, in15, k->delayserv[c15][0][0][0]);
    put(f, mon, s.dim[t]);
    put(f, mon, k->totrevenue[t]);
    put(f, mon, k->totcost[t]);
    put(f, in24, s.replopen_dim_avg[m24][0][0]);
    put(f, mon, s.replopen_dim_avg[0][t][0]);
    put(f, in24, s.replopen_cur_avg[m24][0][0]);
    put(f, mon, s.replopen_cur_avg[0][t][0]);
    put(f, in24, s.replopen_rev_avg[m24][0][0]);
    put(f, mon, s.replopen_rev_avg[0][t][0]);
    put(f, in24, s.replopen_iof_avg[m24][0][0]);
    put(f, mon, s.replopen_iof_avg[0][t][0]);
    put(f, in24, s.replopen_rpo_avg[m24][0][0]);
    put(f, mon, s.replopen_rpo_avg[0][t][0]);
    put(f, in24, k->delval[0][m24][0]);
    put(f, mon, quotient(k->feedcostlac[t] / 30.4, pfeed));
    put(f, in24, k->dmi_mim[m24][0] / 30.4);
    put(f, in24, k->delval2[0][m24][0]);
    put(f, in24, k->milkyield[m24][0]);
    put(f, in24, k->cows_mim[m24][0]);
    put(f, in12, k->cows_lact[l12][0]);
    put(f, in24, s.hz_cull_mim[m24]);
    put(f, in24, s.pctcull_mim[m24]);
    put(f, mon, k->breedingsupplycost[t]);

    /* state values: open rows first, all-pregnant rows from row 30 */
    if (r <= 15)
        std::fprintf(f, "%f ", s.pv_curr[r][0]);
    else
        put_or_null(f, r >= 30 && r <= 44, s.pv_curr[within(r - 29, 15)][10]);
    if (r <= 12)
        std::fprintf(f, "%f ", s.pv_lact[r][0]);
    else
        put_or_null(f, r >= 30 && r <= 41, s.pv_lact[within(r - 29, 12)][10]);
    if (r <= 24)
        std::fprintf(f, "%f ", s.pv_mim[r][0]);
    else
        put_or_null(f, r >= 30 && r <= 53, s.pv_mim[within(r - 29, 24)][10]);
    put_or_null(f, r <= 11, s.pv_mpreg[r <= 11 ? r - 1 : 0]);
    put(f, mon, s.pv_t[t][0]);
    put(f, mon, s.pv_t[t][10]);

    put(f, mon, k->labortime[t]);
    put(f, mon, k->laborcost[t]);
    put(f, mon, s.calvinginterval[t]);
    put(f, mon, s.daystoconc[t]);
    if (r <= 27) {
        static const int classes[3] = {2, 8, 14};
        static const int lacts[3] = {1, 2, 3};
        static const int months[3] = {1, 4, 7};
        int i = r - 1;
        std::fprintf(f, "%f ", s.pv_curr_lact[classes[i / 9]][lacts[(i / 3) % 3]][months[i % 3]]);
    } else {
        std::fputs("null ", f);
    }
    if (r <= 24)
        std::fprintf(f, "%f ", heifer_rpo[r]);
    else
        put_or_null(f, r <= 36, heifer_rpo[within(r - 24, 12)]);
    put(f, mon, quotient(k->cowvalue_sum[t], k->cowvalue_n[t]) * k->present[0][t]);
    put(f, in15, k->pind_rpo[c15][0][0][0]);
    put(f, in12, k->pind_rpo[0][l12][0][0]);
    put(f, in24, k->pind_rpo[0][0][m24][0]);
    put(f, in10, k->pind_rpo[0][0][0][in10 ? r - 1 : 0]);
    put(f, in12, s.daysvwp_clv[l12][0]);
    put(f, in12, s.daysvwp_clv[0][l12]);
    put(f, mon, s.dvwp[t]);
    put(f, in12, s.daysfs_clv[l12][0]);
    put(f, in12, s.daysfs_clv[0][l12]);
    put(f, mon, s.dfs[t]);
    put(f, in12, s.dayslbm_clv[l12][0]);
    std::fputs("null ", f);
    put(f, mon, s.dlbm[t]);
    put(f, in24, k->open_dim[m24] + k->preg_dim[m24]);
    put(f, mon, k->at_vwp[t]);
    put(f, mon, k->dryoffyield[t]);
    put(f, mon, k->breedable_mim[0][t]);
}

/* The yearly figures: slots 1, 2 and 3 of each, with its label. */
void WRITE_YEARLY_BLOCK(std::FILE* f)
{
    const MkvStats& s = mkv->stats;
    struct Line {
        const double* v;
        const char* label;
    };
    const Line lines[65] = {
        {s.herdlife, "herdlife         "},
        {s.eaa_cyr, "eaa_cyr          "},
        {s.eaa_cwt, "eaa_cwt          "},
        {s.cash_cyr, "cash_cyr         "},
        {s.milkyield_cyr, "milkyield_cyr    "},
        {s.milkyield_cwt, "milkyield_cwt    "},
        {s.milksales_cyr, "milksales_cyr    "},
        {s.milksales_cwt, "milksales_cwt    "},
        {s.feedcost_cyr, "feedcost_cyr     "},
        {s.feedcost_cwt, "feedcost_cwt     "},
        {s.heifercost_cyr, "heifercost_cyr   "},
        {s.heifercost_cwt, "heifercost_cwt   "},
        {s.cowsales_cyr, "cowsales_cyr     "},
        {s.cowsales_cwt, "cowsales_cwt     "},
        {s.calfsales_cyr, "calfsales_cyr    "},
        {s.calfsales_cwt, "calfsales_cwt    "},
        {s.livestockcost_cyr, "livestockcost_cyr"},
        {s.livestockcost_cwt, "livestockcost_cwt"},
        {s.clvinterval, "clvinterval      "},
        {s.daystoconc_yr, "daystoconc       "},
        {s.cullrateall, "cullrateall      "},
        {s.cullratevol, "cullratevol      "},
        {s.cullrateinv, "cullrateinv      "},
        {s.laborcost_cyr, "laborcost_cyr    "},
        {s.laborcost_cwt, "laborcost_cwt    "},
        {s.vetcost_cyr, "vetcost_cyr      "},
        {s.vetcost_cwt, "vetcost_cwt      "},
        {s.breedingsupplycost_cyr, "breedingsupplycost_cyr "},
        {s.breedingsupplycost_cwt, "breedingsupplycost_cwt "},
        {s.loss_cyr, "loss_cyr         "},
        {s.loss_cwt, "loss_cwt         "},
        {s.othercost_cyr, "othercost_cyr    "},
        {s.othercost_cwt, "othercost_cwt    "},
        {s.pregnancyrate0[0], "pregnancyrate0   "},
        {s.pregnancyrate1[0], "pregnancyrate1   "},
        {s.daysopen, "daysopen         "},
        {s.fixedcost_labor_cyr, "fixedcost_labor_cyr "},
        {s.fixedcost_labor_cwt, "fixedcost_labor_cwt "},
        {s.fixedcost_other_cyr, "fixedcost_other_cyr "},
        {s.fixedcost_other_cwt, "fixedcost_other_cwt "},
        {s.preglaborcost, "preglaborcost     "},
        {s.pregsupplycost, "pregsupplycost    "},
        {s.breedingcost_cyr, "breedingcost_cyr  "},
        {s.breedingcost_cwt, "breedingcost_cwt  "},
        {s.pv_open, "pv_open           "},
        {s.inseminationvalue[0][0], "inseminationvalue "},
        {s.opendays_yr, "opendays          "},
        {s.abortrisk, "abortrisk         "},
        {s.pv_preg, "pv_preg           "},
        {s.feedcostdry_cyr, "feedcostdry_cyr   "},
        {s.feedcostlac_cyr, "feedcostlac_cyr   "},
        {s.cowvalue, "cowvalue          "},
        {s.dim_yr, "dim               "},
        {s.daysfs, "daysfs            "},
        {s.cullprice_yr, "cullprice y       "},
        {s.replopen_mlk_avg[0][0], "replopen_mlk      "},
        {s.replopen_cur_avg[0][0], "replopen_cur      "},
        {s.replopen_rev_avg[0][0], "replopen_rev      "},
        {s.replopen_iof_avg[0][0], "replopen_iof      "},
        {s.replopen_rpo_avg[0][0], "replopen_rpo      "},
        {s.replopen_dim_avg[0][0], "replopen_dim      "},
        {s.dvwp_yr, "dvwp              "},
        {s.dlbm_yr, "dlbm              "},
        {s.daysopen_cost, "daysopen_cost     "},
        {s.dayspreg_cost, "dayspreg_cost     "},
    };
    for (const Line& line : lines)
        std::fprintf(f, "\n%f %f %f %s", line.v[1], line.v[2], line.v[3], line.label);
}

} // namespace

void WRITE_MKV_STATS(unsigned short maxm)
{
    std::printf("\n WRITE_MKV_STATS started ... %s", resfile.c_str());
    WRITE_MSG_FILE(51);
    if (maxm > MAXT) {
        std::printf("\n WRITE_MKV_STATS: %d months exceed the %d of the mkv record", maxm, MAXT);
        STOP(1);
        END_RUN(1);
    }

    OutputFile f;
    if (!f.open(resfile)) {
        std::printf("\n WRITE_MKV_STATS: %s open failure (%s)", resfile.c_str(), f.error().c_str());
        STOP(1);
        END_RUN(1);
    }

    std::fprintf(f.fp(), "%s %d\n%s\n", runname.c_str(), bio->analysis, biofiletime.c_str());
    std::fputs("t sea ", f.fp());
    for (const char* label : COLUMN_LABELS)
        std::fputs(label, f.fp());

    int sea = MONTH_WRAP(bio->start_sea);
    double sumcash = 0.0;
    for (int r = 1; r <= MAXT; r++) {
        if (r <= maxm)
            sumcash += mkv->total_cash[r];
        WRITE_ROW(f.fp(), r, sea, maxm, sumcash);
        sea = sea == 12 ? 1 : sea + 1;
    }
    WRITE_YEARLY_BLOCK(f.fp());

    if (!f.commit()) {
        std::printf("\n WRITE_MKV_STATS: %s write failure (%s)", resfile.c_str(), f.error().c_str());
        STOP(1);
        END_RUN(1);
    }
    std::printf("\n WRITE_MKV_STATS done ...");
}
