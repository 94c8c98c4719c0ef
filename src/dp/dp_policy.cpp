/*
** dp_policy.cpp -- the value iteration that finds the keep / inseminate /
** replace policy of a cow and the heifer-entry policy of an empty place.
**
** DP_POLICY runs backward over calendar months.  Each stage values every
** cow state as the immediate monthly return plus the discounted expectation
** of next month's values over the yield classes she may move to, and the
** empty herd place as the better of leaving it empty or letting a heifer
** in.  The iteration stops when the yearly cash value of a herd place
** repeats from one year to the next; then 24 more stages (two calendar
** years) are run and their decisions, retention pay-offs, insemination
** values, pregnancy values, delay losses and heifer-entry advantages are
** stored by calendar slot for the files, the herd projection and the
** statistics.  The last stored stage also yields the expected months in
** herd under the policy (rpo->life).
**
** fut->value and the delay values hold two working buffers: a stage reads
** only the old one and writes only the new one.  The cow states of a stage
** are therefore split over two threads by lactation with no effect on any
** result (stage_crew.h); the empty place, the cash shift, the yearly
** extrapolation and the console lines stay on the calling thread.
**
** For speed the iteration works on its own copy of the two buffers, with
** the 16 yield classes of a row side by side (dp_lanes.h), and hands it
** back to the fut record when it ends and before the warm-start file is
** written.  Decisions and pay-offs are written to the records only by the
** stages whose results last: the stored ones, and the last stages before
** the iteration could give up.
*/
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/numeric.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "dp/dp_lanes.h"
#include "dp/stage_crew.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

/* ---- when the value iteration stops ------------------------------------ */

/* conv, the sum over 12 months of |cash of a herd place - cash a year
** earlier|, must fall below this ... */
constexpr double CONVERGED_BELOW = 0.0005;
/* ... at a stage of the start month from this stage on. */
constexpr int MIN_STAGES = 48;
/* Then this many stages are stored, one per calendar slot of two years. */
constexpr int STORED_STAGES = 24;
/* Yearly extrapolation of the place value (with interest only): from this
** stage on, in January, from three yearly values, at most this many times,
** and only when it moves the value by more than this. */
constexpr int EXTRAPOLATE_FROM = 36;
constexpr int MAX_EXTRAPOLATIONS = 6;
constexpr double EXTRAPOLATE_BEYOND = 20.0;
/* The iteration gives up at this stage, or at this earlier stage when a
** herd place has earned exactly nothing in any month. */
constexpr int STAGE_LIMIT = 10000;
constexpr int NOTHING_EARNED_STAGE = 200;

int stage_limit = STAGE_LIMIT;
int worker_count = stage_threads_from_environment();
int stages_run = 0;

/* Low producers by state, yield class innermost: daily milk or revenue of
** calendar slot 12 below the minimum, from month in milk 4 on.  The same
** in every stage, so it is worked out once per solve. */
bool low_producer[NLACT][NMIM][LANES];

/* What every cow state of a stage shares. */
struct Stage {
    short policy;
    int count;          /* stage counter c */
    int calc;           /* -1 iterating, 1..24 stored stages */
    int sea;            /* calendar month of this stage */
    int t;              /* calendar slot sea + w */
    int tn;             /* slot of next month */
    int old, nw;        /* buffers read and written */
    double disc;        /* monthly discount factor */
    double cost;        /* fixed cost of a herd place per month */
    double place;       /* discounted value of an empty place next month */
    double heifer_now;  /* value of an empty place this month */
    bool results;       /* decisions and pay-offs go to the records */
};

/* An action that is not possible carries the not-applicable marker as its
** value.  It takes no part in a choice: every possible action beats it,
** however low its value, as it must in a herd that loses money, where the
** value of a cow falls below the marker itself. */
inline double choice_value(double v)
{
    return v == NOT_APPLICABLE ? -std::numeric_limits<double>::infinity() : v;
}

