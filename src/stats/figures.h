/*
** figures.h -- the one table of the report's yearly figures.
**
** The yearly block of the report prints 65 figures, each under the short
** label the model has always used (`eaa_cyr`, `cullrateall`).  Those labels
** mean little to a farmer, so this table gives each one a plain name, its
** unit, the group it belongs to, whether more of it is better for the farm
** and a one-line explanation.  The report walks this table to write its
** yearly block, and everything that shows a figure to a person (the
** workbench, `morvenda figures`, the simulation's summary, the sweeps and
** the guide's list) takes its words from here, so they cannot drift apart.
*/
#ifndef MORVENDA_FIGURES_H
#define MORVENDA_FIGURES_H

#include <cstddef>
#include <string>

#include "core/records.h"

/* What a figure is measured in.  Money and milk take the herd's own units
** when shown: the bio file's currency is not named, and milk is in kg or
** lb as the bio file says. */
enum class FigureUnit {
    MONEY_PER_COW_YEAR,   /* money per herd place (cow) per year */
    MONEY_PER_100_MILK,   /* money per 100 units of milk sold */
    MILK_PER_COW_YEAR,    /* milk per herd place per year */
    MILK_PER_100_MILK,    /* milk per 100 units of milk: always 100 */
    MONEY_PER_COW,        /* a value of one cow */
    MONEY_PER_CULL,       /* money per cow culled */
    MONEY_PER_PREGNANCY,  /* money per pregnancy */
    MONEY_PER_DAY,        /* money per cow per day */
    MILK_PER_DAY,         /* milk per cow per day */
    RATE_PER_COW_YEAR,    /* events per herd place per year, shown as % */
    SHARE,                /* a fraction 0..1, shown as % */
    DAYS,
    DAYS_PER_YEAR,        /* days of a year */
    MONTHS,
    YIELD_CLASS,          /* yield class 1..15 */
};

enum class FigureGroup { MONEY, MILK, HERD, REPRODUCTION };

struct YearlyFigure {
    const char* label;   /* the report's label, its trailing blanks included */
    const double* (*values)(const MkvStats&); /* statistic-year slots 1..4 */
    const char* name;    /* a plain name */
    FigureUnit unit;
    FigureGroup group;
    int better;          /* +1 more is better for the farm, -1 less, 0 neither */
    bool herd_sum;       /* a sum per place: a herd of N has N times it */
    const char* help;    /* one line for a person */
};

/* The 65 figures in the report's order. */
extern const YearlyFigure YEARLY_FIGURES[];
extern const std::size_t YEARLY_FIGURE_COUNT;

/* The label without its padding ("cullprice y" keeps its inner blank). */
std::string figure_key(const YearlyFigure& f);

/* The figure with this key, or nullptr. */
const YearlyFigure* find_yearly_figure(const std::string& key);

/* Short names of the kinds, for machine-readable listings. */
const char* unit_code(FigureUnit u);
const char* group_code(FigureGroup g);

/* The unit written out for a herd whose milk is in kg (else lb). */
std::string unit_text(FigureUnit u, bool kg);

/* morvenda figures [--json|--markdown] */
int figures_command(int argc, char** argv);

#endif
