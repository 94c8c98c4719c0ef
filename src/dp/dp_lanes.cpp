/*
** dp_lanes.cpp -- the value iteration's working layout: the lane buffers,
** their exchange with the fut record, and the tables built per solve.
**
** The tables hold copies of bio record values only, never anything
** computed from them, so a stage reads exactly the doubles it read from
** the record.
*/
#include "dp/dp_lanes.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "core/huge_pages.h"
#include "core/runlog.h"

namespace {

/* The two working buffers (5 MB) and the tables (up to 25 MB) sit on 2 MB
** pages: they are filled afresh by every solve. */
LaneBuffer* buffers = nullptr; /* [2], mapped at the first solve */

using Pool = std::vector<double, HugePageAllocator<double>>;

/* The most doubles the band pool can need: a band for every (lactation,
** month in milk) within the lactation and one per calving month, each of
** at most 2 * MAX_REACH + 1 diagonals. */
constexpr std::size_t BAND_POOL_MAX =
    std::size_t{MAXLACT} * (MAXMIM + 12 * MAXMIM) * (2 * MAX_REACH + 1) * LANES;

/* Offsets into the pools of the tables, built per solve. */
struct BandAt {
    int first, last;
    std::size_t at;
};

Pool band_pool;
BandAt within_at[NLACT][NMIM];
BandAt calving_at[NSEA][NLACT][NMIM];
Band within[NLACT][NMIM];
Band calving[NSEA][NLACT][NMIM];

Pool revenue_pool;  /* slots 1..24, each revenue_slot long */
std::size_t revenue_slot = 0;
std::size_t revenue_at[NLACT][NMIM];   /* offset inside a slot */
int first_preg[NLACT][NMIM]; /* first month of pregnancy with a row */

/* Lays out the band of transition row k of (lact, mim) at the end of the
** pool; the diagonals reach from the lowest to the highest class offset
** of any class's row. */
BandAt add_band(int lact, int mim, int k)
{
    BandAt b = {0, -1, band_pool.size()};
    bool any = false;
    for (int curr = 1; curr <= MAXCURR; curr++) {
        int lo, hi;
        row_bounds(curr, lact, mim, k, lo, hi);
        if (lo > hi)
            continue;
        b.first = any ? std::min(b.first, lo - curr) : lo - curr;
        b.last = any ? std::max(b.last, hi - curr) : hi - curr;
        any = true;
    }
    band_pool.resize(b.at + static_cast<std::size_t>(b.last - b.first + 1) * LANES, 0.0);
    for (int curr = 1; curr <= MAXCURR; curr++) {
        int lo, hi;
        row_bounds(curr, lact, mim, k, lo, hi);
        for (int c = lo; c <= hi; c++)
            band_pool[b.at + static_cast<std::size_t>(c - curr - b.first) * LANES + curr] =
                bio->pnext[curr][lact][mim][k][c];
    }
    return b;
}

Band band_of(const BandAt& b)
{
    return Band{b.first, b.last, band_pool.data() + b.at};
}

void BUILD_BANDS()
{
    const int maxlact = bio->maxlact;
    band_pool.clear();
    for (int lact = 1; lact <= maxlact; lact++)
        for (int mim = 1; mim < MAXMIM; mim++)
            within_at[lact][mim] = add_band(lact, mim, 0);
    for (int sea = 1; sea <= 12; sea++)
        for (int lact = 1; lact <= maxlact; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++) {
                int first, last;
                pregnancy_window(lact, mim, first, last);
                calving_at[sea][lact][mim] = first <= MAXMPREG && MAXMPREG <= last ? add_band(lact, mim, sea)
                                                                                   : BandAt{0, -1, 0};
            }
    /* the pool is complete: only now do its addresses stay put */
    for (int lact = 1; lact <= maxlact; lact++)
        for (int mim = 1; mim <= MAXMIM; mim++) {
            within[lact][mim] = mim < MAXMIM ? band_of(within_at[lact][mim]) : Band{};
            for (int sea = 1; sea <= 12; sea++)
                calving[sea][lact][mim] = band_of(calving_at[sea][lact][mim]);
        }
}

void BUILD_REVENUE()
{
    const int maxlact = bio->maxlact;
    /* one slot after the other, as the stages read them */
    std::size_t slot_size = 0;
    for (int lact = 1; lact <= maxlact; lact++)
        for (int mim = 1; mim <= MAXMIM; mim++) {
            int first, last;
            pregnancy_window(lact, mim, first, last);
            first_preg[lact][mim] = first;
            revenue_at[lact][mim] = slot_size;
            slot_size += static_cast<std::size_t>(1 + std::max(0, last - first + 1)) * LANES;
        }
    revenue_slot = slot_size;
    revenue_pool.resize(slot_size * (NSLOT - 1));
    for (int lact = 1; lact <= maxlact; lact++)
        for (int mim = 1; mim <= MAXMIM; mim++) {
            int first, last;
            pregnancy_window(lact, mim, first, last);
            for (int curr = 0; curr < NCURR; curr++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                    if (mpreg > 0 && (mpreg < first || mpreg > last))
                        continue;
                    const int row = mpreg == 0 ? 0 : 1 + mpreg - first;
                    const double* rev = bio->rev[curr][lact][mim][mpreg];
                    double* to = revenue_pool.data() + revenue_at[lact][mim] + static_cast<std::size_t>(row) * LANES + curr;
                    for (int t = 1; t < NSLOT; t++, to += slot_size)
                        *to = rev[t];
                }
        }
}

} // namespace