/* Chance of conception within the month and the share of the month's
** service cost, for an open cow in the breeding window. */
struct Service {
    double pc;
    double cost;
};

Service service_of(int lact, int mim, int sea)
{
    const ServiceChances c = SERVICE_CHANCES(lact, mim, sea);
    Service s;
    s.pc = c.Pc;
    s.cost = (bio->instime / 60.0 * bio->wage + bio->inscost) * c.Ps;
    return s;
}

/* ---- the cow states of one (lactation, month in milk) ----------------- */

/* The 15 yield classes of one (lactation, month in milk) at once: every
** quantity of a cow state below is a row of 16 lanes, lane l for class l
** (dp_lanes.h).  Built for plain x86-64 and, chosen when the program
** starts, for processors with wider vector registers; the arithmetic of
** each lane is the same in every build.
**
** The quantities, in the order they appear (values are discounted money
** of one herd place from this month on):
**   M      chance that the cow leaves involuntarily this month
**   S      her sale value if she is replaced now, at the start of the month
**   B      what she fetches when she leaves involuntarily at the month's end
**          (the sale value of next month's slot times the sale factor)
**   loss   the part of this month's value that an involuntary exit brings:
**          her price less the disposal cost, and the empty place after it
**   stay   discount times the chance of staying: multiplies next month
**   E      value of inseminating an open cow this month: this month's
**          return, the service cost, and next month's expected value as a
**          mixture of pregnant and open by the chance of conception
**   Eimm   the part of E that falls in this month (no next-month value)
**   D      value of keeping an open cow without insemination; Dimm its part
**          in this month; Dp the same for a pregnant cow
**   X      next month's value, summed over the yield classes she may move
**          to (the band of the class-transition table)
**   G      value of replacing her now: her sale value, the place this
**          month and, in her first month in milk, the calf; Gp the same
**          for a pregnant cow, who has no calf to sell
**   value  the best of E, D and G: the state's value in the new buffer */
/* What the parts of one (lactation, month in milk) share. */
struct MonthCells {
    int lact, mim;
    int vwp, lbm, maxmim, maxlact;
    LaneBuffer& rd;     /* last stage's values */
    LaneBuffer& wr;     /* this stage's values */
    bool breeding;      /* in the breeding window, for the delay values */
    bool past_last;     /* the last month in milk: she is sold at its end */
    bool window;        /* may be inseminated this month */
    double S, loss, stay, calf;
    Service sv;
    const Band& row;    /* her yield-class moves within the lactation */
    RevenueRows rev;
    double* m;          /* scratch row for mixtures of next month's values */
};

/* The values of an open cow's actions (lanes by yield class). */
struct OpenCow {
    double E[LANES], D[LANES], Eimm[LANES], Dimm[LANES];
};

