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
** Each column is one entry of a table, its label beside the cell it
** prints, and the label line and every row are written from that table, so
** a label cannot drift away from its figures.
**
** Every number is "%f ", so columns are separated by one blank.  Quotients
** formed here print 0 where their divisor is not positive.  The report is
** formatted through a large stdio buffer: it is some 35,000 numbers.
*/
#include <cstdio>
#include <iterator>
#include <memory>
#include <vector>

#include "core/numeric.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/runlog.h"
#include "stats/figures.h"
#include "stats/stats.h"

namespace {

/* What one cell of the table prints: "%f ", "%d ", the filler "0 " or
** "null ". */
struct Cell {
    enum Kind : unsigned char { NUMBER, COUNT, ZERO, NONE } kind;
    double value;
};

/* A value when the row is within the column's range, else the filler "0 ". */
Cell number(bool in_range, double value)
{
    return in_range ? Cell{Cell::NUMBER, value} : Cell{Cell::ZERO, 0.0};
}

/* A value or "null ". */
Cell number_or_null(bool in_range, double value)
{
    return in_range ? Cell{Cell::NUMBER, value} : Cell{Cell::NONE, 0.0};
}

/* A whole number or the filler "0 ". */
Cell count(bool in_range, int value)
{
    return in_range ? Cell{Cell::COUNT, static_cast<double>(value)} : Cell{Cell::ZERO, 0.0};
}

Cell null_cell()
{
    return Cell{Cell::NONE, 0.0};
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

/* One row of the table: projection month r, calendar month sea, and the
** indices each kind of column reads (0 outside the column's range). */
struct Row {
    const MkvRecord* k;
    const MkvStats* s;
    int r, sea;
    bool mon;                    /* within the projected months */
    int t;                       /* r for month columns, else 0 */
    int l12, m24, c15, p10;      /* lactation, month in milk, class, month of pregnancy */
    bool in12, in24, in15, in10;
    double sumcash;              /* total cash of rows 1..r */
    double serv_all;             /* services and delayed services of month t */
    double dim_all;              /* open and pregnant cows at month in milk m24 */

    Row(int r_, int sea_, unsigned short maxm, double sumcash_)
        : k(mkv), s(&mkv->stats), r(r_), sea(sea_), mon(r_ <= maxm), t(mon ? r_ : 0),
          l12(within(r_, 12)), m24(within(r_, 24)), c15(within(r_, 15)), p10(within(r_, 10)),
          in12(l12 > 0), in24(m24 > 0), in15(c15 > 0), in10(p10 > 0), sumcash(sumcash_),
          serv_all(k->serv_n[t] + k->delayed_n[t]), dim_all(k->preg_dim[m24] + k->open_dim[m24])
    {
    }
};

/* State value of the open cows in rows 1..n, of all pregnant cows in rows
** 30..29+n, "null " elsewhere. */
Cell open_then_pregnant(int r, int n, const double (*table)[11])
{
    if (r <= n)
        return Cell{Cell::NUMBER, table[r][0]};
    return number_or_null(r >= 30 && r <= 29 + n, table[within(r - 29, n)][10]);
}

/* State value of three classes, lactations and months of pregnancy: class
** slowest, month of pregnancy fastest, 27 rows. */
Cell class_lactation_value(const Row& w)
{
    static const int classes[3] = {2, 8, 14};
    static const int lacts[3] = {1, 2, 3};
    static const int months[3] = {1, 4, 7};
    if (w.r > 27)
        return null_cell();
    int i = w.r - 1;
    return Cell{Cell::NUMBER, w.s->pv_curr_lact[classes[i / 9]][lacts[(i / 3) % 3]][months[i % 3]]};
}

/* The advantage of heifer entry: rows 1-24 by slot, rows 25-36 the first
** year's slots again. */
Cell opportunity_cost(const Row& w)
{
    if (w.r <= 24)
        return Cell{Cell::NUMBER, heifer_rpo[w.r]};
    return number_or_null(w.r <= 36, heifer_rpo[within(w.r - 24, 12)]);
}

/* The columns after "t " and "sea ", in the order the rows print them:
** each label (with its trailing blank) beside the value it heads. */
struct Column {
    const char* label;
    Cell (*cell)(const Row&);
};

const Column COLUMNS[] = {
    {"operating_cash ", [](const Row& w) { return number(w.mon, w.k->operating_cash[w.t]); }},
    {"total_cash ", [](const Row& w) { return number(w.mon, w.k->total_cash[w.t]); }},
    {"sumcash ", [](const Row& w) { return number(w.mon, w.sumcash); }},
    {"milkyield ", [](const Row& w) { return number(w.mon, w.k->milkyield[0][w.t] / DAYS_PER_MONTH); }},
    {"discount ", [](const Row& w) { return number(w.mon, w.mon ? DISCOUNT(bio->interest / 12.0, w.r - 1) : 0.0); }},
    {"calves_born ", [](const Row& w) { return number(w.mon, w.k->calves_born[w.t]); }},
    {"heifers_purchased ", [](const Row& w) { return number(w.mon, w.k->heifers_purchased[w.t]); }},
    {"heifers_raised ", [](const Row& w) { return number(w.mon, w.k->heifers_raised[w.t]); }},
    {"heifers_sold ", [](const Row& w) { return number(w.mon, w.k->heifers_sold[w.t]); }},
    {"heiferpool ", [](const Row& w) { return number(w.mon, w.k->heiferpool[w.t]); }},
    {"keep ", [](const Row&) { return null_cell(); }},
    {"pind ", [](const Row& w) { return number(w.mon, w.k->pind[0][w.t]); }},
    {"repl ", [](const Row& w) { return number(w.mon, w.k->repl[0][w.t]); }},
    {"open ", [](const Row& w) { return number(w.mon, w.k->open[0][w.t]); }},
    {"preg ", [](const Row& w) { return number(w.mon, w.k->preg[0][w.t]); }},
    {"milking ", [](const Row& w) { return number(w.mon, w.k->milking[w.t]); }},
    {"present ", [](const Row& w) { return number(w.mon, w.k->open[0][w.t] + w.k->preg[0][w.t]); }},
    {"milksales ", [](const Row& w) { return number(w.mon, w.k->milksales[w.t]); }},
    {"cwt ", [](const Row& w) { return number(w.mon, w.k->cwt[w.t]); }},
    {"feedcost ", [](const Row& w) { return number(w.mon, w.k->feedcostdry[w.t] + w.k->feedcostlac[w.t]); }},
    {"cullprice ", [](const Row& w) { return number(w.mon, w.s->cullprice[w.t]); }},
    {"calfsales ", [](const Row& w) { return number(w.mon, w.k->calfsales[w.t]); }},
    {"cowsales ", [](const Row& w) { return number(w.mon, w.k->cowsales[w.t]); }},
    {"heiferpurchasecost ", [](const Row& w) { return number(w.mon, w.k->heiferpurchasecost[w.t]); }},
    {"calvinginterval_clvlact ", [](const Row& w) { return number(w.in12, w.s->calvinginterval_clv[w.l12][0]); }},
    {"calvinginterval_clvsea ", [](const Row& w) { return number(w.in12, w.s->calvinginterval_clv[0][w.l12]); }},
    {"daystoconception_clvlact ", [](const Row& w) { return number(w.in12, w.s->daystoconception_clv[w.l12][0]); }},
    {"daystoconception_clvsea ", [](const Row& w) { return number(w.in12, w.s->daystoconception_clv[0][w.l12]); }},
    {"feedcost_wet_mim ", [](const Row& w) { return number(w.in24, w.k->dmi_mim[w.m24][0] / DAYS_PER_MONTH * bio->p_lactfeed); }},
    {"repl_clv ", [](const Row& w) { return number(w.in12, w.s->repl_clv[w.sea][1]); }},
    {"smy_curr ", [](const Row& w) { return number(w.in15, bio->smy[w.c15]); }},
    {"smy_ave ", [](const Row& w) { return number(w.mon, w.s->smy_ave[w.t]); }},
    {"pind_clv ", [](const Row& w) { return number(w.in12, w.s->pind_clv[w.sea][1]); }},
    {"dayslbm_curr ", [](const Row& w) { return number(w.in15, w.k->bred[0][w.c15][0][0]); }},
    {"delayed ", [](const Row& w) { return number(w.mon, quotient(w.k->delayed_n[w.t], w.serv_all)); }},
    {"serv ", [](const Row& w) { return number(w.mon, quotient(w.k->serv_preg[w.t], w.k->serv_n[w.t])); }},
    {"serv_keep ", [](const Row& w) { return number(w.mon, quotient(w.k->serv_preg[w.t], w.serv_all)); }},
    {"lactation1 ", [](const Row& w) { return number(w.mon, w.k->lactation1[w.t]); }},
    {"lactation2 ", [](const Row& w) { return number(w.mon, w.k->lactation2[w.t]); }},
    {"mkv_enter ", [](const Row& w) { return count(w.mon, w.k->mkv_enter[w.t]); }},
    {"open_dim ", [](const Row& w) { return number(w.in24, w.k->open_dim[w.m24]); }},
    {"preg_dim ", [](const Row& w) { return number(w.in24, w.k->preg_dim[w.m24]); }},
    {"%open ", [](const Row& w) { return number(w.in24, quotient(w.k->open_dim[w.m24], w.dim_all)); }},
    {"%preg ", [](const Row& w) { return number(w.in24, quotient(w.k->preg_dim[w.m24], w.dim_all)); }},
    {"calved ", [](const Row& w) { return number(w.mon, w.k->calved[w.t]); }},
    {"fixedcost ", [](const Row& w) { return number(w.mon, w.k->fixedcost_labor[w.t] + w.k->fixedcost_other[w.t]); }},
    {"saldo ", [](const Row& w) {
         return number(w.mon, w.k->total_cash[w.t] + w.k->fixedcost_labor[w.t] + w.k->fixedcost_other[w.t]);
     }},
    {"milkyield_mcow_d ", [](const Row& w) { return number(w.mon, quotient(w.k->milkyield[0][w.t], w.k->milking[w.t]) / DAYS_PER_MONTH); }},
    {"feedcost_lact ", [](const Row& w) { return number(w.mon, w.k->feedcostlac[w.t] / DAYS_PER_MONTH); }},
    {"insval_mim ", [](const Row& w) { return number(w.in24, w.s->inseminationvalue[w.m24][0][0]); }},
    {"rpo ", [](const Row& w) { return number(w.mon, quotient(w.k->rpo_sum[w.t], w.k->rpo_n[w.t])); }},
    /* involuntary disposals of the month before; row 1 shows month 12 */
    {"inv ", [](const Row& w) { return number(w.mon, w.k->pind[0][w.r == 1 ? 12 : (w.mon ? w.r - 1 : 0)]); }},
    {"vol ", [](const Row& w) { return number(w.mon, w.k->repl[0][w.t]); }},
    {"insval_sea ", [](const Row& w) { return number(w.mon, w.s->inseminationvalue[0][w.t][0]); }},
    {"daysfirstservice_curr ", [](const Row& w) { return number(w.in15, w.k->firstserv[0][w.c15][0][0]); }},
    {"daystoconception_curr ", [](const Row& w) { return number(w.in15, w.k->conceptions[0][w.c15][0][0]); }},
    {"hz_open_repl ", [](const Row& w) { return number(w.in24, w.k->hz_open[w.m24][1]); }},
    {"hz_open_pind ", [](const Row& w) { return number(w.in24, w.k->hz_open[w.m24][2]); }},
    {"hz_preg_repl ", [](const Row& w) { return number(w.in24, w.k->hz_preg[w.m24][1]); }},
    {"hz_preg_pind ", [](const Row& w) { return number(w.in24, w.k->hz_preg[w.m24][2]); }},
    {"replopen_mlk[mim] ", [](const Row& w) { return number(w.in24, w.s->replopen_mlk_avg[w.m24][0][0]); }},
    /* by month, but only the first year's rows */
    {"replopen_mlk[t] ", [](const Row& w) { return number(w.in12, w.s->replopen_mlk_avg[0][w.l12][0]); }},
    {"daysvwp_curr ", [](const Row& w) { return number(w.in15, w.k->delayserv[0][w.c15][0][0]); }},
    {"dim ", [](const Row& w) { return number(w.mon, w.s->dim[w.t]); }},
    {"totrevenue ", [](const Row& w) { return number(w.mon, w.k->totrevenue[w.t]); }},
    {"totcost ", [](const Row& w) { return number(w.mon, w.k->totcost[w.t]); }},
    {"replopen_dim[mim] ", [](const Row& w) { return number(w.in24, w.s->replopen_dim_avg[w.m24][0][0]); }},
    {"replopen_dim[t] ", [](const Row& w) { return number(w.mon, w.s->replopen_dim_avg[0][w.t][0]); }},
    {"replopen_cur[mim] ", [](const Row& w) { return number(w.in24, w.s->replopen_cur_avg[w.m24][0][0]); }},
    {"replopen_cur[t] ", [](const Row& w) { return number(w.mon, w.s->replopen_cur_avg[0][w.t][0]); }},
    {"replopen_rev[mim] ", [](const Row& w) { return number(w.in24, w.s->replopen_rev_avg[w.m24][0][0]); }},
    {"replopen_rev[t] ", [](const Row& w) { return number(w.mon, w.s->replopen_rev_avg[0][w.t][0]); }},
    {"replopen_iof[mim] ", [](const Row& w) { return number(w.in24, w.s->replopen_iof_avg[w.m24][0][0]); }},
    {"replopen_iof[t] ", [](const Row& w) { return number(w.mon, w.s->replopen_iof_avg[0][w.t][0]); }},
    {"replopen_rpo[mim] ", [](const Row& w) { return number(w.in24, w.s->replopen_rpo_avg[w.m24][0][0]); }},
    {"replopen_rpo[t] ", [](const Row& w) { return number(w.mon, w.s->replopen_rpo_avg[0][w.t][0]); }},
    {"daysopencost_dim ", [](const Row& w) { return number(w.in24, w.k->delval[0][w.m24][0]); }},
    {"dmi_mcow_d ", [](const Row& w) { return number(w.mon, quotient(w.k->feedcostlac[w.t] / DAYS_PER_MONTH, bio->p_lactfeed)); }},
    {"dmi_mim ", [](const Row& w) { return number(w.in24, w.k->dmi_mim[w.m24][0] / DAYS_PER_MONTH); }},
    {"dayspregcost_mim ", [](const Row& w) { return number(w.in24, w.k->delval2[0][w.m24][0]); }},
    {"lactationcurve ", [](const Row& w) { return number(w.in24, w.k->milkyield[w.m24][0]); }},
    {"milkingcows_mim ", [](const Row& w) { return number(w.in24, w.k->cows_mim[w.m24][0]); }},
    {"cows_lact ", [](const Row& w) { return number(w.in12, w.k->cows_lact[w.l12][0]); }},
    {"hz_cull_mim ", [](const Row& w) { return number(w.in24, w.s->hz_cull_mim[w.m24]); }},
    {"pctcull_mim ", [](const Row& w) { return number(w.in24, w.s->pctcull_mim[w.m24]); }},
    {"breedingsupplycost ", [](const Row& w) { return number(w.mon, w.k->breedingsupplycost[w.t]); }},
    {"pv_curr ", [](const Row& w) { return open_then_pregnant(w.r, 15, w.s->pv_curr); }},
    {"pv_lact ", [](const Row& w) { return open_then_pregnant(w.r, 12, w.s->pv_lact); }},
    {"pv_mim ", [](const Row& w) { return open_then_pregnant(w.r, 24, w.s->pv_mim); }},
    /* months of pregnancy 0..9, then all pregnant */
    {"pv_mpreg ", [](const Row& w) { return number_or_null(w.r <= 11, w.s->pv_mpreg[w.r <= 11 ? w.r - 1 : 0]); }},
    {"pv_t_open ", [](const Row& w) { return number(w.mon, w.s->pv_t[w.t][0]); }},
    {"pv_t_preg ", [](const Row& w) { return number(w.mon, w.s->pv_t[w.t][10]); }},
    {"labortime ", [](const Row& w) { return number(w.mon, w.k->labortime[w.t]); }},
    {"laborcost ", [](const Row& w) { return number(w.mon, w.k->laborcost[w.t]); }},
    {"calvinginterval ", [](const Row& w) { return number(w.mon, w.s->calvinginterval[w.t]); }},
    {"daystoconc ", [](const Row& w) { return number(w.mon, w.s->daystoconc[w.t]); }},
    {"pv_curr_lact ", class_lactation_value},
    {"opportunitycost ", opportunity_cost},
    {"cowvalue ", [](const Row& w) {
         return number(w.mon, quotient(w.k->cowvalue_sum[w.t], w.k->cowvalue_n[w.t]) * w.k->present[0][w.t]);
     }},
    {"pind_rpo_curr ", [](const Row& w) { return number(w.in15, w.k->pind_rpo[w.c15][0][0][0]); }},
    {"pind_rpo_lact ", [](const Row& w) { return number(w.in12, w.k->pind_rpo[0][w.l12][0][0]); }},
    {"pind_rpo_mim ", [](const Row& w) { return number(w.in24, w.k->pind_rpo[0][0][w.m24][0]); }},
    {"pind_rpo_mpreg ", [](const Row& w) { return number(w.in10, w.k->pind_rpo[0][0][0][w.in10 ? w.r - 1 : 0]); }},
    {"daysvwp_clvlact ", [](const Row& w) { return number(w.in12, w.s->daysvwp_clv[w.l12][0]); }},
    {"daysvwp_clvsea ", [](const Row& w) { return number(w.in12, w.s->daysvwp_clv[0][w.l12]); }},
    {"dvwp ", [](const Row& w) { return number(w.mon, w.s->dvwp[w.t]); }},
    {"daysfs_clvlact ", [](const Row& w) { return number(w.in12, w.s->daysfs_clv[w.l12][0]); }},
    {"daysfs_clvsea ", [](const Row& w) { return number(w.in12, w.s->daysfs_clv[0][w.l12]); }},
    {"dfs ", [](const Row& w) { return number(w.mon, w.s->dfs[w.t]); }},
    {"dayslbm_clvlact ", [](const Row& w) { return number(w.in12, w.s->dayslbm_clv[w.l12][0]); }},
    {"dayslbm_clvsea ", [](const Row&) { return null_cell(); }},
    {"dlbm ", [](const Row& w) { return number(w.mon, w.s->dlbm[w.t]); }},
    {"present_dim ", [](const Row& w) { return number(w.in24, w.k->open_dim[w.m24] + w.k->preg_dim[w.m24]); }},
    {"breedings1 ", [](const Row& w) { return number(w.mon, w.k->at_vwp[w.t]); }},
    {"dryoffyield ", [](const Row& w) { return number(w.mon, w.k->dryoffyield[w.t]); }},
    {"breedings ", [](const Row& w) { return number(w.mon, w.k->breedable_mim[0][w.t]); }},
};
static_assert(std::size(COLUMNS) == 116, "the report has 116 columns after t and sea");

void write_cell(std::FILE* f, Cell c)
{
    switch (c.kind) {
    case Cell::NUMBER: std::fprintf(f, "%f ", c.value); break;
    case Cell::COUNT: std::fprintf(f, "%d ", static_cast<int>(c.value)); break;
    case Cell::ZERO: std::fputs("0 ", f); break;
    case Cell::NONE: std::fputs("null ", f); break;
    }
}

/* One row of the table: projection month r, calendar month sea. */
void write_row(std::FILE* f, int r, int sea, unsigned short maxm, double sumcash)
{
    const Row row(r, sea, maxm, sumcash);
    std::fprintf(f, "\n%d %d ", r, sea);
    for (const Column& column : COLUMNS)
        write_cell(f, column.cell(row));
}

/* The yearly figures: slots 1, 2 and 3 of each, with its label, in the
** order of the one table of figures. */
void write_yearly_block(std::FILE* f)
{
    const MkvStats& s = mkv->stats;
    for (std::size_t i = 0; i < YEARLY_FIGURE_COUNT; i++) {
        const double* v = YEARLY_FIGURES[i].values(s);
        std::fprintf(f, "\n%f %f %f %s", v[1], v[2], v[3], YEARLY_FIGURES[i].label);
    }
}

} // namespace

void WRITE_MKV_STATS(unsigned short maxm)
{
    std::printf("\n WRITE_MKV_STATS started ... %s", resfile.c_str());
    WRITE_MSG_FILE(MSG_WRITING_RES);
    if (maxm > MAXT) {
        FAIL_RUN("WRITE_MKV_STATS", "%d months exceed the %d of the mkv record", maxm, MAXT);
    }

    OutputFile f;
    if (!f.open(resfile)) {
        FAIL_RUN("WRITE_MKV_STATS", "%s open failure (%s)", resfile.c_str(), f.error().c_str());
    }

    std::fprintf(f.fp(), "%s %d\n%s\n", runname.c_str(), bio->analysis, biofiletime.c_str());
    std::fputs("t sea ", f.fp());
    for (const Column& column : COLUMNS)
        std::fputs(column.label, f.fp());

    int sea = MONTH_WRAP(bio->start_sea);
    double sumcash = 0.0;
    for (int r = 1; r <= MAXT; r++) {
        if (r <= maxm)
            sumcash += mkv->total_cash[r];
        write_row(f.fp(), r, sea, maxm, sumcash);
        sea = sea == 12 ? 1 : sea + 1;
    }
    write_yearly_block(f.fp());

    if (!f.commit()) {
        FAIL_RUN("WRITE_MKV_STATS", "%s write failure (%s)", resfile.c_str(), f.error().c_str());
    }
    std::printf("\n WRITE_MKV_STATS done ...");
}
