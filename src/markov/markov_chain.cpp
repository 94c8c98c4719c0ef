/*
** markov_chain.cpp -- the monthly herd projection and its data collection.
**
** One herd place is followed as a probability distribution over cow states
** (yield class, lactation, month in milk, month of pregnancy).  Each month
** every state's mass moves to the states it can reach under the decision
** the policy holds for it: kept cows move on (minus involuntary disposal),
** replaced cows leave at the start of the month, inseminated cows split
** into open and pregnant, pregnant cows abort or calve into the next
** lactation.  Heifers then refill the places not kept, and the young-stock
** pool ages by one month.
**
** Slots 0 and 1 of the distribution arrays take turns as this month (cur)
** and next month (nxt); slot 2 is the herd before and after a call, the one
** the MKV state file holds.  After each month only the consumed slot is
** cleared, so nothing is copied month to month.
**
** With collect = 1 every visited state also adds its cash flows and counts
** to the monthly accumulators of the mkv record, which the herd statistics
** turn into the report.  Without collecting only the moves are made, which
** is what the steady-state search of the run driver needs.
*/
#include "markov/markov.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "markov/month_tables.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

/* Mass at or below this is treated as no cow at all. */
constexpr double NEGLIGIBLE = 1e-14;

/* Collecting runs of at least this many months read the second-year slots
** from the month tables: 12 first-year months, then each of the slots
** 13..24 three times. */
constexpr int TABLE_RUN_MONTHS = 12 + 3 * 12;

/* What one month of the projection works with. */
struct Month {
    int t;        /* month of the run, 1..count */
    int sea;      /* calendar month */
    int sea_next; /* the calendar month after it */
    int m;        /* policy month: sea, or sea + 12 from month 13 on */
    int mn;       /* the policy month after m */
    int cur, nxt; /* distribution slots read and written */
    bool collect;
    double replaced; /* mass replaced by decision this month */
    const MonthSlot* cells; /* the states' values of slot m when collecting
                            ** from month 13 on; else nullptr */
};

/* The visited state as the accumulators see it. */
struct Visit {
    int curr, lact, mim, mpreg;
    double p;      /* mass */
    double q;      /* involuntary disposal */
    double R;      /* net revenue */
    double Y;      /* milk yield */
    double S;      /* sale value now */
    double Sn;     /* sale value next month */
    double Sprime; /* next month's sale value of an involuntary disposal */
    double dmi;    /* feed intake */
    double labor;  /* minutes of labour */
    double rpo;    /* retention pay-off */
    double prg;    /* pregnancy value */
    double Y_next; /* a pregnant cow's milk next month */
    bool dry;
};

/* The policy's decision for a state this month, from the month tables
** when the month has them. */
short decision_of(const Month& mo, int c, int l, int mim, int mpreg)
{
    return mo.cells ? (*mo.cells)[l][c][mim][mpreg].decision : pol->decision[c][l][mim][mpreg][mo.m];
}

/* Calls add(v, T(v)) for every class v reachable from the transition row
** (curr, lact, mim, row); row 0 within the lactation, 1..12 at calving. */
template <typename F>
inline void next_classes(int curr, int lact, int mim, int row, F add)
{
    const int lo = std::max<int>(bio->lo[curr][lact][mim][row], 1);
    const int hi = std::min<int>(bio->hi[curr][lact][mim][row], MAXCURR);
    const double* T = bio->pnext[curr][lact][mim][row];
    for (int v = lo; v <= hi; v++)
        add(v, T[v]);
}

Visit make_visit(const Month& mo, int curr, int lact, int mim, int mpreg, double p)
{
    Visit s;
    s.curr = curr;
    s.lact = lact;
    s.mim = mim;
    s.mpreg = mpreg;
    s.p = p;
    s.q = bio->pind[lact][mim][mo.sea];
    if (mo.cells != nullptr) {
        const StateMonth& cell = (*mo.cells)[lact][curr][mim][mpreg];
        s.R = cell.R;
        s.Y = cell.Y;
        s.dmi = cell.dmi;
        s.labor = cell.labor;
        s.rpo = cell.rpo;
        s.prg = cell.prg;
        s.Y_next = cell.Y_next;
    } else {
        s.R = bio->rev[curr][lact][mim][mpreg][mo.m];
        s.Y = bio->milkyield[curr][lact][mim][mpreg][mo.sea];
        s.dmi = bio->dmi[curr][lact][mim][mpreg][mo.sea];
        s.labor = bio->labortime[curr][lact][mim][mpreg][mo.sea];
        s.rpo = rpo->rpo[curr][lact][mim][mpreg][mo.m];
        s.prg = rpo->prg[curr][lact][mim][mpreg][mo.m];
        s.Y_next = pregnant_next_month(mim, mpreg) ? bio->milkyield[curr][lact][mim + 1][mpreg + 1][mo.sea_next]
                                                   : 0.0;
    }
    s.S = bio->sel[lact][mim][mo.m];
    s.Sn = bio->sel[lact][mim][mo.mn];
    s.Sprime = s.Sn * bio->sel_factor;
    s.dry = mpreg == 0 ? s.Y < DRY_MILK : s.Y <= DRY_MILK;
    return s;
}

