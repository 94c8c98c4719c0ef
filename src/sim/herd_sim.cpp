/*
** herd_sim.cpp -- one replicate of the herd simulation.
**
** Each month every place is visited in order.  A cow is first met by the
** policy's decision for her state and policy month, exactly as the chain
** meets the mass of that state:
**
**   replaced   she leaves at the start of the month for her sale value; a
**              cow that calved last month leaves her calf;
**   kept       she earns the month's revenue, milk and costs in full, then
**              is disposed of involuntarily with the chain's rate (sold
**              at next month's sale value times the salvage factor, less
**              the disposal cost).  A cow that stays is served when the
**              policy inseminates her (heats, services and conception
**              below), aborts with the rate of her month of pregnancy,
**              calves in her ninth month of pregnancy, and moves to her
**              next yield class with the chain's transition row; a cow at
**              the last month in milk is sold at the month's end.
**
** A place left empty at the start of the month, or by a replacement,
** takes a heifer when the policy lets heifers enter that month (or, in the
** chain's other entry mode, a whole herd of heifers in month 1 into an
** empty herd).  A place whose cow died or was sold at the month's end is
** refilled next month, as the chain refills only the mass it did not keep.
**
** Services.  An inseminated cow's first heat is detected with the heat
** detection rate and a service conceives with the conception rate; a cow
** still open after it has a second heat in the month with the share
** SECOND_HEAT, detected and conceiving with the same rates.  So she
** conceives with the chain's Pc and has the chain's E heats.  The chain
** charges services as their expected number capped at one a month (Ps);
** each drawn service is charged Ps / (expected services) of a service's
** cost, which is the full cost whenever the cap does not bind.
**
** Draw order within a cow-month (the events stream): involuntary
** disposal; heats and services; abortion; yield class.  Dates, test-day
** measurement and death-or-cull come from the records stream, so that the
** figures are the same with or without records.
*/
#include "sim/herd_sim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/numeric.h"
#include "markov/markov.h"
#include "core/records.h"
#include "core/calendar.h"
#include "sim/sim_random.h"
#include "sim/sim_records.h"

