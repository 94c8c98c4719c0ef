// Placeholder until the policy solver lands.
#include "dp.h"
short DP_POLICY(short) { return 1; }
double EXTRAPOLATE(double, double, double) { return -9999.0; }
void WRITE_POL_FILE() {}
void READ_POL_FILE() {}
void WRITE_RPO_FILE() {}
void WRITE_DEL_FILE() {}
void WRITE_WARM_FILE(unsigned short) {}
short READ_WARM_FILE() { return 0; }
