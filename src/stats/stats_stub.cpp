// Placeholder until the herd statistics land.
#include "stats.h"
void MARKOV_CHAIN_STATS(unsigned short) {}
void WRITE_MKV_STATS(unsigned short) {}
