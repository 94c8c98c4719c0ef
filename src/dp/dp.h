/*
** dp.h -- the dynamic program: value iteration over cow states, its
** result tables, the policy / pay-off / delay files and the warm start.
*/
#ifndef MORVENDA_DP_H
#define MORVENDA_DP_H

/* 1 = converged and the 24 stored stages are complete; 0 = gave up. */
short DP_POLICY(short policy);

/* Aitken extrapolation of three successive values, oldest first;
** -9999.0 when it cannot be made. */
double EXTRAPOLATE(double a, double b, double c);

void WRITE_POL_FILE();
void READ_POL_FILE();
void WRITE_RPO_FILE();
void WRITE_DEL_FILE();

void WRITE_WARM_FILE(unsigned short buffer);
/* 1 = warm.txt read into buffer 2, 0 = not there. */
short READ_WARM_FILE();

#endif
