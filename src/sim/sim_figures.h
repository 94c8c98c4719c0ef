/*
** sim_figures.h -- the yearly figures of simulated herds and their spread.
**
** Each figure carries the label of the report's yearly block and is made
** from a replicate's yearly sums (herd_sim.h) the way the herd statistics
** make it from the chain's monthly sums.  Two kinds:
**
**   per cow   a sum over the year divided by the places (money, milk):
**             the yearly block's `_cyr` unit; the whole herd's figure is
**             the same sum undivided;
**   ratio     one sum over another (culling rates, herd life, calving
**             interval, days open, anything per 100 units of milk).
**
** The culling rates have a whole-herd figure too: the number of cows
** culled in the year.
**
** Over replicates a per-cow figure's estimate is the mean; a ratio's is the
** pooled ratio of the sums over all replicates, with a delta-method
** standard error: a mean of per-replicate ratios would be biased, and
** undefined in a replicate without culls.
*/
#ifndef MORVENDA_SIM_FIGURES_H
#define MORVENDA_SIM_FIGURES_H

#include <string>
#include <vector>

#include "sim/herd_sim.h"

struct SimFigure {
    const char* label;
    bool ratio;
    /* numerator and denominator: sums with signs (+1 / -1), 0-terminated
    ** by a sign of 0; a per-cow figure's denominator is the places */
    struct Term {
        int sum;
        int sign;
    };
    Term num[13];
    Term den[3];
    double scale;
    /* a rate whose numerator counts cows (culls): the whole herd's figure
    ** is that count over the year */
    bool herd_count;
};

/* Every figure, in the order of the summary. */
const std::vector<SimFigure>& SIM_FIGURES();
/* The figure of a label, or nullptr. */
const SimFigure* SIM_FIGURE(const std::string& label);

/* A figure's estimate over replicates and its standard error. */
struct SimEstimate {
    double value = 0.0;
    double se = 0.0;
    int replicates = 0; /* replicates whose figure is defined */
};
SimEstimate ESTIMATE_FIGURE(const SimFigure& f, int year, const std::vector<SimReplicate>& reps, int places);

/* The figure of one replicate and year; false when it is undefined (a
** ratio over nothing). */
bool REPLICATE_FIGURE(const SimFigure& f, const SimYear& y, int places, double& value);

/* The summary file: header figure,year,scope,mean,sd,p5,p25,p50,p75,p95. */
std::string SUMMARY_TEXT(const std::vector<SimReplicate>& reps, int places, int years);

/* Percentile q (0..1) of sorted values, linearly between order
** statistics (the "type 7" rule). */
double PERCENTILE(const std::vector<double>& sorted, double q);

#endif
