/*
** mkv_reset.cpp -- clearing the herd projection record.
**
** RESET_MKV_RECORD clears chosen parts of the mkv record:
**
**   mode 0, 1  one working slot of the distributions (and keep); the chain
**              calls this after every month for the slot it just consumed
**   mode 3     both working slots and every accumulator, before a run of
**              the chain that collects data
**   mode 4     all three slots, before the stored herd is loaded
**
** The accumulators are [..][t] arrays with the month last, so the months
** 0..count of one row are contiguous; they are cleared row by row in a few
** blocks of months, one block per progress mark, so that a 36-month run
** does not pay for clearing 300 months and a 300-month run still reports
** how far it has come.
*/
#include "markov.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "run/records.h"
#include "run/runlog.h"

namespace {

/* Clears months first..last of every row of a month-last array. */
template <typename A>
void CLEAR_MONTHS(A& arr, int first, int last)
{
    using Elem = std::remove_all_extents_t<A>;
    static_assert(sizeof(A) % (NT * sizeof(Elem)) == 0, "month must be the last index");
    const std::size_t rows = sizeof(A) / (NT * sizeof(Elem));
    Elem* base = reinterpret_cast<Elem*>(&arr);
    const std::size_t bytes = static_cast<std::size_t>(last - first + 1) * sizeof(Elem);
    for (std::size_t r = 0; r < rows; r++)
        std::memset(base + r * NT + first, 0, bytes);
}

/* Every per-month accumulator, months first..last. */
void CLEAR_ACCUMULATORS(int first, int last)
{
    MkvRecord* k = mkv;
    CLEAR_MONTHS(k->mkv_enter, first, last);
    CLEAR_MONTHS(k->total_cash, first, last);
    CLEAR_MONTHS(k->operating_cash, first, last);
    CLEAR_MONTHS(k->milkyield, first, last);
    CLEAR_MONTHS(k->cwt, first, last);
    CLEAR_MONTHS(k->milksales, first, last);
    CLEAR_MONTHS(k->milking, first, last);
    CLEAR_MONTHS(k->cows_mim, first, last);
    CLEAR_MONTHS(k->milkingcows_mim, first, last);
    CLEAR_MONTHS(k->dmi_mim, first, last);
    CLEAR_MONTHS(k->cows_lact, first, last);
    CLEAR_MONTHS(k->feedcostdry, first, last);
    CLEAR_MONTHS(k->feedcostlac, first, last);
    CLEAR_MONTHS(k->keep, first, last);
    CLEAR_MONTHS(k->repl, first, last);
    CLEAR_MONTHS(k->repl_mim, first, last);
    CLEAR_MONTHS(k->pind, first, last);
    CLEAR_MONTHS(k->pind_mim, first, last);
    CLEAR_MONTHS(k->open, first, last);
    CLEAR_MONTHS(k->preg, first, last);
    CLEAR_MONTHS(k->present, first, last);
    CLEAR_MONTHS(k->calved, first, last);
    CLEAR_MONTHS(k->calvings, first, last);
    CLEAR_MONTHS(k->lactation1, first, last);
    CLEAR_MONTHS(k->lactation2, first, last);
    CLEAR_MONTHS(k->calves_born, first, last);
    CLEAR_MONTHS(k->calfsales, first, last);
    CLEAR_MONTHS(k->cowsales, first, last);
    CLEAR_MONTHS(k->loss, first, last);
    CLEAR_MONTHS(k->heiferpool, first, last);
    CLEAR_MONTHS(k->heifers_raised, first, last);
    CLEAR_MONTHS(k->heifers_purchased, first, last);
    CLEAR_MONTHS(k->heifers_sold, first, last);
    CLEAR_MONTHS(k->heiferpurchasecost, first, last);
    CLEAR_MONTHS(k->heiferraisecost, first, last);
    CLEAR_MONTHS(k->breedingsupplycost, first, last);
    CLEAR_MONTHS(k->breedinglaborcost, first, last);
    CLEAR_MONTHS(k->laborcost, first, last);
    CLEAR_MONTHS(k->labortime, first, last);
    CLEAR_MONTHS(k->vetcost, first, last);
    CLEAR_MONTHS(k->othercost, first, last);
    CLEAR_MONTHS(k->fixedcost_labor, first, last);
    CLEAR_MONTHS(k->fixedcost_other, first, last);
    CLEAR_MONTHS(k->totrevenue, first, last);
    CLEAR_MONTHS(k->totcost, first, last);
    CLEAR_MONTHS(k->dim_sum, first, last);
    CLEAR_MONTHS(k->openmim_sum, first, last);
    CLEAR_MONTHS(k->rpo_sum, first, last);
    CLEAR_MONTHS(k->rpo_n, first, last);
    CLEAR_MONTHS(k->cowvalue_sum, first, last);
    CLEAR_MONTHS(k->cowvalue_n, first, last);
    CLEAR_MONTHS(k->serv_n, first, last);
    CLEAR_MONTHS(k->serv_preg, first, last);
    CLEAR_MONTHS(k->delayed_n, first, last);
    CLEAR_MONTHS(k->at_vwp, first, last);
    CLEAR_MONTHS(k->breedable_mim, first, last);
    CLEAR_MONTHS(k->insval, first, last);
    CLEAR_MONTHS(k->newpreg, first, last);
    CLEAR_MONTHS(k->conceptions, first, last);
    CLEAR_MONTHS(k->firstserv, first, last);
    CLEAR_MONTHS(k->bred, first, last);
    CLEAR_MONTHS(k->delayserv, first, last);
    CLEAR_MONTHS(k->delval, first, last);
    CLEAR_MONTHS(k->delval_n, first, last);
    CLEAR_MONTHS(k->delval2, first, last);
    CLEAR_MONTHS(k->delval2_n, first, last);
    CLEAR_MONTHS(k->abortions, first, last);
    CLEAR_MONTHS(k->abortrisk_n, first, last);
    CLEAR_MONTHS(k->dryoffyield, first, last);
    CLEAR_MONTHS(k->dryoff_n, first, last);
    CLEAR_MONTHS(k->rpo_vwp, first, last);
    CLEAR_MONTHS(k->rpo_vwp_n, first, last);
    CLEAR_MONTHS(k->replopen_n, first, last);
    CLEAR_MONTHS(k->replopen_iof, first, last);
    CLEAR_MONTHS(k->replopen_mlk, first, last);
    CLEAR_MONTHS(k->replopen_rev, first, last);
    CLEAR_MONTHS(k->replopen_rpo, first, last);
}

/* One distribution slot: cow states, unserved and delayed parts, young stock. */
void CLEAR_SLOT(int slot)
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
void RESET_PROGRESS(double percent)
{
    std::printf(" %.0f%%", percent);
    WRITE_MSG_FILE(20, percent);
}

/* A progress mark after month t of the accumulator reset. */
bool MONTH_MARK(int t, int count)
{
    const int step = count / 5;
    return (step > 0 && t % step == 0) || t == 1 || t == count;
}

} // namespace

