// Placeholder until the bio file reader lands.
#include "bio.h"
short READ_BIO_FILE() { return 0; }
void BIO_SMY() {}
void PREDICT_305M() {}
void BIO_PROBABILITY() {}