/* ---- data collection -------------------------------------------------- */

/* Retention pay-off and cow value of every visited state. */
void collect_visit(const Month& mo, const Visit& s)
{
    const int t = mo.t;
    const double r = s.rpo;
    if (r != NOT_APPLICABLE) {
        mkv->rpo_sum[t] += s.p * r;
        mkv->rpo_n[t] += s.p;
    }
    mkv->cowvalue_sum[t] += r > 0.0 ? s.p * (r + s.S) : s.p * s.S;
    mkv->cowvalue_n[t] += s.p;
}

/* A cow that stays this month.  `calf`: she calved at the start of it
** (open, month in milk 1, outside the breeding window); `heifer`: an
** entering heifer, lactating, whose calf and lactation count are added
** by the heifer entry itself. */
void collect_kept(const Month& mo, const Visit& s, bool calf, bool heifer)
{
    MkvRecord* k = mkv;
    const int t = mo.t;
    const double p = s.p, q = s.q;
    const bool dry = heifer ? false : s.dry;

    if (s.mpreg == 0)
        k->open[s.curr][t] += p;
    else
        k->preg[s.curr][t] += p;
    k->pind[s.curr][t] += q * p;
    k->pind_mim[s.mim][t] += q * p;
    k->total_cash[t] += p * (s.R + q * (s.Sprime - bio->cullcost));
    if (calf)
        k->total_cash[t] += p * bio->p_calf;
    k->operating_cash[t] += p * s.R;
    k->milkyield[s.mim][t] += p * s.Y;
    k->cows_mim[s.mim][t] += p;
    if (!heifer)
        k->cows_lact[s.lact][t] += p;

    const double dmi = s.dmi;
    if (dry) {
        k->feedcostdry[t] += p * dmi * bio->p_dryfeed;
    } else {
        k->feedcostlac[t] += p * dmi * bio->p_lactfeed;
        k->dmi_mim[s.mim][t] += p * dmi;
        k->milkingcows_mim[s.mim][t] += p;
        k->milking[t] += p;
    }
    k->cowsales[t] += q * p * s.Sprime;
    k->loss[t] += q * p * bio->cullcost;
    k->dim_sum[t] += p * (s.mim * DAYS_PER_MONTH - DAYS_PER_MONTH / 2.0);

    const double minutes = s.labor;
    k->laborcost[t] += p * minutes / 60.0 * bio->wage;
    k->labortime[t] += p * minutes;
    k->vetcost[t] += p * bio->vetcost[s.mim];
    k->othercost[t] += p * (dry && s.mpreg > 0 ? bio->drycost : bio->lactcost) * DAYS_PER_MONTH;
    if (calf) {
        k->calves_born[t] += p;
        k->calved[t] += p;
    }
    if (heifer)
        k->calved[t] += p;

    if (s.mpreg == 0) {
        k->open_dim[s.mim] += p;
        k->openmim_sum[t] += p * s.mim;
        k->hz_open[s.mim][0] += p;
        k->hz_open[s.mim][2] += q * p;
    } else {
        k->preg_dim[s.mim] += p;
        k->hz_preg[s.mim][0] += p;
        k->hz_preg[s.mim][2] += q * p;
    }
    const double r = s.rpo;
    if (r != NOT_APPLICABLE) {
        k->pind_rpo[s.curr][s.lact][s.mim][s.mpreg] += q * p * r;
        k->pind_rpo_n[s.curr][s.lact][s.mim][s.mpreg] += q * p;
    }
}

