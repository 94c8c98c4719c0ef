/*
** driver.h -- the run driver: one run of the model from the command line.
*/
#ifndef MORVENDA_DRIVER_H
#define MORVENDA_DRIVER_H

#include <functional>

/* The whole run; returns the exit status (0 completed, 1 not completed). */
int MORVENDA_RUN(int argc, char** argv);

/* Allocates or resets the records a policy is solved or read into (pol,
** rpo, ins, del), each step announced in msg.txt. */
void INIT_POLICY_RECORDS();

/* The steady-state search of analysis 1: repeats `pass` (a 12-month
** projection that leaves its distribution in the stored slot) until the
** herd stops changing.  Returns the number of passes made. */
unsigned short STEADY_STATE_LOOP(const std::function<void()>& pass);

#endif
