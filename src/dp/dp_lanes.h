/*
** dp_lanes.h -- the value iteration's own working layout: the 16 yield
** class slots of a row side by side.
**
** Every cow state's value is the sum, over the yield classes she may move
** to, of the chance of that class times next month's value there.  The
** records keep the yield class outermost, so the classes of one sum lie a
** record-row apart and every sum is a handful of scattered loads.  The
** solver therefore works on its own copy, made when a solve starts and
** handed back to the fut record when it ends:
**
**   - next month's values as rows of 16 doubles, one per yield class slot,
**     for each (lactation, month in milk, month of pregnancy) and each
**     (lactation, month in milk, delay month);
**   - the class transitions of a (lactation, month in milk) as a band of
**     diagonals: coefficient d of lane l is the chance of moving from class
**     l to class l + d, and 0.0 outside the class's row;
**   - the monthly revenue of the states of a (slot, lactation, month in
**     milk) as rows of 16.
**
** One call of band_sums then gives the sums of all 16 classes at once from
** contiguous memory, and the compiler turns its lanes into vector
** arithmetic.  Each lane adds its terms in rising order of the next class,
** starting from 0.0, as a plain loop over its own row does; the zero
** coefficients outside the row add a zero, which leaves a sum unchanged.
** Every sum is therefore the same double as the loop's.
*/
#ifndef MORVENDA_DP_LANES_H
#define MORVENDA_DP_LANES_H

#include <cstddef>
#include <vector>

#include "core/records.h"

/* Yield class slots of a row: class 0 is never a cow's class, but keeps
** its slot so that lane l is class l. */
constexpr int LANES = NCURR;

/* Widest reach of a transition row: from class 1 to class 15 and back. */
constexpr int MAX_REACH = MAXCURR;

/* Zero doubles before and after every block a band may read past: a lane
** near the edge of a row reads up to MAX_REACH slots beyond it, always
** with a zero coefficient. */
constexpr int MARGIN = LANES;

/* Class bounds lo..hi of transition row k of class curr (row 0 within the
** lactation, 1..12 at calving in that month), kept inside 0..15. */
inline void row_bounds(int curr, int lact, int mim, int k, int& lo, int& hi)
{
    lo = bio->lo[curr][lact][mim][k] < 0 ? 0 : bio->lo[curr][lact][mim][k];
    hi = bio->hi[curr][lact][mim][k] > MAXCURR ? MAXCURR : bio->hi[curr][lact][mim][k];
}

/* The transitions of one row of states as diagonals first..last. */
struct Band {
    int first = 0;
    int last = -1;
    const double* coef = nullptr; /* (last - first + 1) rows of LANES */
};

/* acc[l] = sum over d of coef[d][l] * f[l + d]; f must be readable from
** f + first to f + LANES - 1 + last. */
inline void band_sums(const Band& b, const double* f, double* acc)
{
#pragma omp simd
    for (int l = 0; l < LANES; l++)
        acc[l] = 0.0;
    const double* k = b.coef;
    for (int d = b.first; d <= b.last; d++, k += LANES) {
        const double* g = f + d;
#pragma omp simd
        for (int l = 0; l < LANES; l++)
            acc[l] += k[l] * g[l];
    }
}

/* Writes lanes 1..15 of v into a working row; lane 0 is no cow's class
** and keeps its cell. */
inline void store_row(double* row, const double* v)
{
    const double keep = row[0];
#pragma omp simd
    for (int l = 0; l < LANES; l++)
        row[l] = v[l];
    row[0] = keep;
}

/* A row of values that add a class sum to a base: dst[l] = base[l] +
** stay * (band sum of f)[l], lanes 1..15. */
inline void band_row(const Band& b, const double* f, const double* base, double stay, double* dst)
{
    double acc[LANES];
    band_sums(b, f, acc);
    const double keep = dst[0];
#pragma omp simd
    for (int l = 0; l < LANES; l++)
        dst[l] = base[l] + stay * acc[l];
    dst[0] = keep;
}

/* A row of 16 computed values with zero margins, for the class sums over
** a mixture of next month's values (conception, abortion). */
struct MixRow {
    double cells[MARGIN + LANES + MARGIN] = {};
    double* row() { return cells + MARGIN; }
};

/* One working buffer of the value iteration: fut->value, fut->delay_open
** and fut->delay_preg of one buffer, yield class innermost. */
class LaneBuffer {
public:
    double* value(int lact, int mim, int mpreg) { return at(VALUE + ((lact * NMIM + mim) * NMPREG + mpreg) * LANES); }
    double* delay_open(int lact, int mim, int h) { return at(OPEN + ((lact * NMIM + mim) * NMIM + h) * LANES); }
    double* delay_preg(int lact, int mim, int h) { return at(PREG + ((lact * NMIM + mim) * NMIM + h) * LANES); }

private:
    static constexpr std::size_t VALUE = 0;
    static constexpr std::size_t OPEN = VALUE + std::size_t{NLACT} * NMIM * NMPREG * LANES;
    static constexpr std::size_t PREG = OPEN + std::size_t{NLACT} * NMIM * NMIM * LANES;
    static constexpr std::size_t CELLS = PREG + std::size_t{NLACT} * NMIM * NMIM * LANES;

    double* at(std::size_t i) { return cells_ + MARGIN + i; }

    double cells_[MARGIN + CELLS + MARGIN] = {};
};

/* The working buffers 0 and 1 of the value iteration. */
LaneBuffer& LANE_BUFFER(int buf);

/* Copies fut->value and the delay values of both working buffers into the
** lane buffers, lactations 1..12. */
void LOAD_LANES();
/* Hands the lane buffers back to the fut record (both working buffers, or
** only the values of one for the warm-start file). */
void STORE_LANES();
void STORE_LANE_VALUES(int buf);
/* Gives the lane buffers' and the tables' memory back once a solve has
** ended: the herd projection after it needs the room. */
void RELEASE_LANES();

/* Transition bands and revenue rows of the herd in the bio record, built
** at the start of every solve (lactations 1..bio->maxlact). */
void BUILD_LANE_TABLES();
/* Within the lactation (row 0 of bio->pnext). */
const Band& WITHIN_BAND(int lact, int mim);
/* Calving in calendar month sea into the next lactation. */
const Band& CALVING_BAND(int sea, int lact, int mim);
/* bio->rev[l][lact][mim][mpreg][t] for the 16 lanes: row 0 for the open
** cow, then one row for each month of pregnancy from first_preg on that a
** cow can be in at this month in milk (she conceived in the window). */
struct RevenueRows {
    const double* rows;
    int first_preg;
    const double* open() const { return rows; }
    const double* pregnant(int mpreg) const { return rows + (1 + mpreg - first_preg) * LANES; }
};
RevenueRows REVENUE_LANES(int t, int lact, int mim);

#endif