/* A cow replaced by decision: she leaves at the start of the month for her
** sale value and earns nothing more. */
void collect_replaced(const Month& mo, const Visit& s, bool calf)
{
    MkvRecord* k = mkv;
    const int t = mo.t;
    const double p = s.p;

    k->repl[s.curr][t] += p;
    k->repl_mim[s.mim][t] += p;
    double (*hz)[4] = s.mpreg == 0 ? k->hz_open : k->hz_preg;
    hz[s.mim][0] += p;
    hz[s.mim][1] += p;
    k->total_cash[t] += p * s.S;
    k->cowsales[t] += p * s.S;
    if (calf) {
        k->calves_born[t] += p;
        k->calved[t] += p;
        k->total_cash[t] += p * bio->p_calf;
    }
    if (s.mpreg == 0) {
        k->replopen_n[s.curr][s.mim][t] += p;
        k->replopen_rev[s.curr][s.mim][t] += p * s.R;
        k->replopen_mlk[s.curr][s.mim][t] += p * s.Y;
        /* A policy read back from a file has no pay-offs: the marker stays
        ** out of the sum (then the average prints 0, not the marker). */
        const double r = s.rpo;
        if (r != NOT_APPLICABLE)
            k->replopen_rpo[s.curr][s.mim][t] += p * r;
        k->replopen_iof[s.curr][s.mim][t] += p * bio->iofc[s.curr][s.lact][s.mim][0][mo.m];
    }
}

/* Pregnancy values of kept cows.  The statistics want them twice: summed
** over the run's months for each state (rpo_vwp, rpo_vwp_n), and summed
** over the states for each month (rpo_vwp_t, rpo_vwp_t_n), both with the
** states taken in the order of their indices.  The walk of a month visits
** the states in another order (lactation first), so a month's values wait
** in a buffer indexed by state and are added to both sums, state by
** state in index order, when the month closes.  A table by state and
** month (250 MB, most of it never used) is not needed.  Each state is
** visited at most once a month, so a buffer cell holds a single value. */
struct PrgMonth {
    double sum[NCURR][NLACT][NMIM][NMPREG]; /* mass x pregnancy value */
    double n[NCURR][NLACT][NMIM][NMPREG];   /* mass */
};
PrgMonth prg_month;

/* Pregnancy value of a kept cow, by the state she is in. */
void collect_prg(const Visit& s)
{
    /* No pregnancy value (a policy read back from a file): the state adds
    ** neither value nor weight. */
    const double v = s.prg;
    if (v == NOT_APPLICABLE)
        return;
    prg_month.sum[s.curr][s.lact][s.mim][s.mpreg] += s.p * v;
    prg_month.n[s.curr][s.lact][s.mim][s.mpreg] += s.p;
}

/* Adds month t's buffered pregnancy values to the sums by state and by
** month and empties the buffer.  Cell 10 of a month gathers every
** pregnant state. */
void close_prg_month(int t)
{
    MkvRecord* k = mkv;
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= bio->maxlact; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    double& v = prg_month.sum[c][l][m][p];
                    double& n = prg_month.n[c][l][m][p];
                    if (v == 0.0 && n == 0.0)
                        continue;
                    k->rpo_vwp_t[t][p] += v;
                    k->rpo_vwp_t_n[t][p] += n;
                    if (p >= 1) {
                        k->rpo_vwp_t[t][10] += v;
                        k->rpo_vwp_t_n[t][10] += n;
                    }
                    k->rpo_vwp[c][l][m][p] += v;
                    k->rpo_vwp_n[c][l][m][p] += n;
                    v = 0.0;
                    n = 0.0;
                }
}

/* An open cow kept in the breeding window, inseminated or not. */
void collect_breedable(const Month& mo, const Visit& s, int vwp)
{
    MkvRecord* k = mkv;
    const int t = mo.t, c = s.curr, mim = s.mim;
    k->breedable_mim[mim][t] += s.p;
    k->insval[mim][t] += s.p * ins->ins[c][s.lact][mim][mo.m];
    k->delval[c][mim][t] += s.p * del->open[c][s.lact][mim][mim + 1][mo.sea] / DAYS_PER_MONTH;
    k->delval_n[c][mim][t] += s.p;
    if (mim > vwp) {
        k->delval2[c][mim - 1][t] += s.p * del->preg[c][s.lact][mim][mim + 1][mo.sea] / DAYS_PER_MONTH;
        k->delval2_n[c][mim - 1][t] += s.p;
    }
}

