/*
** cow_value.h -- a real cow placed on the model's state and valued from the
** solved policy.
**
** A farm adviser knows her cows by lactation number, days in milk, days
** carried calf and test-day milk; the policy and the pay-offs are kept by
** yield class, lactation, month in milk, month of pregnancy and calendar
** slot.  MAP_COW turns the first into the second, VALUE_COW reads the
** decision, the retention pay-off, the pregnancy value, the sale value and
** the expected daily milk of that state from the records.
**
** Nothing here reads files: the cow list and the ranked list live beside
** it, so the model's records and these rules can be used and tested without
** them.
*/
#ifndef MORVENDA_COW_VALUE_H
#define MORVENDA_COW_VALUE_H

#include <string>

#include "core/records.h"

/* ---- constants of the mapping ----------------------------------------- */

constexpr double CLASS1_TOP = 74.0;         /* relative yield, % of the herd mean */
constexpr double CLASS_WIDTH = 4.0;         /* points of relative yield a class */
constexpr int AVERAGE_CLASS = 8;            /* the herd-average cow (98-102 %) */
/* Days carried calf beyond which a row is taken as wrong: ten model months,
** longer than any gestation of a dairy cow. */
constexpr double MAX_DAYS_CARRIED_CALF = 10 * DAYS_PER_MONTH;

/* What the cow list says of one cow, already checked for form. */
struct CowFacts {
    int lact = 0;             /* lactation number, 1 or more */
    double dim = 0.0;         /* days in milk, 0 or more */
    double dcc = 0.0;         /* days carried calf, 0 when open */
    bool has_rel_yield = false;
    double rel_yield = 0.0;   /* % of the herd mean of her lactation and stage */
    bool has_milk = false;
    double milk = 0.0;        /* latest test-day milk a day, bio file's unit */
    int sea = 0;              /* calendar month 1..12 of the valuation */
};

/* The state a cow is valued in. */
struct CowState {
    int curr = 0;
    int lact = 0;
    int mim = 0;
    int mpreg = 0;
    int t = 0;                /* slot: the calendar month in the first year */
    double rel_yield = 0.0;   /* the relative yield her class comes from */
    std::string note;         /* how the state differs from her own, if it does */
    const char* error = "";        /* why she cannot be valued; "" when she can */
    const char* error_column = ""; /* the column the error is about */
};

/* Her value in that state.  The pay-offs are known only when the policy was
** solved; a policy read from a pol file carries decisions only. */
struct CowValue {
    short decision = 8;       /* DEC_REPLACE, DEC_KEEP, DEC_INSEMINATE */
    bool payoff_known = false;
    double rpo = 0.0;         /* keeping her over replacing her now */
    double cow_value = 0.0;   /* pay-off plus sale value */
    bool has_pregnancy_value = false;
    double pregnancy_value = 0.0;
    double milk = 0.0;        /* expected daily milk of the state */
};

/* Yield class 1..15 of a relative yield: class 1 up to 74 %, then 4 points a
** class (a yield on a bound belongs to the lower class), class 15 above
** 126 %. */
int YIELD_CLASS(double rel_yield);

/* floor(days / 30.4) + 1, a day count on a month's bound starting the next
** month; not capped. */
int MODEL_MONTH(double days);

/* Places the cow on a state the model has; the records bio must hold the
** herd.  Fills `error` instead when her row cannot be valued (a missing
** milk figure for a milking cow). */
CowState MAP_COW(const CowFacts& cow);

/* Reads her decision and values from pol, rpo and bio.  `payoffs_known` is
** false when the policy came from a pol file. */
CowValue VALUE_COW(const CowState& state, bool payoffs_known);

/* "keep", "breed", "replace" ("" for no decision). */
const char* DECISION_NAME(short decision);

#endif
