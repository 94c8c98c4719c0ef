/*
** markov.h -- the herd projection: the monthly Markov chain step with its
** data collection, the reset of the mkv record and the MKV state file.
*/
#ifndef MORVENDA_MARKOV_H
#define MORVENDA_MARKOV_H

void MARKOV_CHAIN(unsigned short entry_mode, unsigned short count, unsigned short collect);
void RESET_MKV_RECORD(unsigned short mode, unsigned short count);
void READ_MKV_FILE();
void WRITE_MKV_FILE();

#endif
