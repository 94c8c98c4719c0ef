/*
** stats.h -- herd statistics from a projection and the statistics report.
*/
#ifndef MORVENDA_STATS_H
#define MORVENDA_STATS_H

void MARKOV_CHAIN_STATS(unsigned short maxm);
void WRITE_MKV_STATS(unsigned short maxm);

#endif
