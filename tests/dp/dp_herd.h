/*
** dp_herd.h -- a small hand-set herd for the dynamic-program tests, and
** the clearing of the records between cases.
*/
#ifndef MORVENDA_TEST_DP_HERD_H
#define MORVENDA_TEST_DP_HERD_H

#include <string>

/* Clears bio, fut, pol, rpo, ins and del (console output hidden). */
void CLEAR_DP_RECORDS();

/* A herd of `maxlact` lactations: lactation curves by yield class,
** prices, disposal and fertility; breeding months 2..10, last month 20. */
void SET_SMALL_HERD(int maxlact, double interest);

/* Daily milk of a cow of the small herd, in every calendar month alike. */
double SMALL_HERD_DAILY_MILK(int curr, int lact, int mim, int mpreg);

/* A herd whose place earns exactly nothing in any state (revenue matches
** every cost), so the iteration is steady from the first stage. */
void SET_FLAT_HERD();

/* DP_POLICY with the console captured: returns the console text. */
std::string RUN_DP(short policy, short& status);

#endif