namespace {

/* ---- constants -------------------------------------------------------- */

/* Mass at or below this is no cow at all, as in the chain. */
constexpr double NEGLIGIBLE = 1e-14;

/* Record dates: events fall on days 1..LAST_EVENT_DAY of their month, so
** that every month (February too) holds them and a conception on any of
** them calves 275..285 days later inside the chain's calving month. */
constexpr int LAST_EVENT_DAY = 28;
/* A second heat comes 21 days after the first, both within the month. */
constexpr int HEAT_CYCLE_DAYS = 21;
constexpr int GESTATION_DAYS = 280;
constexpr int GESTATION_SPREAD = 5;
/* Pregnancy checks after an insemination that is still the last. */
constexpr int CHECK1_FROM = 35, CHECK1_TO = 45;
constexpr int CHECK2_FROM = 100, CHECK2_TO = 130;
/* A heifer calves first at about two years; a calving interval of a
** start-herd cow's earlier lactations, for her birth date. */
constexpr int AGE_AT_FIRST_CALVING_DAYS = 730;
constexpr int EARLIER_CALVING_INTERVAL_DAYS = 395;

/* ---- the cow ---------------------------------------------------------- */

struct Cow {
    bool present = false;
    short curr = 0, lact = 0, mim = 0, mpreg = 0;
    /* records */
    int id = 0;
    int parity = 0;       /* lactations begun, not capped at the model's last */
    int entry = 0;        /* day she entered */
    bool bought = false;
    int calving = 0;      /* day of the calving that began this lactation */
    int conception = 0;   /* day of the service she conceived at */
    int check[2] = {-1, -1}; /* pending pregnancy checks (days), -1 none */
};

/* What a month is. */
struct Month {
    int t;          /* 1.. */
    int sea;        /* calendar month */
    int m;          /* policy month */
    int mn;         /* the policy month after m */
    int first_day;  /* its first day */
    int last_day;   /* its last day */
    int year;       /* statistic year, 0-based */
    int k;          /* month of the statistic year, 1..12 */
};

/* Raw herd sums of one month, before the year's weights. */
struct MonthSums {
    double v[SUM_COUNT];
};

enum class Outcome {
    STAYS,          /* moved on to next month's state */
    GONE_AT_START,  /* replaced (or never counted): the place is free now */
    GONE_AT_END,    /* died or sold at the month's end: free next month */
};

struct Replicate {
    Replicate(const SimSetup& s, std::uint64_t seed, int replicate, SimRecords* rec)
        : setup(s),
          events(seed, static_cast<std::uint64_t>(replicate), STREAM_EVENTS),
          details(seed, static_cast<std::uint64_t>(replicate), STREAM_RECORDS),
          records(rec)
    {
    }
    const SimSetup& setup;
    SimRandom events;
    SimRandom details;
    SimRecords* records;
    int next_id = 1;
    std::string bad_state;
    double sigma = 0.0; /* of the log-normal test-day factor */
};

/* ---- draws ------------------------------------------------------------ */

/* Next yield class from transition row `row` of (curr, lact, mim). */
short next_class(Replicate& r, int curr, int lact, int mim, int row)
{
    const int lo = std::max<int>(bio->lo[curr][lact][mim][row], 1);
    const int hi = std::min<int>(bio->hi[curr][lact][mim][row], MAXCURR);
    const double* T = bio->pnext[curr][lact][mim][row];
    const double u = r.events.uniform();
    double cum = 0.0;
    for (int v = lo; v < hi; v++) {
        cum += T[v];
        if (u < cum)
            return static_cast<short>(v);
    }
    return static_cast<short>(hi);
}

/* An entering heifer's yield class. */
short heifer_class(Replicate& r)
{
    const double* T = bio->pnext[0][0][0][0];
    const double u = r.events.uniform();
    double cum = 0.0;
    int last = 0;
    for (int v = 1; v <= MAXCURR; v++) {
        if (T[v] <= 0.0)
            continue;
        cum += T[v];
        last = v;
        if (u < cum)
            return static_cast<short>(v);
    }
    return static_cast<short>(last);
}

/* ---- records ---------------------------------------------------------- */

int event_day(Replicate& r, const Month& mo)
{
    return mo.first_day + r.details.between(1, LAST_EVENT_DAY) - 1;
}

/* Calving day of a cow that conceived on `conception` and calves in the
** month `mo`: 280 +- 5 days, drawn among the gestations that land in it. */
int calving_day(Replicate& r, const Month& mo, int conception)
{
    const int lo = std::max(GESTATION_DAYS - GESTATION_SPREAD, mo.first_day - conception);
    const int hi = std::min(GESTATION_DAYS + GESTATION_SPREAD, mo.last_day - conception);
    if (lo > hi) /* a conception date from outside the model's rules */
        return std::clamp(conception + GESTATION_DAYS, mo.first_day, mo.last_day);
    return conception + r.details.between(lo, hi);
}

void leave(Replicate& r, Cow& cow, int day, ExitReason reason)
{
    if (r.records)
        r.records->stay(cow.id, cow.entry, cow.bought, day, reason);
    cow.present = false;
}

ExitReason involuntary_reason(Replicate& r)
{
    return r.details.uniform() < r.setup.death_share ? ExitReason::DIED : ExitReason::CULLED_INVOLUNTARY;
}

/* The pregnancy checks of this month dated before `until` (the first
** service of the month, or the day after she left); the cow's state at the
** start of the month is what a check finds.  A service this month cancels
** the later ones. */
void pregnancy_checks(Replicate& r, Cow& cow, const Month& mo, int until, bool served)
{
    for (int& day : cow.check) {
        if (day < 0)
            continue;
        if (day <= mo.last_day && day < until)
            r.records->pregnancy_check(cow.id, day, cow.mpreg > 0);
        if (day <= mo.last_day || served)
            day = -1;
    }
}

void test_day(Replicate& r, const Cow& cow, const Month& mo, double Y, int calving_this_month)
{
    int day = event_day(r, mo);
    if (calving_this_month >= 0) {
        /* before the calving, which ends the lactation */
        const int last = calving_this_month - 1;
        if (last < mo.first_day)
            return;
        day = mo.first_day + r.details.between(0, last - mo.first_day);
    }
    double factor = 1.0;
    if (r.sigma > 0.0)
        factor = std::exp(r.sigma * r.details.normal() - r.sigma * r.sigma / 2.0);
    r.records->test_day(cow.id, day, cow.parity, cow.calving, Y / DAYS_PER_MONTH * factor);
}

/* ---- money and counts of a kept cow ----------------------------------- */

struct Kept {
    double q;   /* involuntary disposal */
    double Y;   /* milk */
    bool dry;
};

/* Adds what a kept cow earns and costs this month; `heifer`: an entering
** heifer (lactating whatever her milk). */
Kept collect_kept(const Month& mo, int c, int l, int mim, int mp, bool heifer, MonthSums& s)
{
    Kept k;
    k.q = bio->pind[l][mim][mo.sea];
    k.Y = bio->milkyield[c][l][mim][mp][mo.sea];
    k.dry = heifer ? false : (mp == 0 ? k.Y < DRY_MILK : k.Y <= DRY_MILK);
    const double dmi = bio->dmi[c][l][mim][mp][mo.sea];
    s.v[SUM_CASH] += bio->rev[c][l][mim][mp][mo.m];
    s.v[SUM_MILK] += k.Y;
    s.v[SUM_FEED] += dmi * (k.dry ? bio->p_dryfeed : bio->p_lactfeed);
    s.v[SUM_LABOR] += bio->labortime[c][l][mim][mp][mo.sea] / 60.0 * bio->wage;
    s.v[SUM_VET] += bio->vetcost[mim];
    s.v[SUM_OTHER] += (k.dry && mp > 0 ? bio->drycost : bio->lactcost) * DAYS_PER_MONTH;
    s.v[SUM_PRESENT] += 1.0;
    if (mp == 0) {
        s.v[SUM_OPEN] += 1.0;
        s.v[SUM_OPENMIM] += mim;
    }
    if (!k.dry)
        s.v[SUM_MILKING] += 1.0;
    s.v[SUM_DIMSUM] += mim * DAYS_PER_MONTH - DAYS_PER_MONTH / 2.0;
    return k;
}

/* The involuntary disposal of a kept cow, drawn; true when it happens. */
bool disposed(Replicate& r, const Month& mo, int l, int mim, double q, MonthSums& s)
{
    if (!(r.events.uniform() < q))
        return false;
    const double Sprime = bio->sel[l][mim][mo.mn] * bio->sel_factor;
    s.v[SUM_PIND] += 1.0;
    s.v[SUM_COWSALES] += Sprime;
    s.v[SUM_LOSS] += bio->cullcost;
    s.v[SUM_CASH] += Sprime - bio->cullcost;
    return true;
}

void replaced(const Month& mo, int l, int mim, bool calf, MonthSums& s)
{
    const double S = bio->sel[l][mim][mo.m];
    s.v[SUM_REPL] += 1.0;
    s.v[SUM_COWSALES] += S;
    s.v[SUM_CASH] += S;
    if (calf) {
        s.v[SUM_CALVES] += 1.0;
        s.v[SUM_CASH] += bio->p_calf;
    }
}

void name_bad_state(Replicate& r, const Cow& cow, const Month& mo, short decision)
{
    if (!r.bad_state.empty())
        return;
    char text[160];
    std::snprintf(text, sizeof text, "curr %d lact %d mim %d mpreg %d policy month %d: decision %d",
                  cow.curr, cow.lact, cow.mim, cow.mpreg, mo.m, decision);
    r.bad_state = text;
}

/* ---- the months of a cow ---------------------------------------------- */

/* The services of an inseminated cow that stays; true when she conceives.
** Records: the services, the first one's day in `first_service` (the day
** after the month when none) and the last one's in cow.conception. */
bool services(Replicate& r, Cow& cow, const Month& mo, MonthSums& s, int& first_service)
{
    const ServiceChances sc = SERVICE_CHANCES(cow.lact, cow.mim, mo.sea);
    const double expected = sc.hd + (1.0 - sc.hd * sc.cr) * sc.hd * SECOND_HEAT;
    const double charged = expected > 0.0 ? sc.Ps / expected : 0.0;
    const double service_labor = bio->instime / 60.0 * bio->wage;

    bool served[2] = {false, false};
    bool conceived = false;
    int heats = 1;
    if (r.events.uniform() < sc.hd) {
        served[0] = true;
        conceived = r.events.uniform() < sc.cr;
    }
    if (!conceived && r.events.uniform() < SECOND_HEAT) {
        heats = 2;
        if (r.events.uniform() < sc.hd) {
            served[1] = true;
            conceived = r.events.uniform() < sc.cr;
        }
    }
    const int n = served[0] + served[1];
    s.v[SUM_HEATS] += heats;
    s.v[SUM_CASH] -= n * charged * (service_labor + bio->inscost);
    s.v[SUM_LABOR] += n * charged * service_labor;
    s.v[SUM_BREEDSUPPLY] += n * charged * bio->inscost;
    if (conceived) {
        s.v[SUM_CONCEPTIONS] += 1.0;
        s.v[SUM_CONCDAYS] += DAYS_PER_MONTH * cow.mim;
    }

    first_service = mo.last_day + 1;
    if (r.records && n > 0) {
        int day[2];
        if (heats == 2) {
            day[0] = mo.first_day + r.details.between(1, LAST_EVENT_DAY - HEAT_CYCLE_DAYS) - 1;
            day[1] = day[0] + HEAT_CYCLE_DAYS;
        } else {
            day[0] = event_day(r, mo);
            day[1] = day[0];
        }
        int last = -1;
        for (int h = 0; h < 2; h++)
            if (served[h]) {
                r.records->insemination(cow.id, day[h]);
                first_service = std::min(first_service, day[h]);
                last = day[h];
            }
        cow.conception = last;
    }
    return conceived;
}

/* An open cow's month. */
Outcome open_cow(Replicate& r, Cow& cow, const Month& mo, MonthSums& s)
{
    const int c = cow.curr, l = cow.lact, mim = cow.mim;
    const int vwp = waiting_period_end(l);
    const bool last_month = mim >= bio->maxmim;
    const bool window = !last_month && vwp <= mim && mim <= bio->lbm;
    const bool calf = mim == 1 && !(vwp <= mim && mim <= bio->lbm);
    if (!last_month && !window && l == 1 && mim == 1) {
        /* a state only entering heifers pass through: the chain keeps no
        ** cow there (only a stored herd can hold one) */
        if (r.records)
            pregnancy_checks(r, cow, mo, mo.first_day, false);
        leave(r, cow, mo.first_day, ExitReason::CULLED_VOLUNTARY);
        return Outcome::GONE_AT_START;
    }
    const short decision = pol->decision[c][l][mim][0][mo.m];
    if (decision == DEC_REPLACE) {
        replaced(mo, l, mim, calf, s);
        if (r.records)
            pregnancy_checks(r, cow, mo, mo.first_day, false);
        leave(r, cow, mo.first_day, ExitReason::CULLED_VOLUNTARY);
        return Outcome::GONE_AT_START;
    }
    const bool inseminate = window && decision == DEC_INSEMINATE;
    if (decision != DEC_KEEP && !inseminate) {
        name_bad_state(r, cow, mo, decision);
        cow.present = false;
        return Outcome::GONE_AT_START;
    }

    const Kept k = collect_kept(mo, c, l, mim, 0, false, s);
    if (calf) {
        s.v[SUM_CALVES] += 1.0;
        s.v[SUM_CASH] += bio->p_calf;
    }
    if (r.records && !k.dry)
        test_day(r, cow, mo, k.Y, -1);
    if (inseminate) {
        const double repro = bio->reprocost[mim][mo.sea];
        s.v[SUM_CASH] -= repro;
        s.v[SUM_BREEDSUPPLY] += repro;
    }
    if (disposed(r, mo, l, mim, k.q, s)) {
        if (r.records) {
            pregnancy_checks(r, cow, mo, mo.last_day + 1, false);
            leave(r, cow, mo.last_day, involuntary_reason(r));
        }
        cow.present = false;
        return Outcome::GONE_AT_END;
    }
    if (last_month) {
        const double Sn = bio->sel[l][mim][mo.mn];
        s.v[SUM_REPL] += 1.0;
        s.v[SUM_COWSALES] += Sn;
        s.v[SUM_CASH] += Sn;
        if (r.records) {
            pregnancy_checks(r, cow, mo, mo.last_day + 1, false);
            leave(r, cow, mo.last_day, ExitReason::CULLED_VOLUNTARY);
        }
        cow.present = false;
        return Outcome::GONE_AT_END;
    }

    if (mim >= MAXMIM) { /* the run's limits keep every cow below it */
        name_bad_state(r, cow, mo, decision);
        cow.present = false;
        return Outcome::GONE_AT_START;
    }
    bool conceived = false;
    int first_service = mo.last_day + 1;
    if (inseminate)
        conceived = services(r, cow, mo, s, first_service);
    if (r.records) {
        const bool served = first_service <= mo.last_day;
        pregnancy_checks(r, cow, mo, first_service, served);
        if (served) {
            /* two checks after the last service, while it stays the last */
            cow.check[0] = cow.conception + r.details.between(CHECK1_FROM, CHECK1_TO);
            cow.check[1] = cow.conception + r.details.between(CHECK2_FROM, CHECK2_TO);
        }
    }
    cow.curr = next_class(r, c, l, mim, 0);
    cow.mim = static_cast<short>(mim + 1);
    cow.mpreg = conceived ? 1 : 0;
    return Outcome::STAYS;
}

/* A pregnant cow's month. */
Outcome pregnant_cow(Replicate& r, Cow& cow, const Month& mo, MonthSums& s)
{
    const int c = cow.curr, l = cow.lact, mim = cow.mim, mp = cow.mpreg;
    int first, last;
    pregnancy_window(l, mim, first, last);
    const short decision = pol->decision[c][l][mim][mp][mo.m];
    if (mp < first || mp > last || decision == DEC_REPLACE) {
        /* replaced; a pregnancy from outside the breeding window (only a
        ** stored herd can hold one) the chain does not count at all */
        if (mp >= first && mp <= last)
            replaced(mo, l, mim, false, s);
        if (r.records)
            pregnancy_checks(r, cow, mo, mo.first_day, false);
        leave(r, cow, mo.first_day, ExitReason::CULLED_VOLUNTARY);
        return Outcome::GONE_AT_START;
    }
    if (decision != DEC_KEEP) {
        name_bad_state(r, cow, mo, decision);
        cow.present = false;
        return Outcome::GONE_AT_START;
    }

    const Kept k = collect_kept(mo, c, l, mim, mp, false, s);
    const bool dies = disposed(r, mo, l, mim, k.q, s);
    int calving = -1;
    if (!dies && mp == MAXMPREG) {
        s.v[SUM_CALVINGS] += 1.0;
        s.v[SUM_CALVMIM] += mim;
        if (r.records)
            calving = calving_day(r, mo, cow.conception);
    }
    if (r.records) {
        if (!k.dry)
            test_day(r, cow, mo, k.Y, calving);
        pregnancy_checks(r, cow, mo, mo.last_day + 1, false);
    }
    if (dies) {
        if (r.records)
            leave(r, cow, mo.last_day, involuntary_reason(r));
        cow.present = false;
        return Outcome::GONE_AT_END;
    }

    if (mp < MAXMPREG) {
        if (mim >= MAXMIM) { /* the run's limits keep every cow below it */
            name_bad_state(r, cow, mo, decision);
            cow.present = false;
            return Outcome::GONE_AT_START;
        }
        const bool aborts = r.events.uniform() < bio->abort[mp];
        cow.curr = next_class(r, c, l, mim, 0);
        cow.mim = static_cast<short>(mim + 1);
        cow.mpreg = aborts ? 0 : static_cast<short>(mp + 1);
        return Outcome::STAYS;
    }
    /* Calving: the class of the next lactation depends on the calendar
    ** month of calving; a cow calving in the model's last lactation starts
    ** it again, as the chain keeps her. */
    cow.curr = next_class(r, c, l, mim, mo.sea);
    cow.lact = static_cast<short>(l < bio->maxlact ? l + 1 : bio->maxlact);
    cow.mim = 1;
    cow.mpreg = 0;
    cow.parity++;
    if (r.records) {
        cow.calving = calving;
        r.records->calving(cow.id, calving, cow.parity);
    }
    return Outcome::STAYS;
}

/* A heifer enters the place this month: bought, fresh (she calved last
** month), counted as a kept, lactating cow of lactation 1 in month in
** milk 1. */
void heifer_enters(Replicate& r, Cow& cow, const Month& mo, MonthSums& s)
{
    const double H = bio->p_heifer[mo.m];
    s.v[SUM_HEIFERS] += 1.0;
    s.v[SUM_HEIFERCOST] += H;
    s.v[SUM_CASH] += bio->p_calf - H;
    s.v[SUM_CALVES] += 1.0;

    cow = Cow{};
    cow.present = true;
    cow.curr = heifer_class(r);
    cow.lact = 1;
    cow.mim = 1;
    cow.mpreg = 0;
    cow.parity = 1;
    cow.id = r.next_id++;
    if (r.records) {
        cow.entry = mo.first_day;
        cow.bought = true;
        cow.calving = month_first_day(month_of_day(mo.first_day) - 1) + r.details.between(1, LAST_EVENT_DAY) - 1;
        r.records->cow(cow.id, cow.calving - AGE_AT_FIRST_CALVING_DAYS);
    }

    const Kept k = collect_kept(mo, cow.curr, 1, 1, 0, true, s);
    if (r.records)
        test_day(r, cow, mo, k.Y, -1);
    if (disposed(r, mo, 1, 1, k.q, s)) {
        if (r.records)
            leave(r, cow, mo.last_day, involuntary_reason(r));
        cow.present = false;
        return;
    }
    cow.curr = next_class(r, cow.curr, 1, 1, 0);
    cow.mim = 2;
}

/* A cow of the start herd in state `st`, in the herd when the records
** begin. */
void start_cow(Replicate& r, Cow& cow, const StartState& st, int first_month)
{
    cow = Cow{};
    cow.present = true;
    cow.curr = st.curr;
    cow.lact = st.lact;
    cow.mim = st.mim;
    cow.mpreg = st.mpreg;
    cow.parity = st.lact;
    cow.id = r.next_id++;
    if (!r.records)
        return;
    const int start_day = month_first_day(first_month);
    cow.entry = start_day;
    cow.bought = false;
    cow.calving = month_first_day(first_month - st.mim) + r.details.between(1, LAST_EVENT_DAY) - 1;
    if (st.mpreg > 0)
        cow.conception = month_first_day(first_month - st.mpreg) + r.details.between(1, LAST_EVENT_DAY) - 1;
    const int first_calving = cow.calving - (st.lact - 1) * EARLIER_CALVING_INTERVAL_DAYS;
    r.records->cow(cow.id, first_calving - AGE_AT_FIRST_CALVING_DAYS);
}

/* Adds a month's raw sums to its statistic year with the year's weights. */
void close_month(const SimSetup& setup, const Month& mo, const MonthSums& s, SimYear& y)
{
    const double w0 = setup.w0[mo.k], w1 = setup.w1[mo.k];
    const double places = setup.places;
    const double fix_labor = bio->fixedcost1 * DAYS_PER_MONTH * places;
    const double fix_other = bio->fixedcost2 * DAYS_PER_MONTH * places;
    double* v = y.sum;
    v[SUM_CASH] += s.v[SUM_CASH] - fix_labor - fix_other;
    v[SUM_MILK] += s.v[SUM_MILK];
    v[SUM_CWT] += s.v[SUM_MILK] / 100.0;
    v[SUM_MILKSALES] += w0 * s.v[SUM_MILK] * bio->p_milk[mo.m];
    v[SUM_FEED] += w0 * s.v[SUM_FEED];
    v[SUM_HEIFERCOST] += w0 * s.v[SUM_HEIFERCOST];
    v[SUM_COWSALES] += w1 * s.v[SUM_COWSALES];
    v[SUM_CALFSALES] += w0 * s.v[SUM_CALVES] * bio->p_calf;
    v[SUM_LABOR] += w0 * s.v[SUM_LABOR];
    v[SUM_VET] += w0 * s.v[SUM_VET];
    v[SUM_BREEDSUPPLY] += w0 * s.v[SUM_BREEDSUPPLY];
    v[SUM_LOSS] += w1 * s.v[SUM_LOSS];
    v[SUM_OTHER] += w0 * s.v[SUM_OTHER];
    v[SUM_FIXLABOR] += w0 * fix_labor;
    v[SUM_FIXOTHER] += w0 * fix_other;
    for (int i : {SUM_REPL, SUM_PIND, SUM_PRESENT, SUM_OPEN, SUM_OPENMIM, SUM_CALVINGS, SUM_CALVMIM,
                  SUM_CONCEPTIONS, SUM_CONCDAYS, SUM_HEATS, SUM_MILKING, SUM_DIMSUM, SUM_HEIFERS, SUM_CALVES})
        v[i] += s.v[i];
}

} // namespace