/* Inseminate (E) or keep without (D) an open cow: sold at the end of the
** last month in milk, served in the breeding window as the policy and the
** month's service switch allow, or only kept outside it. */
[[gnu::always_inline]] inline void open_cow_actions(const Stage& s, const MonthCells& c, OpenCow& o)
{
    const double* rev0 = c.rev.open();
    double X[LANES];
    if (c.past_last) {
        const double sold = c.stay * (bio->sel[c.lact][c.mim][s.tn] + s.place);
        #pragma omp simd
        for (int l = 0; l < LANES; l++) {
            o.E[l] = o.Eimm[l] = NOT_APPLICABLE;
            o.D[l] = o.Dimm[l] = rev0[l] - s.cost + sold + c.loss;
        }
    } else if (c.window) {
        const double* v0 = c.rd.value(c.lact, c.mim + 1, 0);
        const double* v1 = c.rd.value(c.lact, c.mim + 1, 1);
        #pragma omp simd
        for (int k = 0; k < LANES; k++)
            c.m[k] = (1.0 - c.sv.pc) * v0[k] + c.sv.pc * v1[k];
        double se[LANES];
        band_sums(c.row, c.m, se);
        band_sums(c.row, v0, X);
        const double reprocost = bio->reprocost[c.mim][s.sea];
        #pragma omp simd
        for (int l = 0; l < LANES; l++) {
            o.Eimm[l] = rev0[l] - s.cost - reprocost - c.stay * c.sv.cost + c.loss;
            o.E[l] = o.Eimm[l] + c.stay * se[l];
            o.Dimm[l] = rev0[l] - s.cost + c.loss;
            o.D[l] = o.Dimm[l] + c.stay * X[l];
        }
        if (s.results)
            for (int curr = 1; curr <= MAXCURR; curr++)
                ins->ins[curr][c.lact][c.mim][s.t] = o.E[curr] - o.D[curr];
        if (bio->serve[s.t] == 1) {
            #pragma omp simd
            for (int l = 0; l < LANES; l++)
                o.D[l] = o.E[l] - 0.001;
        } else if (bio->serve[s.t] == 0) {
            #pragma omp simd
            for (int l = 0; l < LANES; l++)
                o.E[l] = o.D[l] - 0.001;
        }
    } else {
        band_sums(c.row, c.rd.value(c.lact, c.mim + 1, 0), X);
        #pragma omp simd
        for (int l = 0; l < LANES; l++) {
            o.E[l] = o.Eimm[l] = NOT_APPLICABLE;
            o.Dimm[l] = rev0[l] - s.cost + c.loss + c.calf;
            o.D[l] = o.Dimm[l] + c.stay * X[l];
        }
    }
}

/* Delay values: the open cow's value when conception is put off until a
** later month h, pregnant (in the window) and open. */
[[gnu::always_inline]] inline void delay_values(const MonthCells& c, const OpenCow& o)
{
    double best[LANES];
    #pragma omp simd
    for (int l = 0; l < LANES; l++)
        best[l] = MAX2(choice_value(o.Eimm[l]), o.Dimm[l]);
    if (c.breeding)
        for (int h = c.mim + 1; h <= c.lbm + 1; h++)
            band_row(c.row, c.rd.delay_preg(c.lact, c.mim + 1, h), best, c.stay, c.wr.delay_preg(c.lact, c.mim, h));
    if (c.mim < c.maxmim)
        for (int h = c.mim + 1; h <= c.maxmim; h++)
            band_row(c.row, c.rd.delay_open(c.lact, c.mim + 1, h), best, c.stay, c.wr.delay_open(c.lact, c.mim, h));
}

/* The open cow's value, the best of E, D and replacing her (G), with the
** decision and the retention pay-off of a stage whose results last. */
[[gnu::always_inline]] inline void open_cow_choice(const Stage& s, const MonthCells& c, const OpenCow& o)
{
    const double G = c.S + s.heifer_now + c.calf;
    const bool* low = low_producer[c.lact][c.mim];
    double value[LANES];
    if (s.policy == POLICY_KEEPALL) {
        #pragma omp simd
        for (int l = 0; l < LANES; l++)
            value[l] = low[l] ? G : MAX2(choice_value(o.E[l]), o.D[l]);
    } else {
        #pragma omp simd
        for (int l = 0; l < LANES; l++)
            value[l] = low[l] ? G : MAX3(choice_value(o.E[l]), o.D[l], G);
    }
    store_row(c.wr.value(c.lact, c.mim, 0), value);
    store_row(c.wr.delay_open(c.lact, c.mim, c.mim), value);
    if (s.results)
        for (int curr = 1; curr <= MAXCURR; curr++) {
            const double e = choice_value(o.E[curr]);
            short decision;
            if (low[curr])
                decision = DEC_REPLACE;
            else if (s.policy == POLICY_KEEPALL)
                decision = ARGMAX2(o.D[curr], e);
            else
                decision = static_cast<short>(ARGMAX3(G, o.D[curr], e) - 1);
            pol->decision[curr][c.lact][c.mim][0][s.t] = decision;
            rpo->rpo[curr][c.lact][c.mim][0][s.t] = MAX2(e, o.D[curr]) - G;
        }
}