/* The services of an inseminated open cow. */
void collect_services(const Month& mo, const Visit& s, double f, double d, int vwp,
                      double Ps, double Pc, double E)
{
    MkvRecord* k = mkv;
    const int t = mo.t, c = s.curr, l = s.lact, mim = s.mim;
    const double p = s.p, q = s.q;
    const double service_labor = bio->instime / 60.0 * bio->wage;
    const double repro = bio->reprocost[mim][mo.sea];

    k->total_cash[t] -= p * (repro + (1.0 - q) * Ps * (service_labor + bio->inscost));
    k->labortime[t] += (1.0 - q) * p * Ps * bio->instime;
    k->laborcost[t] += (1.0 - q) * p * Ps * service_labor;
    k->breedinglaborcost[t] += (1.0 - q) * p * Ps * service_labor;
    k->breedingsupplycost[t] += p * ((1.0 - q) * Ps * bio->inscost + repro);
    k->serv_n[t] += (1.0 - q) * p * E;
    k->serv_preg[t] += (1.0 - q) * p * Pc;
    k->newpreg[c][l][t] += (1.0 - q) * p * Pc;
    k->conceptions[t][c][l][mim] += (1.0 - q) * p * Pc;
    k->firstserv[t][c][l][mim] += (1.0 - q) * f * Ps;
    k->bred[t][c][l][mim] += (1.0 - q) * p;
    k->delayserv[t][c][l][mim] += d;
    if (mim == vwp)
        k->at_vwp[t] += p;
    if (mim > vwp)
        collect_prg(s);
}

/* ---- moving the cows -------------------------------------------------- */

/* Where the decisions came from, for a message about one that is missing. */
std::string policy_source()
{
    if (bio->policy == 0)
        return "the pol file " + polfile;
    return "the solved policy";
}

void invalid_decision()
{
    std::printf("\n MARKOV_CHAIN: a decision the state does not allow");
    REPEATED_STOP("MARKOV_CHAIN decision error");
}

/* An open cow: curr, lact, mim with mpreg 0. */
void open_cow(Month& mo, int c, int l, int mim)
{
    const int cur = mo.cur, nxt = mo.nxt;
    const double p = mkv->pstate[c][l][mim][0][cur];
    const int vwp = waiting_period_end(l);
    double f = p, d = p;
    if (mim > vwp) {
        f = mkv->pfs[c][l][mim][cur];
        d = mkv->pdelay[c][l][mim][cur];
    }
    if (p < f) {
        std::printf("\nMARKOV_CHAIN error t:%d curr:%d lact:%d mim:%d pstate:%.15f < pfs:%.15f",
                    mo.t, c, l, mim, p, f);
        REPEATED_STOP("MARKOV_CHAIN pstate error");
    }
    if (p <= NEGLIGIBLE)
        return;

    const bool last_month = mim >= bio->maxmim;
    const bool window = !last_month && vwp <= mim && mim <= bio->lbm;
    /* Lactation 1, month 1 is reached only by entering heifers, who move
    ** straight on to month 2. */
    if (!last_month && !window && l == 1 && mim == 1)
        return;

    const short decision = decision_of(mo, c, l, mim, 0);
    if (decision == DEC_NONE) {
        std::printf("\n decision error open t=%d curr:%d lact:%d mim:%d: no decision in %s", mo.t, c, l, mim,
                    policy_source().c_str());
        REPEATED_STOP("MARKOV_CHAIN decision error");
        return;
    }
    const double q = bio->pind[l][mim][mo.sea];
    const bool calf = mim == 1 && !(vwp <= mim && mim <= bio->lbm);
    Visit s{};
    if (mo.collect) {
        s = make_visit(mo, c, l, mim, 0, p);
        collect_visit(mo, s);
    }

    if (decision == DEC_REPLACE) {
        mo.replaced += p;
        if (mo.collect)
            collect_replaced(mo, s, calf);
        return;
    }

    if (last_month) {
        /* Kept for this last month only, then sold at its end. */
        if (decision != DEC_KEEP) {
            invalid_decision();
            return;
        }
        mkv->keep[c][mo.t] += p;
        if (mo.collect) {
            collect_kept(mo, s, calf, false);
            if (mim == bio->lbm + 1)
                collect_prg(s);
            mkv->repl[c][mo.t] += (1.0 - q) * p;
            mkv->repl_mim[mim][mo.t] += (1.0 - q) * p;
            mkv->total_cash[mo.t] += (1.0 - q) * p * s.Sn;
            mkv->cowsales[mo.t] += (1.0 - q) * p * s.Sn;
        }
        return;
    }

    if (window) {
        const ServiceChances sc = SERVICE_CHANCES(l, mim, mo.sea);
        const double Ps = sc.Ps, Pc = sc.Pc, E = sc.E;

        if (decision == DEC_INSEMINATE) {
            mkv->keep[c][mo.t] += p;
            const double stay_open = (1.0 - Pc) * (1.0 - q) * p;
            const double conceive = Pc * (1.0 - q) * p;
            const double unserved = (1.0 - Ps) * (1.0 - q) * f;
            next_classes(c, l, mim, 0, [&](int v, double T) {
                mkv->pstate[v][l][mim + 1][0][nxt] += stay_open * T;
                mkv->pstate[v][l][mim + 1][1][nxt] += conceive * T;
                mkv->pfs[v][l][mim + 1][nxt] += unserved * T;
            });
            if (mo.collect) {
                collect_kept(mo, s, calf, false);
                collect_breedable(mo, s, vwp);
                collect_services(mo, s, f, d, vwp, Ps, Pc, E);
            }
        } else if (decision == DEC_KEEP) {
            mkv->keep[c][mo.t] += p;
            const double stay = (1.0 - q) * p;
            const double unserved = (1.0 - q) * f;
            const double delayed = (1.0 - q) * d;
            next_classes(c, l, mim, 0, [&](int v, double T) {
                mkv->pstate[v][l][mim + 1][0][nxt] += stay * T;
                mkv->pfs[v][l][mim + 1][nxt] += unserved * T;
                mkv->pdelay[v][l][mim + 1][nxt] += delayed * T;
            });
            if (mo.collect) {
                collect_kept(mo, s, calf, false);
                collect_breedable(mo, s, vwp);
                mkv->delayed_n[mo.t] += (1.0 - q) * p * E;
            }
        } else {
            invalid_decision();
        }
        return;
    }

    /* Before the waiting period ends or after the last breeding month. */
    if (decision != DEC_KEEP) {
        invalid_decision();
        return;
    }
    mkv->keep[c][mo.t] += p;
    const double stay = (1.0 - q) * p;
    const double unserved = (1.0 - q) * f;
    next_classes(c, l, mim, 0, [&](int v, double T) {
        mkv->pstate[v][l][mim + 1][0][nxt] += stay * T;
        mkv->pfs[v][l][mim + 1][nxt] += unserved * T;
    });
    if (mo.collect) {
        collect_kept(mo, s, calf, false);
        if (mim == bio->lbm + 1)
            collect_prg(s);
    }
}

