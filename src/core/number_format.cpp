/*
** number_format.cpp -- the general fixed-point conversion.
**
** Whole values of moderate size are converted by integer arithmetic; a
** value that lies too close to a tie, a large one, and infinities and NaN
** go to the standard library, whose result is exact.
*/
#include "core/number_format.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

/* Whole values of up to this size, scaled by 10^precision, are converted
** by integer arithmetic; larger ones by std::to_chars. */
constexpr double FAST_LIMIT = 1e9;
/* A scaled value this close to a half is rounded on its exact decimal
** value by std::to_chars instead. */
constexpr double TIE_MARGIN = 1e-6;
constexpr double POWERS_OF_TEN[] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

/* Right-aligns the `n` characters of `text` in `width` (a few characters:
** plain loops beat the library calls). */
int place(char* out, const char* text, int n, int width)
{
    const int pad = width > n ? width - n : 0;
    for (int i = 0; i < pad; i++)
        out[i] = ' ';
    for (int i = 0; i < n; i++)
        out[pad + i] = text[i];
    return pad + n;
}

} // namespace

int FORMAT_FIXED(char* out, double x, int width, int precision)
{
    /* Infinities, NaN and huge values are rare: leave them to printf
    ** (at most some 330 characters for a double). */
    if (!std::isfinite(x) || std::fabs(x) >= 1e30 || precision < 0)
        return std::sprintf(out, "%*.*f", width, precision, x);
    char digits[64];
    if (precision == 0 && std::fabs(x) < FORMAT_WHOLE_LIMIT)
        return FORMAT_WHOLE(out, x, width);
    if (precision < 10) {
        /* The scaled value rounded to a whole number, half to even as
        ** printf does; the sign stays even where the value rounds to 0. */
        const double y = std::fabs(x) * POWERS_OF_TEN[precision];
        const double whole = std::floor(y);
        const double frac = y - whole;
        if (y < FAST_LIMIT && std::fabs(frac - 0.5) >= TIE_MARGIN) {
            unsigned long long v = static_cast<unsigned long long>(whole) + (frac > 0.5 ? 1 : 0);
            char rev[32];
            int k = 0;
            for (int d = 0; d < precision; d++) {
                rev[k++] = static_cast<char>('0' + v % 10);
                v /= 10;
            }
            if (precision > 0)
                rev[k++] = '.';
            do {
                rev[k++] = static_cast<char>('0' + v % 10);
                v /= 10;
            } while (v != 0);
            int n = 0;
            if (std::signbit(x))
                digits[n++] = '-';
            while (k > 0)
                digits[n++] = rev[--k];
            return place(out, digits, n, width);
        }
    }
    auto res = std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed, precision);
    return place(out, digits, static_cast<int>(res.ptr - digits), width);
}