/* Pregnant cows that conceived inside the window: kept (Dp) or, under the
** optimal policy, replaced if that is worth more (Gp). */
[[gnu::always_inline]] inline void pregnant_cows(const Stage& s, const MonthCells& c)
{
    const double Gp = c.S + s.heifer_now;
    const int nl = c.lact < c.maxlact ? c.lact + 1 : c.maxlact;
    double X[LANES];
    for (int mpreg = 1; mpreg <= MAXMPREG; mpreg++) {
        const int conceived = c.mim - mpreg;
        if (conceived < c.vwp || conceived > c.lbm)
            continue;
        const double* revp = c.rev.pregnant(mpreg);
        double Dp[LANES];
        if (mpreg < MAXMPREG) {
            if (c.mim >= MAXMIM)
                continue; /* no month in milk after the last */
            const double ab = bio->abort[mpreg];
            const double* v0 = c.rd.value(c.lact, c.mim + 1, 0);
            const double* vp = c.rd.value(c.lact, c.mim + 1, mpreg + 1);
            #pragma omp simd
            for (int k = 0; k < LANES; k++)
                c.m[k] = (1.0 - ab) * vp[k] + ab * v0[k];
            band_sums(c.row, c.m, X);
        } else {
            /* calves next month, into the next lactation (the last
            ** lactation repeats itself) */
            band_sums(CALVING_BAND(s.sea, c.lact, c.mim), c.rd.value(nl, 1, 0), X);
        }
        #pragma omp simd
        for (int l = 0; l < LANES; l++)
            Dp[l] = revp[l] - s.cost + c.loss + c.stay * X[l];
        double vp[LANES];
        if (s.policy == POLICY_OPTIMAL) {
            #pragma omp simd
            for (int l = 0; l < LANES; l++)
                vp[l] = MAX2(Dp[l], Gp);
        } else {
            #pragma omp simd
            for (int l = 0; l < LANES; l++)
                vp[l] = Dp[l];
        }
        store_row(c.wr.value(c.lact, c.mim, mpreg), vp);
        if (mpreg == 1)
            store_row(c.wr.delay_preg(c.lact, c.mim, c.mim), vp);
        if (s.results)
            for (int curr = 1; curr <= MAXCURR; curr++) {
                pol->decision[curr][c.lact][c.mim][mpreg][s.t] =
                    s.policy == POLICY_OPTIMAL ? static_cast<short>(ARGMAX2(Gp, Dp[curr]) - 1) : DEC_KEEP;
                rpo->rpo[curr][c.lact][c.mim][mpreg][s.t] = Dp[curr] - Gp;
            }
    }
}

/* A stored stage's results for slot t: the value of a pregnancy and the
** losses from putting conception off. */
[[gnu::always_inline]] inline void stored_results(const Stage& s, const MonthCells& c)
{
    const int lact = c.lact, mim = c.mim, t = s.t;
    const double* open = c.wr.value(lact, mim, 0);
    const double* preg1 = c.wr.value(lact, mim, 1);
    for (int curr = 1; curr <= MAXCURR; curr++) {
        if (c.vwp + 1 <= mim && mim <= c.lbm + 1)
            rpo->prg[curr][lact][mim][0][t] = preg1[curr] - open[curr];
        for (int mpreg = 1; mpreg <= MAXMPREG; mpreg++) {
            const int conceived = mim - mpreg;
            if (conceived >= c.vwp && conceived <= c.lbm)
                rpo->prg[curr][lact][mim][mpreg][t] = c.wr.value(lact, mim, mpreg)[curr] - open[curr];
        }
        for (int h = mim; h <= MAXMIM; h++)
            del->open[curr][lact][mim][h][t] = c.wr.delay_open(lact, mim, h)[curr] - open[curr];
        if (c.vwp + 1 <= mim && mim <= c.lbm)
            for (int h = mim + 1; h <= c.lbm + 1; h++)
                del->preg[curr][lact][mim][h][t] = c.wr.delay_preg(lact, mim, h)[curr] - preg1[curr];
    }
}

