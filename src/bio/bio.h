/*
** bio.h -- the bio file reader and the biological probabilities.
**
** READ_BIO_FILE reads the herd parameters into the bio record and derives
** the per-state tables (milk, intake, revenue, sale value, disposal and
** conception rates).  BIO_SMY gives the mean yield of each of the 15 yield
** classes, PREDICT_305M their 305-day yields, and BIO_PROBABILITY the
** class transition table bio->pnext with its bounds bio->lo / bio->hi.
*/
#ifndef MORVENDA_BIO_H
#define MORVENDA_BIO_H

/* 0 = read, 1 = the bio file cannot be opened.  A file that cannot be
** read to the end ends the run (END_RUN). */
short READ_BIO_FILE();

/* Intake helpers of the reader, in the file's units (kg when kg is true,
** else lb): the lag of intake behind milk in month in milk mim, and the
** monthly dry-matter intake of a lactating cow. */
double INTAKE_LAG(int mim);
double LACTATING_INTAKE(double monthly_milk, double weight, int mim, double fat, bool kg);

/* Cuts the classes of a transition row (entries 1..15) whose probability
** lies below 0.0001 at either end, spreads their mass over the classes
** kept, and returns the first and last class kept. */
void TRIM_TAILS(double* row, short& lo, short& hi);

void BIO_SMY();
void PREDICT_305M();
void BIO_PROBABILITY();

#endif
