/*
** month_tables.cpp -- building the projection's month-by-month copy of
** the state tables.
**
** The build reads each record table once, in memory order (a state's
** slots are side by side), and writes each state's cells of the twelve
** slots in turn, so it costs about what one month of scattered reads did.
*/
#include "markov/month_tables.h"

#include "core/huge_pages.h"
#include "core/numeric.h"

namespace {

/* Policy slots FIRST_TABLE_SLOT..24 in one block. */
constexpr int TABLE_SLOTS = NSLOT - FIRST_TABLE_SLOT;
struct MonthTables {
    MonthSlot cell[TABLE_SLOTS];
};
static_assert(sizeof(StateMonth) == 64, "one cache line a state");

MonthTables* tables = nullptr;

int calendar_month(int m)
{
    return MONTH_WRAP(static_cast<short>(m));
}

/* The states the projection visits: every open one, and the pregnant
** ones inside the breeding window. */
bool visited(int lact, int mim, int mpreg)
{
    int first, last;
    pregnancy_window(lact, mim, first, last);
    return mpreg == 0 || (mpreg >= first && mpreg <= last);
}

} // namespace

bool BUILD_MONTH_TABLES()
{
    if (tables == nullptr) {
        void* block = map_huge_block(sizeof(MonthTables));
        if (block == nullptr)
            return false;
        tables = static_cast<MonthTables*>(block);
    }
    for (int c = 1; c <= MAXCURR; c++)
        for (int l = 1; l <= bio->maxlact; l++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int p = 0; p <= MAXMPREG; p++) {
                    if (!visited(l, mim, p))
                        continue;
                    const double* R = bio->rev[c][l][mim][p];
                    const double* Y = bio->milkyield[c][l][mim][p];
                    const double* dmi = bio->dmi[c][l][mim][p];
                    const double* labor = bio->labortime[c][l][mim][p];
                    const double* payoff = rpo->rpo[c][l][mim][p];
                    const double* preg = rpo->prg[c][l][mim][p];
                    const short* decision = pol->decision[c][l][mim][p];
                    const bool goes_on = pregnant_next_month(mim, p);
                    const double* Y_next = goes_on ? bio->milkyield[c][l][mim + 1][p + 1] : nullptr;
                    for (int m = FIRST_TABLE_SLOT; m < NSLOT; m++) {
                        const int sea = calendar_month(m);
                        const int sea_next = sea == 12 ? 1 : sea + 1;
                        StateMonth& cell = tables->cell[m - FIRST_TABLE_SLOT][l][c][mim][p];
                        cell.R = R[m];
                        cell.Y = Y[sea];
                        cell.dmi = dmi[sea];
                        cell.labor = labor[sea];
                        cell.rpo = payoff[m];
                        cell.prg = preg[m];
                        cell.Y_next = goes_on ? Y_next[sea_next] : 0.0;
                        cell.decision = decision[m];
                    }
                }
    return true;
}

const MonthSlot& MONTH_SLOT(int m)
{
    return tables->cell[m - FIRST_TABLE_SLOT];
}

void RELEASE_MONTH_TABLES()
{
    if (tables != nullptr)
        CLEAR_BLOCK(tables, sizeof(MonthTables));
}