[[gnu::target_clones("avx512f", "avx2", "default")]]
void stage_month(const Stage& s, int lact, int mim, MixRow& mix)
{
    const int vwp = waiting_period_end(lact);
    const int lbm = bio->lbm;
    const int maxmim = bio->maxmim;
    const double M = bio->pind[lact][mim][s.sea];
    const double B = bio->sel_factor * bio->sel[lact][mim][s.tn];
    const bool past_last = mim >= maxmim;
    const bool window = !past_last && vwp <= mim && mim <= lbm;
    const MonthCells c{
        lact,
        mim,
        vwp,
        lbm,
        maxmim,
        bio->maxlact,
        LANE_BUFFER(s.old),
        LANE_BUFFER(s.nw),
        vwp <= mim && mim <= lbm,
        past_last,
        window,
        bio->sel[lact][mim][s.t],
        s.disc * M * (B - bio->cullcost + s.place),
        s.disc * (1.0 - M), /* multiplies every class sum */
        mim == 1 ? bio->p_calf : 0.0,
        window ? service_of(lact, mim, s.sea) : Service{0.0, 0.0},
        WITHIN_BAND(lact, mim),
        REVENUE_LANES(s.t, lact, mim),
        mix.row(),
    };

    OpenCow open;
    open_cow_actions(s, c, open);
    delay_values(c, open);
    open_cow_choice(s, c, open);
    pregnant_cows(s, c);
    if (s.calc >= 1)
        stored_results(s, c);
}

/* One task of the stage crew: every month in milk of lactation k + 1. */
void stage_lactation(const void* stage, int k)
{
    const Stage& s = *static_cast<const Stage*>(stage);
    MixRow mix;
    for (int mim = 1; mim <= MAXMIM; mim++)
        stage_month(s, k + 1, mim, mix);
}

/* ---- expected months in herd ------------------------------------------ */

/* Folds month e into 1..12 (first year) or 13..24 (second year). */
int fold_slot(int e, bool second_year)
{
    const int top = second_year ? 24 : 12;
    while (e > top)
        e -= 12;
    return e;
}

/* Expected months a cow stays under the stored policy, undiscounted, for
** every kept state of the two stored years. */
void herd_life()
{
    const int maxlact = bio->maxlact;
    const int lbm = bio->lbm;
    for (int lact = maxlact; lact >= 1; lact--) {
        const int vwp = waiting_period_end(lact);
        for (int mim = MAXMIM; mim >= 1; mim--) {
            for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                if (mpreg > 0 && (mim - mpreg < vwp || mim - mpreg > lbm))
                    continue;
                if (mpreg > 0 && mpreg < MAXMPREG && mim >= MAXMIM)
                    continue; /* never reached: see the stage loop */
                for (int i = 0; i < 24; i++) {
                    const int e = bio->start_sea + i;
                    const int slot = fold_slot(e, i >= 12);
                    const int n = fold_slot(e + 1, i + 1 >= 12);
                    const int sea = fold_slot(slot, false);
                    const double M = bio->pind[lact][mim][sea];
                    for (int curr = 1; curr <= MAXCURR; curr++) {
                        const short d = pol->decision[curr][lact][mim][mpreg][slot];
                        if (d <= 0)
                            continue;
                        double life = 1.0;
                        int lo, hi;
                        if (mpreg >= 1 && mpreg < MAXMPREG) {
                            row_bounds(curr, lact, mim, 0, lo, hi);
                            const double ab = bio->abort[mpreg];
                            for (int c = lo; c <= hi; c++)
                                life += (1.0 - M) * bio->pnext[curr][lact][mim][0][c] *
                                        ((1.0 - ab) * rpo->life[c][lact][mim + 1][mpreg + 1][n] +
                                         ab * rpo->life[c][lact][mim + 1][0][n]);
                        } else if (mpreg == MAXMPREG) {
                            if (lact < maxlact) {
                                row_bounds(curr, lact, mim, sea, lo, hi);
                                for (int c = lo; c <= hi; c++)
                                    life += (1.0 - M) * bio->pnext[curr][lact][mim][sea][c] *
                                            rpo->life[c][lact + 1][1][0][n];
                            }
                        } else if (mim < MAXMIM) {
                            row_bounds(curr, lact, mim, 0, lo, hi);
                            if (d == DEC_KEEP) {
                                for (int c = lo; c <= hi; c++)
                                    life += (1.0 - M) * bio->pnext[curr][lact][mim][0][c] *
                                            rpo->life[c][lact][mim + 1][0][n];
                            } else if (d == DEC_INSEMINATE) {
                                const double pc = service_of(lact, mim, sea).pc;
                                for (int c = lo; c <= hi; c++)
                                    life += (1.0 - M) * bio->pnext[curr][lact][mim][0][c] *
                                            ((1.0 - pc) * rpo->life[c][lact][mim + 1][0][n] +
                                             pc * rpo->life[c][lact][mim + 1][1][n]);
                            }
                        }
                        rpo->life[curr][lact][mim][mpreg][slot] = life;
                    }
                }
            }
        }
    }
}