/* A pregnant cow: curr, lact, mim, mpreg 1..9, conceived in the breeding
** window (the caller visits only those). */
void pregnant_cow(Month& mo, int c, int l, int mim, int mpreg)
{
    const double p = mkv->pstate[c][l][mim][mpreg][mo.cur];
    if (p <= NEGLIGIBLE)
        return;

    const short decision = decision_of(mo, c, l, mim, mpreg);
    if (decision == DEC_NONE) {
        std::printf("\n decision error preg: %d %d %d %d %d : %d: no decision in %s", c, l, mim, mpreg, mo.m,
                    decision, policy_source().c_str());
        REPEATED_STOP("MARKOV_CHAIN decision error");
        return;
    }
    const double q = bio->pind[l][mim][mo.sea];
    const int nxt = mo.nxt;
    Visit s{};
    if (mo.collect) {
        s = make_visit(mo, c, l, mim, mpreg, p);
        collect_visit(mo, s);
    }

    if (decision == DEC_REPLACE) {
        mo.replaced += p;
        if (mo.collect)
            collect_replaced(mo, s, false);
        return;
    }
    if (decision != DEC_KEEP) {
        invalid_decision();
        return;
    }

    mkv->keep[c][mo.t] += p;
    const double ab = bio->abort[mpreg];
    if (mpreg < MAXMPREG) {
        const double stay = (1.0 - ab) * (1.0 - q) * p;
        const double aborted = ab * (1.0 - q) * p;
        next_classes(c, l, mim, 0, [&](int v, double T) {
            mkv->pstate[v][l][mim + 1][mpreg + 1][nxt] += stay * T;
            mkv->pstate[v][l][mim + 1][0][nxt] += aborted * T;
        });
    } else {
        /* Calving: the class of the next lactation depends on the
        ** calendar month of calving.  A cow that calves in the last
        ** lactation of the model starts that lactation again, as the
        ** dynamic program values her when it keeps her. */
        const int nl = l < bio->maxlact ? l + 1 : bio->maxlact;
        const double calving = (1.0 - q) * p;
        next_classes(c, l, mim, mo.sea, [&](int v, double T) {
            mkv->pstate[v][nl][1][0][nxt] += calving * T;
            mkv->pfs[v][nl][1][nxt] += calving * T;
        });
    }

    if (!mo.collect)
        return;
    collect_kept(mo, s, false, false);
    collect_prg(s);
    mkv->abortions[mo.t] += ab * p;
    mkv->abortrisk_n[mo.t] += p;
    if (mpreg == MAXMPREG) {
        mkv->calvings[l][mim][mo.t] += (1.0 - q) * p;
    } else if (!s.dry && s.Y_next <= DRY_MILK) {
        mkv->dryoffyield[mo.t] += p * s.Y / DAYS_PER_MONTH;
        mkv->dryoff_n[mo.t] += p;
    }
}

