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
** result (StageCrew); the empty place, the cash shift, the yearly
** extrapolation and the console lines stay on the calling thread.
**
** For speed each (lactation, month in milk) first gathers next month's
** values of that lactation into small arrays ordered by yield class, so the
** class sums over bio->lo..bio->hi read contiguous memory.
*/
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <system_error>
#include <thread>

#include "bio/numeric.h"
#include "run/records.h"
#include "run/runlog.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"

namespace {

int stage_limit = 10000;
int worker_count = 2;
int stages_run = 0;

/* Low producers by state: daily milk or revenue of calendar slot 12 below
** the minimum, from month in milk 4 on.  The same in every stage, so it is
** worked out once per solve. */
bool low_producer[NCURR][NLACT][NMIM];

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
};

/* An action that is not possible carries the not-applicable marker as its
** value.  It takes no part in a choice: every possible action beats it,
** however low its value, as it must in a herd that loses money, where the
** value of a cow falls below the marker itself. */
inline double choice_value(double v)
{
    return v == NOT_APPLICABLE ? -std::numeric_limits<double>::infinity() : v;
}

int lact_group(int lact)
{
    return lact < 3 ? lact : 3;
}

/* Class bounds of a transition row, kept inside 0..15. */
void row_bounds(int curr, int lact, int mim, int k, int& lo, int& hi)
{
    lo = bio->lo[curr][lact][mim][k];
    hi = bio->hi[curr][lact][mim][k];
    if (lo < 0)
        lo = 0;
    if (hi > MAXCURR)
        hi = MAXCURR;
}

/* Sum over classes lo..hi of p[c] * f[c]. */
inline double class_sum(const double* p, const double* f, int lo, int hi)
{
    double s = 0.0;
    for (int c = lo; c <= hi; c++)
        s += p[c] * f[c];
    return s;
}

/* Chance of conception within the month and the share of the month's
** service cost, for an open cow in the breeding window. */
struct Service {
    double pc;
    double cost;
};

Service service_of(int lact, int mim, int sea)
{
    const double hdr = bio->heatdetectionrate[mim][sea];
    const double q = hdr * bio->conceptionrate[lact][mim][sea];
    double hd = hdr + (1.0 - q) * hdr * SECOND_HEAT;
    if (hd >= 1.0)
        hd = 1.0;
    Service s;
    s.pc = q + q * (1.0 - q) * SECOND_HEAT;
    s.cost = (bio->instime / 60.0 * bio->wage + bio->inscost) * hd;
    return s;
}

/* ---- the cow states of one (lactation, month in milk) ----------------- */

