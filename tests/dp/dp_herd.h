/*
** dp_herd.h -- a small hand-set herd for the dynamic-program tests, and
** helpers that bring the records to their start values between cases.
*/
#ifndef MORVENDA_TEST_DP_HERD_H
#define MORVENDA_TEST_DP_HERD_H

#include <string>

/* Clears bio, fut, pol, rpo, ins and del (console output hidden). */
void CLEAR_DP_RECORDS();

/* Fills bio with a small herd: `maxlact` lactations, yield classes that
** spread a little from month to month and at calving, a lactation curve,
** prices, disposal and fertility.  Policy OPTIMAL, interest as given. */
void SET_SMALL_HERD(int maxlact, double interest);

/* A herd whose place earns exactly nothing but never sits at the floor:
** every cost is matched by revenue, so the iteration is steady at once. */
void SET_FLAT_HERD();

/* Runs DP_POLICY with the console captured; returns the console text and
** stores the result in `status`. */
std::string RUN_DP(short policy, short& status);

#endif