/* ---- the month around the cows ---------------------------------------- */

/* Young stock ages one month; open heifers from 15 months on are pregnant
** the month after.  Heifers due to calve and heifers of 30 months leave
** the pool. */
void young_stock(const Month& mo, double H)
{
    for (int age = 0; age < NAGE - 1; age++)
        for (int mp = 0; mp < NMPREG; mp++) {
            const double w = mkv->pheifer[age][mp][mo.cur];
            if (mo.collect)
                mkv->heiferraisecost[mo.t] += w * H / 23.0;
            if (mp >= 1 && mp <= 8)
                mkv->pheifer[age + 1][mp + 1][mo.nxt] += w;
            else if (mp == 0 && age >= 15)
                mkv->pheifer[age + 1][1][mo.nxt] += w;
            else if (mp == 0)
                mkv->pheifer[age + 1][0][mo.nxt] += w;
        }
}

/* Heifers enter the places the cows left. */
void entering_heifers(Month& mo, unsigned short entry_mode, double H, double herd_seen)
{
    MkvRecord* k = mkv;
    const int t = mo.t;
    const short e = pol->enter[mo.m];

    double pool = 0.0;
    if (entry_mode == 0) {
        /* A whole herd of heifers, only into an empty herd in month 1. */
        pool = (t == 1 && herd_seen == 0.0) ? 1.0 : 0.0;
    } else if (entry_mode == 1) {
        if (mo.collect)
            k->heifers_raised[t] = 0.0;
        if (e == 1) {
            double kept = 0.0;
            for (int c = 1; c <= MAXCURR; c++)
                kept += k->keep[c][t];
            pool = std::max(0.0, 1.0 - kept);
        } else if (e != 0) {
            std::printf("\n MARKOV_CHAIN: pol->enter[%d] error in ENTERING HEIFERS", e);
            REPEATED_STOP("MARKOV_CHAIN heifer entry error");
        }
    }
    k->heiferpool[t] = pool;
    k->mkv_enter[t] = e;

    if (mo.collect) {
        k->heifers_purchased[t] = std::max(0.0, pool - k->heifers_raised[t]);
        k->heifers_sold[t] = std::max(0.0, k->heifers_raised[t] - pool);
        k->calves_born[t] += pool;
        /* Female calves that survive join the young stock at two months;
        ** added to what the pool already carries at that age. */
        k->pheifer[2][0][mo.nxt] += k->calves_born[t] * 0.5 * 0.85;
        k->heiferraisecost[t] += k->calves_born[t] * 0.5 * H / 24.0;
        k->total_cash[t] -= H * pool;
        k->total_cash[t] += pool * bio->p_calf;
    }
    if (pool <= 0.0)
        return;

    const double q1 = bio->pind[1][1][mo.sea];
    for (int c = 1; c <= MAXCURR; c++) {
        const double h = pool * bio->pnext[0][0][0][0][c];
        if (h <= 0.0)
            continue;
        k->keep[c][t] += h;
        const double stay = (1.0 - q1) * h;
        next_classes(c, 1, 1, 0, [&](int v, double T) {
            k->pstate[v][1][2][0][mo.nxt] += stay * T;
        });
        if (mo.collect) {
            collect_kept(mo, make_visit(mo, c, 1, 1, 0, h), false, true);
            k->lactation1[t] += h;
        }
    }
}