SimSetup SIM_SETUP(int places, int years, int start_year)
{
    SimSetup setup;
    setup.places = places;
    setup.years = years;
    setup.start_year = start_year;
    setup.start_sea = bio->start_sea;
    /* Analyses 2 and 3 project a stored herd with discounting, 3 with a
    ** whole herd of heifers at the start only; any other is analysis 1. */
    const int analysis = bio->analysis == 2 || bio->analysis == 3 ? bio->analysis : 1;
    setup.entry_mode = analysis == 3 ? 0 : 1;

    double cum = 0.0;
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= bio->maxlact; l++)
            for (int m = 1; m <= MAXMIM; m++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    const double mass = mkv->pstate[c][l][m][p][2];
                    if (!(mass > NEGLIGIBLE))
                        continue;
                    cum += mass;
                    setup.start.push_back({static_cast<short>(c), static_cast<short>(l), static_cast<short>(m),
                                           static_cast<short>(p), cum});
                }
    setup.empty_start = setup.start.empty();

    /* Yearly figures weigh a month's money by its discount factor at the
    ** start (or end) of the month within the statistic year, over the
    ** year's sum of factors, times 12; analysis 1 does not discount. */
    const double r = bio->interest / 12.0;
    double sum0 = 0.0, sum1 = 0.0;
    double d0[13], d1[13];
    for (int k = 1; k <= 12; k++) {
        d0[k] = analysis == 1 ? 1.0 : DISCOUNT(r, k - 1);
        d1[k] = analysis == 1 ? 1.0 : DISCOUNT(r, k);
        sum0 += d0[k];
        sum1 += d1[k];
    }
    for (int k = 1; k <= 12; k++) {
        setup.w0[k] = d0[k] / sum0 * 12.0;
        setup.w1[k] = d1[k] / sum1 * 12.0;
    }
    return setup;
}