void RESET_MKV_RECORD(unsigned short mode, unsigned short count)
{
    if (mode == 3)
        std::printf("\n RESET_MKV_RECORD started (%d) ...", mode);

    int first_slot = 0, last_slot = 0;
    switch (mode) {
    case 0: first_slot = 0; last_slot = 0; break;
    case 1: first_slot = 1; last_slot = 1; break;
    case 3: first_slot = 0; last_slot = 1; break;
    case 4: first_slot = 0; last_slot = 2; break;
    default:
        std::printf("\n RESET_MKV_RECORD: mode:%d error", mode);
        STOP(1);
        return;
    }
    /* The month arrays hold months 0..300. */
    const int months = count > MAXT ? MAXT : count;

    for (int s = first_slot; s <= last_slot; s++)
        CLEAR_SLOT(s);
    CLEAR_MONTHS(mkv->keep, 0, months);

    if (mode != 3)
        return;

    TIMETAKEN(3);

    /* Month 0, with the progress of its walk over the months in milk,
    ** then months 1..count in blocks that end at the progress marks. */
    CLEAR_ACCUMULATORS(0, 0);
    for (int m = 0; m <= MAXMIM; m++)
        if (m % 5 == 0 || m == MAXMIM)
            RESET_PROGRESS(m / 24.0 * 40.0);
    int done = 0;
    for (int t = 0; t <= months; t++) {
        if (!MONTH_MARK(t, months))
            continue;
        if (t > done) {
            CLEAR_ACCUMULATORS(done + 1, t);
            done = t;
        }
        RESET_PROGRESS(months > 0 ? static_cast<double>(t) / months * 50.0 + 50.0 : 100.0);
    }

    MkvRecord* k = mkv;
    std::memset(k->hz_open, 0, sizeof k->hz_open);
    std::memset(k->hz_preg, 0, sizeof k->hz_preg);
    std::memset(k->open_dim, 0, sizeof k->open_dim);
    std::memset(k->preg_dim, 0, sizeof k->preg_dim);
    std::memset(k->pind_rpo, 0, sizeof k->pind_rpo);
    std::memset(k->pind_rpo_n, 0, sizeof k->pind_rpo_n);
    static_assert(std::is_trivially_copyable_v<MkvStats>);
    std::memset(&k->stats, 0, sizeof k->stats);
    k->sea_next = 0;
    k->header1 = 0;
    k->header_sea = 0;
    k->header3 = 0;

    std::printf("\n RESET_MKV_RECORD done ...");
}
