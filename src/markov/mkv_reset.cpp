/*
** mkv_reset.cpp -- clearing the herd projection record.
**
** RESET_MKV_RECORD clears chosen parts of the mkv record:
**
**   RESET_SLOT_0, RESET_SLOT_1  one working slot of the distributions (and
**              keep); the chain calls this after every month for the slot
**              it just consumed
**   RESET_COLLECTING  both working slots and every accumulator, before a
**              run of the chain that collects data
**   RESET_ALL_SLOTS  all three slots, before the stored herd is loaded
**
** The accumulators are [..][t] arrays with the month last, so the months
** 0..count of one row are contiguous and a 36-month run does not pay for
** clearing 300 months; the four large event tables keep the month first,
** so that their months 0..count are one stretch.  Each row is cleared
** over all its months at once (a whole array in one stretch when the run
** covers every month), and the rows are taken in a few parts, one part
** per progress mark, so that a 300-month run still reports how far it has
** come.
**
** A whole array is cleared with CLEAR_BLOCK, which hands its whole 2 MB
** pages back to the system rather than writing zeros: the record is
** private anonymous memory, whose pages read as zero when next touched,
** and a page never touched again costs nothing.  A 300-month run fills
** only the rows of the states the herd reaches, so much of the large
** state-by-month arrays (the four event tables, 12 MB each) is never
** brought into memory.  Partial rows (shorter runs) are written with
** zeros.
*/
#include "markov/markov.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "core/records.h"
#include "core/runlog.h"

namespace {

/* Share `index` (0..parts - 1) of the rows of an array, in equal shares. */
struct Part {
    int index, parts;
};

/* Clears months 0..last of one part of the rows of a month-last array. */
template <typename A>
void clear_months(A& arr, Part part, int last)
{
    using Elem = std::remove_all_extents_t<A>;
    static_assert(sizeof(A) % (NT * sizeof(Elem)) == 0, "month must be the last index");
    const std::size_t rows = sizeof(A) / (NT * sizeof(Elem));
    const std::size_t first_row = rows * part.index / part.parts;
    const std::size_t end_row = rows * (part.index + 1) / part.parts;
    Elem* base = reinterpret_cast<Elem*>(&arr);
    if (last == NT - 1) {
        CLEAR_BLOCK(base + first_row * NT, (end_row - first_row) * NT * sizeof(Elem));
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(last + 1) * sizeof(Elem);
    for (std::size_t r = first_row; r < end_row; r++)
        std::memset(base + r * NT, 0, bytes);
}

/* Clears one part of months 0..last of a month-first array: the months
** lie one after the other, so each part is a single stretch. */
template <typename A>
void clear_first_months(A& arr, Part part, int last)
{
    static_assert(std::extent_v<A> == NT, "month must be the first index");
    const std::size_t month_bytes = sizeof(A) / NT;
    const std::size_t months = static_cast<std::size_t>(last) + 1;
    const std::size_t first = months * part.index / part.parts;
    const std::size_t end = months * (part.index + 1) / part.parts;
    if (end > first)
        CLEAR_BLOCK(reinterpret_cast<char*>(&arr) + first * month_bytes, (end - first) * month_bytes);
}

/* One part of the rows of every per-month accumulator, months 0..last:
** the record's own lists, so none can be missed. */
void clear_accumulators(Part part, int last)
{
    MkvRecord* k = mkv;
#define CLEAR_MONTH_LAST(type, name, dims) clear_months(k->name, part, last);
#define CLEAR_MONTH_FIRST(type, name, dims) clear_first_months(k->name, part, last);
    MKV_MONTH_ACCUMULATORS(CLEAR_MONTH_LAST)
    MKV_EVENT_TABLES(CLEAR_MONTH_FIRST)
#undef CLEAR_MONTH_LAST
#undef CLEAR_MONTH_FIRST
}

/* One distribution slot: cow states, unserved and delayed parts, young stock. */
void clear_slot(int slot)
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                for (int p = 0; p < NMPREG; p++)
                    mkv->pstate[c][l][m][p][slot] = 0.0;
                mkv->pfs[c][l][m][slot] = 0.0;
                mkv->pdelay[c][l][m][slot] = 0.0;
            }
    for (int a = 0; a < NAGE; a++)
        for (int p = 0; p < NMPREG; p++)
            mkv->pheifer[a][p][slot] = 0.0;
}

/* Progress of the mode-3 reset on the console and in msg.txt. */
void reset_progress(double percent)
{
    std::printf(" %.0f%%", percent);
    WRITE_MSG_FILE(MSG_RESET_MKV_PROGRESS, percent);
}

/* A progress mark after month t of the accumulator reset. */
bool month_mark(int t, int count)
{
    const int step = count / 5;
    return (step > 0 && t % step == 0) || t == 1 || t == count;
}

} // namespace

void RESET_MKV_RECORD(unsigned short mode, unsigned short count)
{
    if (mode == RESET_COLLECTING)
        std::printf("\n RESET_MKV_RECORD started (%d) ...", mode);

    int first_slot = 0, last_slot = 0;
    switch (mode) {
    case RESET_SLOT_0: first_slot = 0; last_slot = 0; break;
    case RESET_SLOT_1: first_slot = 1; last_slot = 1; break;
    case RESET_COLLECTING: first_slot = 0; last_slot = 1; break;
    case RESET_ALL_SLOTS: first_slot = 0; last_slot = 2; break;
    default:
        WARN_RUN("RESET_MKV_RECORD", "mode:%d error", mode);
        return;
    }
    /* The month arrays hold months 0..300. */
    const int months = count > MAXT ? MAXT : count;

    for (int s = first_slot; s <= last_slot; s++)
        clear_slot(s);
    clear_months(mkv->keep, Part{0, 1}, months);

    if (mode != RESET_COLLECTING)
        return;

    TIMETAKEN(CLOCK_LAP_START);

    /* The walk over the months in milk reports the first 40%; the rows
    ** are then cleared in one part per progress mark of the months. */
    for (int m = 0; m <= MAXMIM; m++)
        if (m % 5 == 0 || m == MAXMIM)
            reset_progress(m / 24.0 * 40.0);
    int marks = 0;
    for (int t = 0; t <= months; t++)
        if (month_mark(t, months))
            marks++;
    int part = 0;
    for (int t = 0; t <= months; t++) {
        if (!month_mark(t, months))
            continue;
        clear_accumulators(Part{part, marks}, months);
        part++;
        reset_progress(months > 0 ? static_cast<double>(t) / months * 50.0 + 50.0 : 100.0);
    }

    MkvRecord* k = mkv;
#define CLEAR_TOTAL(type, name, dims) std::memset(k->name, 0, sizeof k->name);
    MKV_RUN_TOTALS(CLEAR_TOTAL)
#undef CLEAR_TOTAL
    static_assert(std::is_trivially_copyable_v<MkvStats>);
    std::memset(&k->stats, 0, sizeof k->stats);
    k->sea_next = 0;
    k->header1 = 0;
    k->header_sea = 0;
    k->header3 = 0;

    std::printf("\n RESET_MKV_RECORD done ...");
}