LaneBuffer& LANE_BUFFER(int buf)
{
    return buffers[buf];
}

void LOAD_LANES()
{
    for (int lact = 1; lact <= MAXLACT; lact++)
        for (int mim = 0; mim < NMIM; mim++)
            for (int c = 0; c < NCURR; c++)
                for (int buf = 0; buf < 2; buf++) {
                    LaneBuffer& b = buffers[buf];
                    for (int p = 0; p < NMPREG; p++)
                        b.value(lact, mim, p)[c] = fut->value[c][lact][mim][p][buf];
                    for (int h = 0; h < NMIM; h++) {
                        b.delay_open(lact, mim, h)[c] = fut->delay_open[c][lact][mim][h][buf];
                        b.delay_preg(lact, mim, h)[c] = fut->delay_preg[c][lact][mim][h][buf];
                    }
                }
}

void STORE_LANE_VALUES(int buf)
{
    LaneBuffer& b = buffers[buf];
    for (int c = 0; c < NCURR; c++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 0; mim < NMIM; mim++)
                for (int p = 0; p < NMPREG; p++)
                    fut->value[c][lact][mim][p][buf] = b.value(lact, mim, p)[c];
}

void STORE_LANES()
{
    for (int c = 0; c < NCURR; c++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 0; mim < NMIM; mim++)
                for (int buf = 0; buf < 2; buf++) {
                    LaneBuffer& b = buffers[buf];
                    for (int p = 0; p < NMPREG; p++)
                        fut->value[c][lact][mim][p][buf] = b.value(lact, mim, p)[c];
                    for (int h = 0; h < NMIM; h++) {
                        fut->delay_open[c][lact][mim][h][buf] = b.delay_open(lact, mim, h)[c];
                        fut->delay_preg[c][lact][mim][h][buf] = b.delay_preg(lact, mim, h)[c];
                    }
                }
}

void RELEASE_LANES()
{
    Pool().swap(band_pool);
    Pool().swap(revenue_pool);
    if (buffers != nullptr)
        CLEAR_BLOCK(buffers, 2 * sizeof(LaneBuffer));
}

void BUILD_LANE_TABLES()
{
    try {
        if (buffers == nullptr) {
            void* block = map_huge_block(2 * sizeof(LaneBuffer));
            if (block == nullptr)
                throw std::bad_alloc();
            buffers = static_cast<LaneBuffer*>(block);
            for (int buf = 0; buf < 2; buf++)
                new (&buffers[buf]) LaneBuffer;
        }
        /* the pool's storage must not move while bands point into it */
        band_pool.reserve(BAND_POOL_MAX);
        BUILD_BANDS();
        BUILD_REVENUE();
    } catch (const std::bad_alloc&) {
        FAIL_RUN("DP_POLICY", "Insufficient memory available. ");
    }
}

const Band& WITHIN_BAND(int lact, int mim)
{
    return within[lact][mim];
}

const Band& CALVING_BAND(int sea, int lact, int mim)
{
    return calving[sea][lact][mim];
}

RevenueRows REVENUE_LANES(int t, int lact, int mim)
{
    return RevenueRows{revenue_pool.data() + revenue_slot * static_cast<std::size_t>(t - 1) + revenue_at[lact][mim],
                       first_preg[lact][mim]};
}
