/*
** dp.h -- the dynamic program: value iteration over cow states, its
** result tables, the policy / pay-off / delay files and the warm start.
*/
#ifndef MORVENDA_DP_H
#define MORVENDA_DP_H

/* 1 = converged and the 24 stored stages are complete; 0 = gave up. */
short DP_POLICY(short policy);

/* After the bio record is read and its probabilities derived: the policy
** solved from a cold start with no warm file written (true), or, for a
** policy that is not the optimal one, the decisions of the pol file
** (false).  Ends the run when the solve gives up. */
bool OBTAIN_COLD_POLICY();

/* Aitken extrapolation of three successive values, oldest first;
** -9999.0 when it cannot be made. */
double EXTRAPOLATE(double a, double b, double c);

/* The writers return once their file is written out; its sync and its
** rename over the old file go on while the run goes on. */
void WRITE_POL_FILE();
void READ_POL_FILE();
void WRITE_RPO_FILE();
void WRITE_DEL_FILE();
/* Waits until the files of the writers above are saved; false, after the
** message and a pause, when one could not be (that file is left as it
** was). */
bool FINISH_POLICY_FILES();

void WRITE_WARM_FILE(unsigned short buffer);
/* 1 = warm.txt read into buffer 2, 0 = not there. */
short READ_WARM_FILE();

#endif