SimReplicate SIMULATE_REPLICATE(const SimSetup& setup, std::uint64_t seed, int replicate, SimRecords* records)
{
    Replicate r(setup, seed, replicate, records);
    if (setup.test_day_cv > 0.0)
        r.sigma = std::sqrt(std::log(1.0 + setup.test_day_cv * setup.test_day_cv));

    SimReplicate out;
    out.years.assign(static_cast<std::size_t>(setup.years), SimYear{});
    const int first_month = setup.start_year * 12 + setup.start_sea - 1;

    std::vector<Cow> herd(static_cast<std::size_t>(setup.places));
    const double total = setup.start.empty() ? 0.0 : setup.start.back().cum;
    for (Cow& cow : herd) {
        const double u = r.events.uniform();
        if (!(u < total))
            continue;
        const auto it = std::upper_bound(setup.start.begin(), setup.start.end(), u,
                                         [](double x, const StartState& st) { return x < st.cum; });
        start_cow(r, cow, it == setup.start.end() ? setup.start.back() : *it, first_month);
    }

    const int months = setup.years * 12;
    int sea = setup.start_sea;
    for (int t = 1; t <= months; t++) {
        Month mo;
        mo.t = t;
        mo.sea = sea;
        mo.m = sea + (t < 13 ? 0 : 12);
        mo.mn = sea == 12 ? mo.m - 11 : mo.m + 1;
        mo.first_day = month_first_day(first_month + t - 1);
        mo.last_day = month_first_day(first_month + t) - 1;
        mo.year = (t - 1) / 12;
        mo.k = (t - 1) % 12 + 1;

        const short enter = pol->enter[mo.m];
        bool entry = false;
        if (setup.entry_mode == 1) {
            if (enter != 0 && enter != 1 && out.bad_state.empty())
                out.bad_state = "heifer entry switch " + std::to_string(enter) + " in policy month " +
                                std::to_string(mo.m);
            entry = enter == 1;
        } else {
            entry = t == 1 && setup.empty_start;
        }

        MonthSums s{};
        for (Cow& cow : herd) {
            bool free_now = !cow.present;
            if (cow.present) {
                const Outcome o = cow.mpreg == 0 ? open_cow(r, cow, mo, s) : pregnant_cow(r, cow, mo, s);
                free_now = o == Outcome::GONE_AT_START;
            }
            if (free_now && entry)
                heifer_enters(r, cow, mo, s);
        }
        close_month(setup, mo, s, out.years[static_cast<std::size_t>(mo.year)]);
        sea = sea == 12 ? 1 : sea + 1;
    }
    if (records)
        for (const Cow& cow : herd)
            if (cow.present)
                records->stay(cow.id, cow.entry, cow.bought, -1, ExitReason::DIED);
    if (!r.bad_state.empty() && out.bad_state.empty())
        out.bad_state = r.bad_state;
    return out;
}