/* Derived totals of a collected month and its progress mark. */
void close_month(const Month& mo, int count, double H)
{
    MkvRecord* k = mkv;
    const int t = mo.t;
    for (int mim = 1; mim <= MAXMIM; mim++) {
        k->cwt[t] += k->milkyield[mim][t] / 100.0;
        k->milksales[t] += k->milkyield[mim][t] * bio->p_milk[mo.m];
    }
    k->heiferpurchasecost[t] = H * k->heifers_purchased[t];
    k->calfsales[t] = k->calves_born[t] * bio->p_calf;
    for (int c = 1; c <= MAXCURR; c++)
        k->present[c][t] = k->open[c][t] + k->preg[c][t];
    k->fixedcost_labor[t] = bio->fixedcost1 * DAYS_PER_MONTH;
    k->fixedcost_other[t] = bio->fixedcost2 * DAYS_PER_MONTH;
    k->total_cash[t] -= k->fixedcost_labor[t] + k->fixedcost_other[t];
    k->totrevenue[t] = k->milksales[t] + k->cowsales[t] + k->calfsales[t];
    k->totcost[t] = k->feedcostdry[t] + k->feedcostlac[t] + k->breedingsupplycost[t] +
                    k->heiferpurchasecost[t] + k->laborcost[t] + k->vetcost[t] + k->loss[t] +
                    k->othercost[t] + k->fixedcost_labor[t] + k->fixedcost_other[t];

    const int step = count / 5;
    if ((step > 0 && t % step == 0) || t == 2 || t == count) {
        const double percent = static_cast<double>(t) / count * 50.0 + 50.0;
        std::printf(" %.0f%%", percent);
        WRITE_MSG_FILE(MSG_CHAIN_COLLECTING, percent);
    }
}

/* Asks the cache for what a collecting month reads of a state with mass
** from the records: they hold a row per state, so each state reads lines
** of its own.  (The month tables need no asking: they are read in order.) */
void prefetch_state(const Month& mo, int c, int l, int mim, int mp)
{
    if (mkv->pstate[c][l][mim][mp][mo.cur] <= NEGLIGIBLE)
        return;
    __builtin_prefetch(&pol->decision[c][l][mim][mp][mo.m]);
    __builtin_prefetch(&rpo->rpo[c][l][mim][mp][mo.m]);
    __builtin_prefetch(&rpo->prg[c][l][mim][mp][mo.m]);
    __builtin_prefetch(&bio->rev[c][l][mim][mp][mo.m]);
    __builtin_prefetch(&bio->milkyield[c][l][mim][mp][mo.sea]);
    __builtin_prefetch(&bio->dmi[c][l][mim][mp][mo.sea]);
    __builtin_prefetch(&bio->labortime[c][l][mim][mp][mo.sea]);
}

/* The states the walk visits at month in milk mim, asked for one month in
** milk ahead of it. */
void prefetch_states(const Month& mo, int c, int l, int mim)
{
    if (mo.cells == nullptr)
        prefetch_state(mo, c, l, mim, 0);
    if (waiting_period_end(l) <= mim && mim <= bio->lbm && mim < MAXMIM &&
        mkv->pstate[c][l][mim][0][mo.cur] > NEGLIGIBLE) {
        __builtin_prefetch(&ins->ins[c][l][mim][mo.m]);
        __builtin_prefetch(&del->open[c][l][mim][mim + 1][mo.sea]);
        __builtin_prefetch(&del->preg[c][l][mim][mim + 1][mo.sea]);
    }
    if (mo.cells != nullptr)
        return;
    int first, last;
    pregnancy_window(l, mim, first, last);
    for (int mp = first; mp <= last; mp++)
        prefetch_state(mo, c, l, mim, mp);
}

/* Slot `from` of the distribution into slot `to`. */
void copy_slot(int from, int to)
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    mkv->pstate[c][l][m][p][to] = mkv->pstate[c][l][m][p][from];
                mkv->pfs[c][l][m][to] = mkv->pfs[c][l][m][from];
                mkv->pdelay[c][l][m][to] = mkv->pdelay[c][l][m][from];
            }
    for (int a = 0; a < NAGE; a++)
        for (int p = 0; p < NMPREG; p++)
            mkv->pheifer[a][p][to] = mkv->pheifer[a][p][from];
}

