/*
** herd_sim.h -- a herd of real cows under the policy of a run, month by
** month.
**
** The Markov chain follows one herd place as a probability distribution;
** the simulation follows N places, each holding one cow or none, and draws
** every monthly event of a cow with the chance the chain gives the mass of
** her state: involuntary disposal, the policy's decision, heats, services
** and conception, abortion, the yield-class move, calving, the end of the
** last month in milk, and heifer entry.  It reads the same records the
** chain reads (bio, pol) and its service chances from SERVICE_CHANCES, so
** that the average of many herds is the chain's herd.  Every cow-month adds
** the chain's money and counts for her state, summed by statistic year in
** the shape the yearly figures are computed from (sim_figures.h).
**
** SIM_SETUP is made once per run, after the policy and (for analysis 1)
** the steady state; replicates then only read it and the records, so any
** number of them can run at once.
*/
#ifndef MORVENDA_SIM_HERD_SIM_H
#define MORVENDA_SIM_HERD_SIM_H

#include <cstdint>
#include <string>
#include <vector>

class SimRecords;

/* The yearly sums of one replicate, herd totals over the year's months.
** Money is already weighted as the yearly figures weigh it (discounted
** within the year and annualised where the figure is). */
enum SimSum {
    SUM_CASH,          /* net cash flow, undiscounted */
    SUM_MILK,          /* milk, undiscounted */
    SUM_CWT,           /* milk / 100 */
    SUM_MILKSALES,
    SUM_FEED,
    SUM_HEIFERCOST,    /* entering heifers at the month's heifer price */
    SUM_COWSALES,
    SUM_CALFSALES,
    SUM_LABOR,
    SUM_VET,
    SUM_BREEDSUPPLY,
    SUM_LOSS,
    SUM_OTHER,
    SUM_FIXLABOR,
    SUM_FIXOTHER,
    SUM_REPL,          /* cows replaced by decision or sold at the last month in milk */
    SUM_PIND,          /* involuntary disposals */
    SUM_PRESENT,       /* cow-months kept (entering heifers included) */
    SUM_OPEN,          /* open cow-months kept */
    SUM_OPENMIM,       /* open cow-months x month in milk */
    SUM_CALVINGS,
    SUM_CALVMIM,       /* calvings x month in milk at calving */
    SUM_CONCEPTIONS,
    SUM_CONCDAYS,      /* conceptions x days in milk (30.4 x month in milk) */
    SUM_HEATS,         /* service opportunities of inseminated cows */
    SUM_MILKING,       /* lactating cow-months */
    SUM_DIMSUM,        /* cow-months x days in milk at mid-month */
    SUM_HEIFERS,       /* heifers entering */
    SUM_CALVES,        /* calves born */
    SUM_COUNT
};

struct SimYear {
    double sum[SUM_COUNT];
};

/* One state of the start herd with the chance that a place holds it. */
struct StartState {
    short curr, lact, mim, mpreg;
    double cum; /* cumulative chance up to and including this state */
};

struct SimSetup {
    int places = 100;
    int years = 5;
    int start_year = 2020;
    int start_sea = 1;         /* calendar month of the first month */
    int entry_mode = 1;        /* as the chain's: 1 refill, 0 a whole herd at the start */
    bool empty_start = false;  /* the start herd holds no cow */
    std::vector<StartState> start; /* by cumulative chance; the rest is empty places */
    /* weights of month k (1..12) of a statistic year: start-of-month and
    ** end-of-month discount, over the year's sum, times 12 */
    double w0[13] = {};
    double w1[13] = {};
    /* records */
    double test_day_cv = 0.10;
    double death_share = 0.33;
    std::string herd_name;
};

/* The setup of the run whose records hold a policy: the start herd from
** slot 2 of the distribution (the steady state, or the stored herd),
** the entry mode of the run's analysis and the year weights. */
SimSetup SIM_SETUP(int places, int years, int start_year);

/* The outcome of one replicate: its yearly sums; `bad_state` names the
** first state the policy had no valid decision for ("" when none). */
struct SimReplicate {
    std::vector<SimYear> years;
    std::string bad_state;
};

/* Simulates replicate `replicate` (1-based) of `seed`.  `records` (or
** nullptr) receives the herd's records. */
SimReplicate SIMULATE_REPLICATE(const SimSetup& setup, std::uint64_t seed, int replicate,
                                SimRecords* records);

#endif
