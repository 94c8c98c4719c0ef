/*
** herd_fixture.h -- a small hand-made herd and policy for the projection
** tests: three lactations, yield classes that never change, heifers that
** enter class 8, insemination from month in milk 2 to 8, cows sold at
** month in milk 20, and heifers free to enter in every month.
*/
#ifndef MORVENDA_TEST_HERD_FIXTURE_H
#define MORVENDA_TEST_HERD_FIXTURE_H

/* Fills bio, pol, rpo, ins and del with the hand-made herd; the mkv record
** is cleared in all three slots (an empty stored herd).  `pind` is the
** monthly involuntary disposal rate of every state. */
void BUILD_HAND_HERD(double pind = 0.01);

/* Whole mass of slot `slot` of the distribution (cows only). */
double HERD_MASS(int slot);

/* Runs `passes` steady-state passes of 12 months without collecting. */
void RUN_PASSES(int passes);

/* The policy month a hand-herd run uses in its month t (start in January). */
int POLICY_MONTH(int t);

#endif
