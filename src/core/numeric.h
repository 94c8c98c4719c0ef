/*
** numeric.h -- small numeric routines shared by the solver and the
** statistics: the normal distribution function, a guarded power, the
** discount factor, the month fold and the months' names, and the max /
** argmax helpers (ties go to
** the later argument).
*/
#ifndef MORVENDA_NUMERIC_H
#define MORVENDA_NUMERIC_H

#include <string>

/* Standard normal lower-tail probability P(Z <= x) (Hill's AS 66). */
double NORMAL_CDF(double x);

/* xx raised to yy; a result or an argument beyond 1e50 ends the run. */
double POW_(double xx, double yy);

/* 1 / (1 + x)^a */
double DISCOUNT(double x, double a);

/* Folds any month number into 1..12. */
short MONTH_WRAP(short m);

inline double MAX2(double a, double b) { return a > b ? a : b; }
inline short ARGMAX2(double a, double b) { return a > b ? 1 : 2; }

inline double MAX3(double a, double b, double c)
{
    if (a > b)
        return a > c ? a : c;
    return b > c ? b : c;
}

inline short ARGMAX3(double a, double b, double c)
{
    if (a > b)
        return a > c ? 1 : 3;
    return b > c ? 2 : 3;
}

/* The calendar months' names as the bio file and the cow list write them,
** [1] "JAN" .. [12] "DEC" ([0] is empty). */
extern const char* const MONTH_NAMES[13];

/* The calendar month 1..12 of a name JAN..DEC (as written: capitals), or 0. */
int MONTH_OF_NAME(const std::string& name);

#endif