/* ---- the empty herd place --------------------------------------------- */

struct Place {
    double H; /* let a heifer enter */
    double I; /* leave the place empty */
};

Place empty_place(const Stage& s)
{
    const int t = s.t;
    const double* fresh = LANE_BUFFER(s.old).value(1, 2, 0); /* open heifers a month later */
    const double M0 = bio->pind[1][1][s.sea];
    const double B0 = bio->sel_factor * bio->sel[1][1][s.tn];
    Place pl;
    pl.I = s.place - s.cost;
    double sum = 0.0;
    for (int b = 1; b <= MAXCURR; b++) {
        int lo, hi;
        row_bounds(b, 1, 1, 0, lo, hi);
        double next = 0.0;
        for (int c = lo; c <= hi; c++)
            next += bio->pnext[b][1][1][0][c] * fresh[c];
        sum += bio->pnext[0][0][0][0][b] *
               (bio->rev[b][1][1][0][t] + s.disc * M0 * (B0 - bio->cullcost + s.place) +
                s.disc * (1.0 - M0) * next);
    }
    pl.H = bio->p_calf - bio->p_heifer[t] - s.cost + sum;
    if (bio->enter[t] == 1)
        pl.I = pl.H - 0.001;
    else if (bio->enter[t] == 0)
        pl.H = pl.I - 0.001;
    if (s.count == 13) {
        bool none = true;
        for (int u = 13; u <= 24; u++)
            if (pol->enter[u] != 0)
                none = false;
        if (none)
            pl.I = pl.H - 0.001;
    }
    return pl;
}

void find_low_producers()
{
    for (int curr = 0; curr < NCURR; curr++)
        for (int lact = 0; lact < NLACT; lact++)
            for (int mim = 0; mim < NMIM; mim++)
                low_producer[lact][mim][curr] =
                    mim >= 4 && (bio->milkyield[curr][lact][mim][0][12] / DAYS_PER_MONTH < bio->minmilk ||
                                 bio->rev[curr][lact][mim][0][12] / DAYS_PER_MONTH < bio->minrev);
}

/* Adds diff to every value the warm-start file carries, in buffer buf. */
void shift_values(int buf, double diff)
{
    LaneBuffer& b = LANE_BUFFER(buf);
    for (int lact = 1; lact <= MAXLACT; lact++)
        for (int mim = 1; mim <= MAXMIM; mim++)
            for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
                if (mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15)) {
                    double* v = b.value(lact, mim, mpreg);
                    for (int curr = 1; curr <= MAXCURR; curr++)
                        v[curr] += diff;
                }
}