void STAGE_MONTH(const Stage& s, int lact, int mim)
{
    const int g = lact_group(lact);
    const int vwp = bio->vwp[g];
    const int lbm = bio->lbm;
    const int maxmim = bio->maxmim;
    const int maxlact = bio->maxlact;
    const int sea = s.sea, t = s.t, tn = s.tn, old = s.old, nw = s.nw;

    /* Next month's values of this lactation, yield class innermost; of the
    ** delay values only the months the sums below read. */
    const bool breeding = vwp <= mim && mim <= lbm;
    const int open_last = maxmim < MAXMIM ? maxmim : MAXMIM;
    double vnext[NMPREG][NCURR];
    double onext[NMIM][NCURR];
    double pnext_[NMIM][NCURR];
    double vcalf[NCURR];
    if (mim < MAXMIM) {
        for (int c = 0; c < NCURR; c++) {
            for (int p = 0; p < NMPREG; p++)
                vnext[p][c] = fut->value[c][lact][mim + 1][p][old];
            for (int h = mim + 1; h <= open_last; h++)
                onext[h][c] = fut->delay_open[c][lact][mim + 1][h][old];
            if (breeding)
                for (int h = mim + 1; h <= lbm + 1; h++)
                    pnext_[h][c] = fut->delay_preg[c][lact][mim + 1][h][old];
        }
    }
    const int nl = lact < maxlact ? lact + 1 : maxlact;
    for (int c = 0; c < NCURR; c++)
        vcalf[c] = fut->value[c][nl][1][0][old];

    const double M = bio->pind[lact][mim][sea];
    const double S = bio->sel[lact][mim][t];
    const double B = bio->sel_factor * bio->sel[lact][mim][tn];
    const double loss = s.disc * M * (B - bio->cullcost + s.place);
    const double stay = s.disc * (1.0 - M); /* multiplies every class sum */
    const double calf = mim == 1 ? bio->p_calf : 0.0;

    const bool past_last = mim >= maxmim;
    const bool window = !past_last && vwp <= mim && mim <= lbm;
    Service sv = {0.0, 0.0};
    if (window)
        sv = service_of(lact, mim, sea);

    const bool stored = s.calc >= 1;

    for (int curr = 1; curr <= MAXCURR; curr++) {
        int lo, hi;
        row_bounds(curr, lact, mim, 0, lo, hi);
        const double* p = bio->pnext[curr][lact][mim][0];
        const double rev0 = bio->rev[curr][lact][mim][0][t];

        /* -- open cow -- */
        double E, D, Eimm, Dimm;
        if (past_last) {
            /* sold at the end of the month */
            E = Eimm = NOT_APPLICABLE;
            D = Dimm = rev0 - s.cost + stay * (bio->sel[lact][mim][tn] + s.place) + loss;
        } else if (window) {
            Eimm = rev0 - s.cost - bio->reprocost[mim][sea] - stay * sv.cost + loss;
            double se = 0.0;
            for (int c = lo; c <= hi; c++)
                se += p[c] * ((1.0 - sv.pc) * vnext[0][c] + sv.pc * vnext[1][c]);
            E = Eimm + stay * se;
            Dimm = rev0 - s.cost + loss;
            D = Dimm + stay * class_sum(p, vnext[0], lo, hi);
            ins->ins[curr][lact][mim][t] = E - D;
            if (bio->serve[t] == 1)
                D = E - 0.001;
            else if (bio->serve[t] == 0)
                E = D - 0.001;
        } else {
            E = Eimm = NOT_APPLICABLE;
            Dimm = rev0 - s.cost + loss + calf;
            D = Dimm + stay * class_sum(p, vnext[0], lo, hi);
        }
        const double G = S + s.heifer_now + calf;

        /* delay values: conception put off until month h */
        const double best = MAX2(choice_value(Eimm), Dimm);
        if (breeding)
            for (int h = mim + 1; h <= lbm + 1; h++)
                fut->delay_preg[curr][lact][mim][h][nw] = best + stay * class_sum(p, pnext_[h], lo, hi);
        if (mim < maxmim)
            for (int h = mim + 1; h <= maxmim; h++)
                fut->delay_open[curr][lact][mim][h][nw] = best + stay * class_sum(p, onext[h], lo, hi);

        double value;
        short decision;
        if (low_producer[curr][lact][mim]) {
            value = G;
            decision = DEC_REPLACE;
        } else if (s.policy == POLICY_KEEPALL) {
            value = MAX2(choice_value(E), D);
            decision = ARGMAX2(D, choice_value(E));
        } else {
            value = MAX3(choice_value(E), D, G);
            decision = static_cast<short>(ARGMAX3(G, D, choice_value(E)) - 1);
        }
        fut->value[curr][lact][mim][0][nw] = value;
        fut->delay_open[curr][lact][mim][mim][nw] = value;
        pol->decision[curr][lact][mim][0][t] = decision;
        rpo->rpo[curr][lact][mim][0][t] = MAX2(choice_value(E), D) - G;

        /* -- pregnant cows that conceived inside the window -- */
        const double Gp = S + s.heifer_now;
        for (int mpreg = 1; mpreg <= MAXMPREG; mpreg++) {
            const int conceived = mim - mpreg;
            if (conceived < vwp || conceived > lbm)
                continue;
            const double revp = bio->rev[curr][lact][mim][mpreg][t];
            double Dp;
            if (mpreg < MAXMPREG) {
                if (mim >= MAXMIM)
                    continue; /* no month in milk after the last */
                const double ab = bio->abort[mpreg];
                double sp = 0.0;
                for (int c = lo; c <= hi; c++)
                    sp += p[c] * ((1.0 - ab) * vnext[mpreg + 1][c] + ab * vnext[0][c]);
                Dp = revp - s.cost + loss + stay * sp;
            } else {
                /* calves next month, into the next lactation (the last
                ** lactation repeats itself) */
                int clo, chi;
                row_bounds(curr, lact, mim, sea, clo, chi);
                Dp = revp - s.cost + loss +
                     stay * class_sum(bio->pnext[curr][lact][mim][sea], vcalf, clo, chi);
            }
            double vp;
            short dp;
            if (s.policy == POLICY_OPTIMAL) {
                vp = MAX2(Dp, Gp);
                dp = static_cast<short>(ARGMAX2(Gp, Dp) - 1);
            } else {
                vp = Dp;
                dp = DEC_KEEP;
            }
            fut->value[curr][lact][mim][mpreg][nw] = vp;
            pol->decision[curr][lact][mim][mpreg][t] = dp;
            rpo->rpo[curr][lact][mim][mpreg][t] = Dp - Gp;
            if (mpreg == 1)
                fut->delay_preg[curr][lact][mim][mim][nw] = vp;
        }

        if (!stored)
            continue;

        /* -- results of a stored stage for slot t -- */
        const double open = fut->value[curr][lact][mim][0][nw];
        const double preg1 = fut->value[curr][lact][mim][1][nw];
        if (vwp + 1 <= mim && mim <= lbm + 1)
            rpo->prg[curr][lact][mim][0][t] = preg1 - open;
        for (int mpreg = 1; mpreg <= MAXMPREG; mpreg++) {
            const int conceived = mim - mpreg;
            if (conceived >= vwp && conceived <= lbm)
                rpo->prg[curr][lact][mim][mpreg][t] = fut->value[curr][lact][mim][mpreg][nw] - open;
        }
        for (int h = mim; h <= MAXMIM; h++)
            del->open[curr][lact][mim][h][t] = fut->delay_open[curr][lact][mim][h][nw] - open;
        if (vwp + 1 <= mim && mim <= lbm)
            for (int h = mim + 1; h <= lbm + 1; h++)
                del->preg[curr][lact][mim][h][t] = fut->delay_preg[curr][lact][mim][h][nw] - preg1;
    }
}

