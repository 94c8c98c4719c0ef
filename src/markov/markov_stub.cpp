// Placeholder until the Markov chain lands.
#include "markov.h"
void MARKOV_CHAIN(unsigned short, unsigned short, unsigned short) {}
void RESET_MKV_RECORD(unsigned short, unsigned short) {}
void READ_MKV_FILE() {}
void WRITE_MKV_FILE() {}