/* Start checks; a value that would take the stage loop outside the
** records ends the run after the pause, the others pause and go on. */
void check_start()
{
    constexpr const char* WINDOW_LINE = "\n bio->vwp1:%d or bio->vwp2:%d or bio->vwp3:%d or bio->lbm:%d error";
    constexpr const char* LENGTH_LINE = "\n bio->maxmim:%d or bio->lbm:%d error";
    const short* vwp = bio->vwp;
    const short lbm = bio->lbm;
    if (vwp[1] < 2 || vwp[2] < 2 || vwp[3] < 2 || lbm > 15 || lbm < vwp[1] || lbm < vwp[2] ||
        lbm < vwp[3]) {
        if (lbm > 23)
            FAIL_RUN(nullptr, WINDOW_LINE, vwp[1], vwp[2], vwp[3], lbm);
        WARN_RUN(nullptr, WINDOW_LINE, vwp[1], vwp[2], vwp[3], lbm);
    }
    if (bio->maxmim > 24 || lbm >= bio->maxmim) {
        if (bio->maxmim > 24)
            FAIL_RUN(nullptr, LENGTH_LINE, bio->maxmim, lbm);
        WARN_RUN(nullptr, LENGTH_LINE, bio->maxmim, lbm);
    }
    if (bio->maxlact < 1 || bio->maxlact > MAXLACT || bio->start_sea < 1 || bio->start_sea > 12)
        FAIL_RUN("DP_POLICY", "bio->maxlact:%d or bio->start_sea:%d error", bio->maxlact, bio->start_sea);
}

void not_converged()
{
    /* The operator sees the text; nothing of the bio file is ever run. */
    const std::string text = "DP_POLICY not converged, biofiletime = " + biofiletime;
    std::printf("\n %s\a", text.c_str());
    std::fflush(stdout);
    /* The values of a solve that did not settle are no start for another. */
    WRITE_MSG_FILE(MSG_DP_FAILED, 0.0);
}

} // namespace

void DP_SET_STAGE_LIMIT(int limit)
{
    stage_limit = limit;
}

void DP_SET_WORKERS(int workers)
{
    worker_count = workers;
}

int DP_WORKERS()
{
    return worker_count;
}

int DP_STAGES()
{
    return stages_run;
}

double EXTRAPOLATE(double a, double b, double c)
{
    const double d1 = a - b;
    const double d2 = b - c;
    if (d2 == 0.0 || d1 * d2 - d2 * d2 == 0.0)
        return NOT_APPLICABLE;
    const double ratio = d1 / d2;
    if (ratio > 1.1)
        return a - (d1 * d1 * d1 / (d1 * d2 - d2 * d2)) / ratio;
    std::printf(":ratio:%.2f", ratio);
    return NOT_APPLICABLE;
}