/* The lactations of each stage, shared between the calling thread and one
** helper.  A lactation is one task: its months read and write the same
** cache lines (the buffers of a state lie side by side), so they stay with
** one thread.  Tasks are handed out one at a time from
** a counter that also carries the stage's generation, so a helper that
** wakes late takes nothing of a stage that has moved on, and the calling
** thread never waits for a helper that has not started: on a busy machine
** it simply does every task itself.  The stage ends when every task taken
** is finished. */
class StageCrew {
public:
    explicit StageCrew(int workers)
    {
        if (workers < 2)
            return;
        try {
            helper_ = std::thread([this] { HELP(); });
        } catch (const std::system_error&) {
            /* no second thread to be had: the calling thread does it all */
        }
    }

    ~StageCrew()
    {
        if (!helper_.joinable())
            return;
        stop_.store(true);
        generation_.fetch_add(1);
        generation_.notify_one();
        helper_.join();
    }

    StageCrew(const StageCrew&) = delete;
    StageCrew& operator=(const StageCrew&) = delete;

    void RUN(const Stage& s)
    {
        const std::uint64_t g = generation_.load() + 1;
        stage_.store(&s);
        tasks_.store(bio->maxlact);
        helped_.store(0);
        next_.store(g << 32);
        generation_.store(g);
        if (helper_.joinable())
            generation_.notify_one();
        const int mine = TAKE_TASKS(g, false);
        while (mine + helped_.load(std::memory_order_acquire) < tasks_.load())
            std::this_thread::yield();
    }

private:
    /* Runs tasks of generation g until none is left; returns how many. */
    int TAKE_TASKS(std::uint64_t g, bool helper)
    {
        int count = 0;
        for (;;) {
            std::uint64_t v = next_.load();
            if ((v >> 32) != g)
                break;
            const int k = static_cast<int>(v & 0xffffffffu);
            if (k >= tasks_.load())
                break;
            if (!next_.compare_exchange_weak(v, v + 1))
                continue;
            const Stage& s = *stage_.load();
            for (int mim = 1; mim <= MAXMIM; mim++)
                STAGE_MONTH(s, k + 1, mim);
            count++;
            if (helper)
                helped_.fetch_add(1, std::memory_order_release);
        }
        return count;
    }

    void HELP()
    {
        std::uint64_t seen = 0;
        for (;;) {
            generation_.wait(seen);
            seen = generation_.load();
            if (stop_.load())
                return;
            TAKE_TASKS(seen, true);
        }
    }

