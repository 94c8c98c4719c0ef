/*
** numeric.cpp -- the normal distribution function, the guarded power and
** the month fold.
*/
#include "core/numeric.h"

#include <cmath>
#include <cstdio>

#include "core/runlog.h"

double NORMAL_CDF(double x)
{
    if (x > 12.7)
        return 1.0;
    if (x < -12.7)
        return 0.0;

    /* Hill's algorithm AS 66: the upper tail of |x|, by a series near the
    ** mean and by a continued fraction in the tail. */
    const double z = std::fabs(x);
    const double y = x * x / 2.0;
    double upper;
    if (z > 1.28) {
        upper = 0.398942280385 * std::exp(-y) /
                (z - 3.8052e-8 + 1.00000615302 /
                 (z + 3.98064794e-4 + 1.98615381364 /
                  (z - 0.151679116635 + 5.29330324926 /
                   (z + 4.8385912808 - 15.1508972451 /
                    (z + 0.742380924027 + 30.789933034 /
                     (z + 3.99019417011))))));
    } else {
        upper = 0.5 - z * (0.398942280444 - 0.399903438504 * y /
                           (y + 5.75885480458 - 29.8213557808 /
                            (y + 2.62433121679 + 48.6959930692 /
                             (y + 5.92885724438))));
    }
    return x > 0 ? 1.0 - upper : upper;
}

double POW_(double xx, double yy)
{
    double result = std::pow(xx, yy);
    if ((result < -1e50 || result > 1e50) && xx > 0)
        result = std::exp(yy * std::log(xx));
    if (result < -1e50 || result > 1e50 || xx > 1e50 || yy > 1e50) {
        std::printf("\n POW_ xx:%.5f  yy:%.5f", xx, yy);
        std::printf("\n     result:%.5f", result);
        std::printf("\n exp result:%.5f", std::exp(yy * std::log(xx)));
        std::printf("\n pow result:%.5f", std::pow(xx, yy));
        FAIL_RUN(nullptr, "\n log(xx):%.3f yy * log(xx):%.3f exp(yy * log(xx)):%.3f", std::log(xx),
                 yy * std::log(xx), std::exp(yy * std::log(xx)));
    }
    return result;
}

double DISCOUNT(double x, double a)
{
    return 1.0 / POW_(1.0 + x, a);
}

short MONTH_WRAP(short m)
{
    while (m <= 0)
        m += 12;
    while (m > 12)
        m -= 12;
    return m;
}

const char* const MONTH_NAMES[13] = {"",    "JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                     "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

int MONTH_OF_NAME(const std::string& name)
{
    for (int s = 1; s <= 12; s++)
        if (name == MONTH_NAMES[s])
            return s;
    return 0;
}