/* The limits the moves rely on to stay inside the records. */
bool limits_ok(unsigned short count)
{
    bool ok = true;
    if (count > MAXT) {
        std::printf("\n MARKOV_CHAIN: count:%d error", count);
        ok = false;
    }
    if (bio->maxlact < 1 || bio->maxlact > MAXLACT || bio->maxmim > MAXMIM ||
        bio->lbm > MAXMIM - MAXMPREG || bio->start_sea < 1 || bio->start_sea > 12) {
        std::printf("\n MARKOV_CHAIN: bio->maxlact:%d bio->maxmim:%d bio->lbm:%d bio->start_sea:%d error",
                    bio->maxlact, bio->maxmim, bio->lbm, bio->start_sea);
        ok = false;
    }
    return ok;
}

} // namespace

void MARKOV_CHAIN(unsigned short entry_mode, unsigned short count, unsigned short collect)
{
    std::printf("\n MARKOV_CHAIN ...");
    if (!limits_ok(count)) {
        STOP(1);
        END_RUN(1);
    }
    if (entry_mode > 1) {
        std::printf("\n MARKOV_CHAIN: entry_mode:%d error", entry_mode);
        STOP(1);
    }

    if (collect == 0) {
        RESET_MKV_RECORD(RESET_SLOT_0, count);
        RESET_MKV_RECORD(RESET_SLOT_1, count);
    } else {
        RESET_MKV_RECORD(RESET_COLLECTING, count);
    }

    Month mo{};
    mo.sea = bio->start_sea;
    mo.cur = 1;
    mo.nxt = 0;
    mo.collect = collect == 1;
    copy_slot(2, 1);
    mo.cells = nullptr;
    /* The month tables pay for their copy (and their 25 MB) when each
    ** second-year slot comes round at least three times. */
    const bool tables = mo.collect && count >= TABLE_RUN_MONTHS;
    if (mo.collect) {
        TIMETAKEN(CLOCK_LAP_START);
        std::memset(&prg_month, 0, sizeof prg_month);
    }
    if (tables) {
        if (!BUILD_MONTH_TABLES()) {
            FAIL_RUN("MARKOV_CHAIN", "Insufficient memory available. ");
        }
    }

    const int maxlact = bio->maxlact;
    for (int t = 1; t <= count; t++) {
        mo.t = t;
        mo.m = mo.sea + (t < 13 ? 0 : 12);
        mo.mn = mo.sea == 12 ? mo.m - 11 : mo.m + 1;
        mo.sea_next = mo.sea == 12 ? 1 : mo.sea + 1;
        mo.replaced = 0.0;
        if (tables && mo.m >= FIRST_TABLE_SLOT)
            mo.cells = &MONTH_SLOT(mo.m);
        const double H = bio->p_heifer[mo.m];

        young_stock(mo, H);

        for (int l = 1; l <= maxlact; l++) {
            if (t == 1 && mo.collect &&
                (l == 1 || l == 3 || l == 5 || l == 7 || l == 9 || l == maxlact)) {
                const double percent = static_cast<double>(l) / maxlact * 50.0;
                std::printf(" %.0f%%", percent);
                WRITE_MSG_FILE(MSG_CHAIN_COLLECTING, percent);
            }
            for (int c = 1; c <= MAXCURR; c++)
                for (int mim = 1; mim <= MAXMIM; mim++) {
                    if (mo.collect && mim < MAXMIM)
                        prefetch_states(mo, c, l, mim + 1);
                    open_cow(mo, c, l, mim);
                    /* pregnant cows that conceived in the breeding window */
                    int first, last;
                    pregnancy_window(l, mim, first, last);
                    for (int mp = first; mp <= last; mp++)
                        pregnant_cow(mo, c, l, mim, mp);
                }
        }

        if (mo.collect)
            for (int age = 9; age <= 30; age++)
                mkv->heifers_raised[t] += mkv->pheifer[age][9][mo.cur];

        /* The herd seen this month: cows kept plus cows replaced. */
        double herd_seen = mo.replaced;
        for (int c = 1; c <= MAXCURR; c++)
            herd_seen += mkv->keep[c][t];
        entering_heifers(mo, entry_mode, H, herd_seen);

        if (mo.collect) {
            close_month(mo, count, H);
            close_prg_month(t);
        }

        std::swap(mo.cur, mo.nxt);
        mo.sea = mo.sea == 12 ? 1 : mo.sea + 1;
        if (t == count) {
            mkv->sea_next = static_cast<short>(mo.sea);
            copy_slot(mo.cur, 2);
        }
        RESET_MKV_RECORD(static_cast<unsigned short>(mo.nxt), count);
    }
    if (tables)
        RELEASE_MONTH_TABLES();
}