    std::thread helper_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::uint64_t> next_{0}; /* generation << 32 | next task */
    std::atomic<const Stage*> stage_{nullptr};
    std::atomic<int> tasks_{0};
    std::atomic<int> helped_{0};
    std::atomic<bool> stop_{false};
};

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
void HERD_LIFE()
{
    const int maxlact = bio->maxlact;
    const int lbm = bio->lbm;
    for (int lact = maxlact; lact >= 1; lact--) {
        const int vwp = bio->vwp[lact_group(lact)];
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

Place EMPTY_PLACE(const Stage& s)
{
    const int t = s.t, old = s.old;
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
            next += bio->pnext[b][1][1][0][c] * fut->value[c][1][2][0][old];
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

void FIND_LOW_PRODUCERS()
{
    for (int curr = 0; curr < NCURR; curr++)
        for (int lact = 0; lact < NLACT; lact++)
            for (int mim = 0; mim < NMIM; mim++)
                low_producer[curr][lact][mim] =
                    mim >= 4 && (bio->milkyield[curr][lact][mim][0][12] / DAYS_PER_MONTH < bio->minmilk ||
                                 bio->rev[curr][lact][mim][0][12] / DAYS_PER_MONTH < bio->minrev);
}

/* Adds diff to every value the warm-start file carries, in buffer buf. */
void SHIFT_VALUES(int buf, double diff)
{
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
                    if (mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15))
                        fut->value[curr][lact][mim][mpreg][buf] += diff;
}

/* Start checks; a value that would take the stage loop outside the
** records ends the run after the pause. */
void CHECK_START()
{
    const short* vwp = bio->vwp;
    const short lbm = bio->lbm;
    if (vwp[1] < 2 || vwp[2] < 2 || vwp[3] < 2 || lbm > 15 || lbm < vwp[1] || lbm < vwp[2] ||
        lbm < vwp[3]) {
        std::printf("\n bio->vwp1:%d or bio->vwp2:%d or bio->vwp3:%d or bio->lbm:%d error", vwp[1],
                    vwp[2], vwp[3], lbm);
        STOP(1);
        if (lbm > 23)
            END_RUN(1);
    }
    if (bio->maxmim > 24 || lbm >= bio->maxmim) {
        std::printf("\n bio->maxmim:%d or bio->lbm:%d error", bio->maxmim, lbm);
        STOP(1);
        if (bio->maxmim > 24)
            END_RUN(1);
    }
    if (bio->maxlact < 1 || bio->maxlact > MAXLACT || bio->start_sea < 1 || bio->start_sea > 12) {
        std::printf("\n DP_POLICY: bio->maxlact:%d or bio->start_sea:%d error", bio->maxlact,
                    bio->start_sea);
        STOP(1);
        END_RUN(1);
    }
}

void NOT_CONVERGED(int read_buffer)
{
    /* The operator sees the text; nothing of the bio file is ever run. */
    const std::string text = "DP_POLICY not converged, biofiletime = " + biofiletime;
    std::printf("\n %s\a", text.c_str());
    std::fflush(stdout);
    WRITE_WARM_FILE(static_cast<unsigned short>(read_buffer));
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
    CHECK_START();

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
    FIND_LOW_PRODUCERS();
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
        const Place pl = EMPTY_PLACE(s);
        fut->heifer_now = MAX2(pl.H, pl.I);
        fut->heifer[s.nw] = fut->heifer_now;
        pol->enter[s.t] = pl.H >= pl.I ? 1 : 0;
        s.heifer_now = fut->heifer_now;

        /* every cow state */
        crew.RUN(s);
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
        if (s.sea == 1 && s.count >= 36 && s.disc < 1.0 && s.calc == -1 && extrapolations <= 6) {
            values[nvalues++] = K;
            if (nvalues == 3) {
                std::printf(" A");
                const double e = EXTRAPOLATE(values[0], values[1], values[2]);
                nvalues = 0;
                extrapolations++;
                if (e != NOT_APPLICABLE && std::fabs(e - K) > 20.0) {
                    std::printf(":%.0f", e);
                    const double diff = e - K;
                    K += diff;
                    fut->heifer[s.nw] += diff;
                    fut->heifer_now += diff;
                    SHIFT_VALUES(s.nw, diff);
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

        if (s.calc == -1 && s.sea == bio->start_sea && conv < 0.0005 && s.count >= 48) {
            std::printf("*");
            s.calc = 0;
        }
        if (s.calc == 12 && warmstart == 1)
            WRITE_WARM_FILE(static_cast<unsigned short>(s.nw));
        if (s.calc == 24)
            HERD_LIFE();

        const int read_buffer = s.old;
        s.old = s.nw;
        s.nw = read_buffer;

        if (s.count >= stage_limit || (s.count == 200 && K == floor)) {
            NOT_CONVERGED(read_buffer);
            return 0;
        }
        if (s.calc == 24) {
            std::printf("\n DP_POLICY done ... %.1f years  calc:%d ", (s.count - 36) / 12.0, s.calc);
            for (int u = 1; u <= 24; u++)
                std::printf("%d", pol->enter[u]);
            WRITE_MSG_FILE(MSG_DP_CONVERGED, yr);
            return 1;
        }
    }
}
