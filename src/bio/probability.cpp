/*
** probability.cpp -- yield classes and the probabilities of moving between
** them.
**
** A cow's milk yield relative to the herd mean is a normal variable with
** mean 100 % and spread bio->yield_sd, cut into 15 yield classes of 4 %
** width around the mean (class 1 takes everything below 74 %, class 15
** everything above 126 %).  BIO_SMY gives the mean yield of each class,
** which the bio file reader multiplies into the milk curves.
** BIO_PROBABILITY gives, for each class, the chance of each class one month
** later in the same lactation (relative yields are strongly correlated from
** month to month) and in the next lactation after calving (less so).  A
** cow that calves late also gives more milk in her next lactation: with
** bio->ci_adjust the next-lactation row of lactations 1 and 2 is shifted
** until its expected 305-day yield (PREDICT_305M) rises by the
** calving-interval factor.
**
** The dynamic program and the Markov chain read bio->pnext only between
** bio->lo and bio->hi, the classes left after the negligible tails are cut.
*/
#include <cmath>
#include <cstdio>

#include "core/records.h"
#include "core/runlog.h"
#include "bio/bio.h"
#include "core/numeric.h"

namespace {

constexpr double UNBOUNDED = 9999.0; /* standardised bound of the open classes */
constexpr double TAIL_CUT = 0.0001;

/* Upper bound of each yield class, percent of the herd mean. */
constexpr double class_bound[NCURR] = {0,   74,  78,  82,  86,  90,  94,  98,
                                       102, 106, 110, 114, 118, 122, 126, 130};

/* Correlation of relative yield between month in milk mim and the next
** month; entry 0 is replaced by bio->yield_corr where it is used. */
constexpr double month_corr[NMIM] = {0.0,   0.956, 0.979, 0.988, 0.991, 0.993, 0.994,
                                     0.996, 0.997, 0.997, 1.0,   1.0,   1.0,   1.0,
                                     1.0,   1.0,   1.0,   1.0,   1.0,   1.0,   1.0,
                                     1.0,   1.0,   1.0,   1.0};

/* Next lactation's 305-day yield relative to a calving interval of about
** a year, by the month in milk of the next calving. */
constexpr double ci_factor[NMIM] = {1.0,         1.0,         1.0,         1.0,
                                    1.0,         1.0,         1.0,         1.0,
                                    1.0,         1.0,         1.0,         0.980392157,
                                    1.0,         1.01010101,  1.020408163, 1.030927835,
                                    1.03626943,  1.041666667, 1.047120419, 1.052631579,
                                    1.052631579, 1.052631579, 1.052631579, 1.052631579,
                                    1.052631579};

double normal_density(double z)
{
    return std::exp(-POW_(z, 2) / 2.0) / std::sqrt(2.0 * M_PI);
}

/* The row of class s: the probability of each class c given the class
** mean smy_s, correlation rho and conditional spread csd, shifted by u
** standard deviations.  Returns the row's expectation of next305[c] (the
** next lactation's 305-day yield by class), 0 when next305 is null. */
double fill_row(double* row, double smy_s, double rho, double csd, double u,
                const double* next305)
{
    double v = 0.0;
    double below = NORMAL_CDF(-UNBOUNDED + u); /* at the lower bound of class c */
    for (int c = 1; c <= 15; c++) {
        double z_hi = c == 15 ? UNBOUNDED
                              : (class_bound[c] - rho * (smy_s - 100.0) - 100.0) / csd;
        double upto = NORMAL_CDF(z_hi + u);
        row[c] = upto - below;
        below = upto;
        if (next305 != nullptr)
            v += row[c] * next305[c];
    }
    return v;
}

/* The next-lactation row of a cow calving late, shifted so that its
** expected 305-day yield is the unshifted one times the calving-interval
** factor: a scan upward from -2 standard deviations in steps of 0.05 that
** stops at the first step that does not come closer (80 steps at most). */
void fill_shifted_row(double* row, double smy_s, double rho, double csd, const double* next305,
                      double factor)
{
    double v = fill_row(row, smy_s, rho, csd, 0.0, next305);
    const double target = v * factor;
    double best_diff = 100000.0;
    double best_u = 0.0;
    double u = -2.0;
    v = fill_row(row, smy_s, rho, csd, u, next305);
    for (int pass = 1;; pass++) {
        double d = std::fabs(v - target);
        bool closer = d < best_diff;
        if (closer) {
            best_u = u;
            u += 0.05;
            best_diff = d;
        }
        if (!closer || pass == 80) {
            fill_row(row, smy_s, rho, csd, best_u, next305);
            return;
        }
        v = fill_row(row, smy_s, rho, csd, u, next305);
    }
}

void progress(double value, bool print)
{
    if (print)
        std::printf(" %.0f%%", value);
    WRITE_MSG_FILE(MSG_BIO_PROBABILITIES_PROGRESS, value);
}

} // namespace

