/*
** month_tables.h -- what a collecting month of the projection reads of
** each cow state, laid out month by month.
**
** A collecting month reads, for every state with cows in it, her revenue,
** milk, feed intake, labour, retention pay-off, pregnancy value, next
** month's milk and the policy's decision.  The records keep the calendar
** slot innermost, so each of those is a cache line of its own, scattered
** over 80 MB of tables, and a 300-month run would fetch them afresh every
** month.  From month 13 on a run goes round the second-year slots 13..24
** again and again, so the projection makes, once per collecting run, a
** copy holding for each of those slots the values of every state side by
** side in one 64-byte cell, in the order the monthly walk visits the
** states (lactation, class, month in milk, month of pregnancy).  The
** first-year slots are used once each and are read from the records.
** The cells hold copies of record values only, so every figure is the
** same double.
*/
#ifndef MORVENDA_MARKOV_MONTH_TABLES_H
#define MORVENDA_MARKOV_MONTH_TABLES_H

#include "core/records.h"

/* A state's values in one policy slot m (calendar month sea). */
struct alignas(64) StateMonth {
    double R;      /* net revenue, bio->rev[..][m] */
    double Y;      /* milk, bio->milkyield[..][sea] */
    double dmi;    /* feed intake, bio->dmi[..][sea] */
    double labor;  /* minutes of labour, bio->labortime[..][sea] */
    double rpo;    /* retention pay-off, rpo->rpo[..][m] */
    double prg;    /* pregnancy value, rpo->prg[..][m] */
    double Y_next; /* a pregnant cow's milk next month, one month further
                   ** pregnant, in the next calendar month; 0 otherwise */
    short decision; /* pol->decision[..][m] */
};

/* The first policy slot with a copy: slots 13..24 repeat every year. */
constexpr int FIRST_TABLE_SLOT = 13;

/* Copies the values of every state the projection can visit (lactations
** 1..bio->maxlact, pregnancies conceived in the breeding window) for the
** slots FIRST_TABLE_SLOT..24; false when memory is short. */
bool BUILD_MONTH_TABLES();

/* The cells of policy slot m (FIRST_TABLE_SLOT..24),
** [lact][curr][mim][mpreg]. */
using MonthSlot = StateMonth[NLACT][NCURR][NMIM][NMPREG];
const MonthSlot& MONTH_SLOT(int m);

/* Gives the tables' memory back. */
void RELEASE_MONTH_TABLES();

#endif