short DP_POLICY(short policy)
{
    std::printf("\n DP_POLICY started ... policy:%d", bio->policy);
    check_start();

    Stage s;
    s.policy = policy;
    s.disc = DISCOUNT(bio->interest / 12.0, 1.0);
    s.cost = (bio->fixedcost1 + bio->fixedcost2) * DAYS_PER_MONTH;
    s.count = 0;
    s.calc = -1;
    int w = 12;
    s.old = 0;
    s.nw = 1;
    s.sea = bio->start_sea;
    int extrapolations = 1;
    int nvalues = 0;
    double values[3] = {0.0, 0.0, 0.0};
    double floor = 0.0;
    double K = 0.0;
    stages_run = 0;
    find_low_producers();
    BUILD_LANE_TABLES();
    LOAD_LANES();
    StageCrew crew(worker_count);

    for (;;) {
        s.count++;
        stages_run = s.count;
        s.sea = s.sea == 1 ? 12 : s.sea - 1;
        if (s.calc >= 0)
            s.calc++;
        if (s.calc >= 13)
            w = 0;
        s.t = s.sea + w;
        s.tn = s.sea == 12 ? w + 1 : s.sea + w + 1;
        const double Kprev = s.count == 1 ? fut->heifer[0] : K;

        /* the empty herd place */
        s.place = s.disc * fut->heifer[s.old];
        const Place pl = empty_place(s);
        fut->heifer_now = MAX2(pl.H, pl.I);
        fut->heifer[s.nw] = fut->heifer_now;
        pol->enter[s.t] = pl.H >= pl.I ? 1 : 0;
        s.heifer_now = fut->heifer_now;

        /* every cow state; the iteration stages that cannot be the last
        ** to fill a slot keep their decisions to themselves */
        s.results = s.calc >= 1 || s.count > stage_limit - 12 ||
                    (s.count > NOTHING_EARNED_STAGE - 12 && s.count <= NOTHING_EARNED_STAGE);
        crew.run(stage_lactation, &s, bio->maxlact);
        if (s.count == 1) {
            for (int curr : {1, 4, 7, 10, 15}) {
                const double pct = curr / 15.0 * 100.0;
                std::printf(" %.0f%%", pct);
                WRITE_MSG_FILE(MSG_DP_CONVERGENCE, pct);
            }
        }

        /* monthly cash value of a herd place */
        K = fut->heifer_now;
        for (int i = 24; i >= 2; i--)
            fut->cash[i] = fut->cash[i - 1];
        fut->cash[1] = K - s.disc * Kprev;

        /* yearly extrapolation while iterating */
        if (s.sea == 1 && s.count >= EXTRAPOLATE_FROM && s.disc < 1.0 && s.calc == -1 &&
            extrapolations <= MAX_EXTRAPOLATIONS) {
            values[nvalues++] = K;
            if (nvalues == 3) {
                std::printf(" A");
                const double e = EXTRAPOLATE(values[0], values[1], values[2]);
                nvalues = 0;
                extrapolations++;
                if (e != NOT_APPLICABLE && std::fabs(e - K) > EXTRAPOLATE_BEYOND) {
                    std::printf(":%.0f", e);
                    const double diff = e - K;
                    K += diff;
                    fut->heifer[s.nw] += diff;
                    fut->heifer_now += diff;
                    shift_values(s.nw, diff);
                }
            }
        }

        double yr = 0.0, conv = 0.0;
        for (int i = 1; i <= 12; i++) {
            yr += fut->cash[i];
            conv += std::fabs(fut->cash[i] - fut->cash[i + 12]);
        }
        DPcash12 = yr;
        floor -= s.cost;
        if (K == floor)
            conv = 1.0; /* a place that never earns anything */

        std::printf("\n %d calc:%2d w:%2d sea:%2d fut:%.2f cash:%6.2f yr:%.2f conv:%f", s.count,
                    s.calc, w, s.sea, K, fut->cash[1], yr, conv);
        if (s.sea == bio->start_sea && s.count > 1)
            WRITE_MSG_FILE(MSG_DP_CONVERGENCE, conv);

        if (s.calc >= 1)
            heifer_rpo[s.t] = pl.H - pl.I;

        if (s.calc == -1 && s.sea == bio->start_sea && conv < CONVERGED_BELOW && s.count >= MIN_STAGES) {
            std::printf("*");
            s.calc = 0;
        }
        if (s.calc == STORED_STAGES / 2 && warmstart == SWITCH_ON) {
            STORE_LANE_VALUES(s.nw);
            WRITE_WARM_FILE(static_cast<unsigned short>(s.nw));
        }
        if (s.calc == STORED_STAGES)
            herd_life();

        const int read_buffer = s.old;
        s.old = s.nw;
        s.nw = read_buffer;

        if (s.count >= stage_limit || (s.count == NOTHING_EARNED_STAGE && K == floor)) {
            STORE_LANES();
            RELEASE_LANES();
            not_converged();
            return 0;
        }
        if (s.calc == STORED_STAGES) {
            STORE_LANES();
            RELEASE_LANES();
            std::printf("\n DP_POLICY done ... %.1f years  calc:%d ", (s.count - 36) / 12.0, s.calc);
            for (int u = 1; u <= 24; u++)
                std::printf("%d", pol->enter[u]);
            WRITE_MSG_FILE(MSG_DP_CONVERGED, yr);
            return 1;
        }
    }
}