/* Cuts the classes below 0.0001 at both ends and spreads their mass over
** the rest.  A row with no class at or above the cut is left whole. */
void TRIM_TAILS(double* row, short& lo, short& hi)
{
    int first = 1;
    while (first <= 15 && row[first] < TAIL_CUT)
        first++;
    if (first > 15) {
        lo = 1;
        hi = 15;
        return;
    }
    int last = 15;
    while (last > first && row[last] < TAIL_CUT)
        last--;
    double cut = 0.0;
    for (int c = 1; c < first; c++)
        cut += row[c];
    for (int c = 15; c > last; c--)
        cut += row[c];
    for (int c = 1; c <= 15; c++)
        row[c] = (c < first || c > last) ? 0.0 : row[c] / (1.0 - cut);
    lo = static_cast<short>(first);
    hi = static_cast<short>(last);
}

void BIO_SMY()
{
    std::printf("\n BIO_SMY started ...");
    const double sd = bio->yield_sd;
    if (sd == 0.0) {
        bio->smy[8] = 100.0;
        std::printf("\n BIO_SMY done ...");
        return;
    }
    if (sd < 0.0) {
        std::printf("\n BIO_SMY done ...");
        return;
    }
    for (int c = 1; c <= 15; c++) {
        double z_lo = c == 1 ? -UNBOUNDED : (class_bound[c - 1] - 100.0) / sd;
        double z_hi = c == 15 ? UNBOUNDED : (class_bound[c] - 100.0) / sd;
        double p = NORMAL_CDF(z_hi) - NORMAL_CDF(z_lo);
        if (p > 1e-6)
            bio->smy[c] = 100.0 - (normal_density(z_hi) - normal_density(z_lo)) * sd / p;
    }
    std::printf("\n BIO_SMY done ...");
}

void PREDICT_305M()
{
    std::printf("\n PREDICT_305M started ...");
    for (int sea = 1; sea <= 12; sea++)
        for (int c = 1; c <= 15; c++)
            for (int l = 1; l <= 12; l++) {
                int t = sea;
                double sum = 0.0;
                for (int m = 1; m <= 10; m++) {
                    sum += bio->milkyield[c][l][m][0][t];
                    t = t == 12 ? 1 : t + 1;
                }
                bio->m305[c][l][sea] += sum;
            }
    std::printf("\n PREDICT_305M done ...");
}

void BIO_PROBABILITY()
{
    std::printf("\n BIO_PROBABILITY started ...");

    if (bio->yield_sd == 0.0) {
        /* No variation between cows: every cow stays in her class and a
        ** heifer enters the middle class. */
        bio->pnext[0][0][0][0][8] = 1.0;
        for (int l = 0; l <= 12; l++)
            for (int m = 0; m <= 24; m++)
                for (int k = 0; k <= 12; k++)
                    for (int s = 0; s <= 15; s++) {
                        bio->pnext[s][l][m][k][s] = 1.0;
                        bio->lo[s][l][m][k] = static_cast<short>(s);
                        bio->hi[s][l][m][k] = static_cast<short>(s);
                    }
        return;
    }

    const bool ci_adjust = bio->ci_adjust == SWITCH_ON;
    if (ci_adjust)
        PREDICT_305M();

    double next305[NCURR];
    for (int l = 0; l <= 12; l++) {
        for (int m = 0; m <= 24; m++) {
            for (int k = 0; k <= 12; k++) {
                /* a heifer's class depends on nothing; at calving the
                ** correlation is the one between lactations */
                double rho = l == 0 ? 0.0 : (k >= 1 ? bio->yield_corr : month_corr[m]);
                double csd = std::sqrt(1.0 - rho * rho) * bio->yield_sd;
                bool shifted = ci_adjust && (l == 1 || l == 2) && m >= 11 && k >= 1;
                if (shifted)
                    for (int c = 1; c <= 15; c++)
                        next305[c] = bio->m305[c][l + 1][k];

                for (int s = 1; s <= 15; s++) {
                    double* row = bio->pnext[s][l][m][k];
                    if (rho >= 0.9999 && l >= 1) {
                        for (int c = 1; c <= 15; c++)
                            row[c] = c == s ? 1.0 : 0.0;
                    } else if (shifted) {
                        fill_shifted_row(row, bio->smy[s], rho, csd, next305, ci_factor[m]);
                    } else {
                        fill_row(row, bio->smy[s], rho, csd, 0.0, nullptr);
                    }
                    TRIM_TAILS(row, bio->lo[s][l][m][k], bio->hi[s][l][m][k]);

                    if (l == 0 && m == 0 && s == 8)
                        for (int c = 1; c <= 15; c++)
                            bio->pnext[0][0][0][0][c] = row[c];

                    double sum = 0.0;
                    for (int c = 1; c <= 15; c++)
                        sum += row[c];
                    if (!(sum >= 0.999999999999 && sum <= 1.000000000001)) {
                        std::printf("\n BIO_PROBABILITY sumprob:%.12f != 1.000", sum);
                        REPEATED_STOP("BIO_PROBABILITY sumprob error");
                    }
                }
            }
            if ((m == 8 || m == 16) && l >= 1 && l <= 3)
                progress((l - 1) * 6 + m / 3, true);
        }
        if (l % 2 == 0 || l == 12)
            progress(l / 12.0 * 100.0, l == 0 || l > 3);
    }
    std::printf("\n BIO_PROBABILITY done ...");
}
