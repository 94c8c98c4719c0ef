/*
** ranked_list.h -- the valued herd, best to worst: the ranked CSV file
** and the console table with its closing summary.
**
** Every input row appears once: valued cows by cow value (rank 1 the most
** valuable), then the rows that could not be valued, in input order, with
** the reason in their note.  When the pay-offs are not known (a policy read
** from a pol file) the list keeps the input order and has no ranks.
*/
#ifndef MORVENDA_RANKED_LIST_H
#define MORVENDA_RANKED_LIST_H

#include <string>
#include <vector>

#include "cows/cow_list.h"
#include "cows/cow_value.h"
#include "core/huge_pages.h"

struct RankedCow {
    const CowRow* row = nullptr;
    CowState state;
    CowValue value;
    bool valued = false;      /* false: rejected, see error */
    int rank = 0;             /* 0 = none */
    std::string note;
    const char* error = "";   /* reason the row has no value ("" when valued) */
    const char* error_column = "";
};

/* The valued list: the cows in input order, and the order to show them in
** (best to worst, then the rejected rows). */
struct RankedHerd {
    std::vector<RankedCow, HugePageAllocator<RankedCow>> cows; /* on 2 MB pages */
    std::vector<std::size_t> order;
};

/* Maps and values every row of the list and ranks them. */
RankedHerd VALUE_COWS(const CowList& list, bool payoffs_known);

/* Header line of the ranked file (no line end). */
const char* RANKED_HEADER();

/* Writes the ranked file whole or not at all (through a temporary file of
** its own beside it, synced and renamed over it); false with `error` set
** when it cannot. */
bool WRITE_RANKED_FILE(const std::string& name, const RankedHerd& herd, std::string& error);

/* The table, the rejected rows by line and column, and the summary. */
void PRINT_RANKED_TABLE(const RankedHerd& herd, bool payoffs_known);

/* printf's "%.Nf" text of x for N 0..2 (other N as well, only slower),
** written at `out` without a terminating zero; returns its length. */
int FIXED_TEXT(char* out, std::size_t size, double x, int decimals);

/* Rows rejected. */
int REJECTED_COUNT(const RankedHerd& herd);

#endif
