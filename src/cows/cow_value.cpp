/*
** cow_value.cpp -- the mapping of a real cow onto the model's state and her
** value in it.
**
** The mapping is fixed so that an adviser can check any row by hand:
**   yield class     the class whose bounds hold her relative yield
**   lactation       min(lact, the model's highest)
**   month in milk   floor(dim / 30.4) + 1, capped at 24
**   pregnancy       0 open, else floor(dcc / 30.4) + 1, capped at 9
**   slot            the calendar month of the valuation (first year)
** A pregnant cow whose conception month (month in milk less month of
** pregnancy) lies outside the breeding window of her lactation is a state
** the model never reaches; she is valued at the nearest month in milk with
** the same month of pregnancy that lies inside it, and her note says so.
**
** With test-day milk instead of a relative yield, her relative yield is her
** milk over the daily milk of the herd-average cow (class 8) of her
** lactation, month in milk, month of pregnancy and calendar month.  A cow
** whose average counterpart gives no milk (dry) has no such figure and is
** valued as an average cow.
*/
#include "cows/cow_value.h"

#include <cmath>
#include <cstdio>

#include "core/records.h"

namespace {

/* ---- constants -------------------------------------------------------- */

/* A day count this close to a month's bound (in months) counts as on it,
** so that 91.2 days is month 4 although 91.2 / 30.4 falls a hair short of 3
** in binary. */
constexpr double BOUND_TOLERANCE = 1e-9;
/* A daily milk below this is no milk at all (a dry cow). */
constexpr double NO_MILK = 1e-9;
/* Months counted at most; anything longer is past every cap alike. */
constexpr double MAX_MONTHS = 10000.0;

std::string format_note(const char* fmt, int a, int b = 0, int c = 0, int d = 0)
{
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, a, b, c, d);
    return buf;
}

void add_note(std::string& note, const std::string& text)
{
    if (!note.empty())
        note += "; ";
    note += text;
}

/* Daily milk of class `curr` in the state, as the rpo file shows it. */
double daily_milk(int curr, const CowState& s)
{
    return bio->milkyield[curr][s.lact][s.mim][s.mpreg][s.t] / DAYS_PER_MONTH;
}

} // namespace

int YIELD_CLASS(double rel_yield)
{
    if (rel_yield <= CLASS1_TOP)
        return 1;
    if (rel_yield > CLASS1_TOP + CLASS_WIDTH * (MAXCURR - 2))
        return MAXCURR;
    return 1 + static_cast<int>(std::ceil((rel_yield - CLASS1_TOP) / CLASS_WIDTH));
}

int MODEL_MONTH(double days)
{
    double months = days / DAYS_PER_MONTH;
    const double bound = std::round(months);
    if (std::fabs(months - bound) < BOUND_TOLERANCE)
        months = bound;
    if (months > MAX_MONTHS)
        months = MAX_MONTHS;
    return static_cast<int>(std::floor(months)) + 1;
}

CowState MAP_COW(const CowFacts& cow)
{
    CowState s;
    s.t = cow.sea;

    s.lact = cow.lact;
    if (s.lact > bio->maxlact) {
        s.lact = bio->maxlact;
        add_note(s.note, format_note("lactation %d valued as %d, the model's highest", cow.lact, s.lact));
    }

    s.mim = MODEL_MONTH(cow.dim);
    if (s.mim > MAXMIM) {
        add_note(s.note, format_note("month in milk %d valued as %d, the model's last", s.mim, MAXMIM));
        s.mim = MAXMIM;
    }

    s.mpreg = 0;
    if (cow.dcc > 0.0) {
        s.mpreg = MODEL_MONTH(cow.dcc);
        if (s.mpreg > MAXMPREG)
            s.mpreg = MAXMPREG;
        /* She conceived in month in milk mim - mpreg; the model keeps only
        ** pregnancies begun inside the breeding window. */
        const int first = waiting_period_end(s.lact);
        const int last = bio->lbm;
        const int conceived = s.mim - s.mpreg;
        if (conceived < first || conceived > last) {
            const int mim = conceived < first ? first + s.mpreg : last + s.mpreg;
            add_note(s.note, format_note("conceived in month in milk %d, outside the breeding window "
                                         "%d-%d: valued at month in milk %d",
                                         conceived, first, last, mim));
            s.mim = mim;
        }
    }

    if (cow.has_rel_yield) {
        s.rel_yield = cow.rel_yield;
    } else {
        const double average = daily_milk(AVERAGE_CLASS, s);
        if (average < NO_MILK) {
            s.curr = AVERAGE_CLASS;
            s.rel_yield = 100.0;
            add_note(s.note, "dry: valued as an average cow (class 8)");
            return s;
        }
        if (!cow.has_milk) {
            s.error = "missing value";
            s.error_column = "milk";
            return s;
        }
        s.rel_yield = cow.milk / average * 100.0;
    }
    s.curr = YIELD_CLASS(s.rel_yield);
    return s;
}

CowValue VALUE_COW(const CowState& s, bool payoffs_known)
{
    CowValue v;
    v.decision = pol->decision[s.curr][s.lact][s.mim][s.mpreg][s.t];
    v.milk = daily_milk(s.curr, s);
    if (!payoffs_known)
        return v;
    const double payoff = rpo->rpo[s.curr][s.lact][s.mim][s.mpreg][s.t];
    if (payoff == NOT_APPLICABLE)
        return v;
    v.payoff_known = true;
    v.rpo = payoff;
    v.cow_value = payoff + bio->sel[s.lact][s.mim][s.t];

    /* Pregnant: the value of her pregnancy.  Open and in the breeding
    ** window: the value of her being pregnant now rather than open. */
    const bool in_window = s.mim >= waiting_period_end(s.lact) && s.mim <= bio->lbm;
    if (s.mpreg > 0 || in_window) {
        const double prg = rpo->prg[s.curr][s.lact][s.mim][s.mpreg][s.t];
        if (prg != NOT_APPLICABLE) {
            v.has_pregnancy_value = true;
            v.pregnancy_value = prg;
        }
    }
    return v;
}

const char* DECISION_NAME(short decision)
{
    switch (decision) {
    case DEC_REPLACE: return "replace";
    case DEC_KEEP: return "keep";
    case DEC_INSEMINATE: return "breed";
    default: return "";
    }
}
