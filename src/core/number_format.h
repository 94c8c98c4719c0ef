/*
** number_format.h -- printf's fixed-point conversions without stdio's
** per-call cost, for the writers of the large files.
**
** The pol, rpo and del files hold some ten million numbers; formatting them
** one printf call at a time was most of the time their writers took.  These
** routines write the same characters as printf would, ties and negative
** zero included: the golden files prove it byte for byte.
*/
#ifndef MORVENDA_CORE_NUMBER_FORMAT_H
#define MORVENDA_CORE_NUMBER_FORMAT_H

#include <cmath>

/* The fixed-width "%w.pf" conversion of printf, written at `out` (room for
** 400 characters; no terminating zero); returns the number of characters.
** Same text as printf, ties and negative zero included, only faster. */
int FORMAT_FIXED(char* out, double x, int width, int precision);

/* Values FORMAT_WHOLE takes: sizes below 2^53 (every double from there on
** is whole already, and a NaN fails the comparison). */
constexpr double FORMAT_WHOLE_LIMIT = 9007199254740992.0;

/* Pairs of decimal digits 00..99, for writing two digits at a time. */
inline constexpr char DIGIT_PAIRS[] = "00010203040506070809101112131415161718192021222324"
                                      "25262728293031323334353637383940414243444546474849"
                                      "50515253545556575859606162636465666768697071727374"
                                      "75767778798081828384858687888990919293949596979899";

/* "%w.0f" of a value of size below FORMAT_WHOLE_LIMIT, the case of most
** numbers in the large files, inline: the value rounded to the nearest
** whole number, half to even on its exact binary value as printf does; a
** value that rounds to zero keeps its sign ("-0"). */
inline int FORMAT_WHOLE(char* out, double x, int width)
{
    /* Adding and taking away 2^52 leaves a size below 2^52 rounded to a
    ** whole number, ties to even (the spacing of doubles there is 1);
    ** from 2^52 on a double is whole already. */
    constexpr double TWO_TO_52 = 4503599627370496.0;
    const double size = std::fabs(x);
    const double rounded = size < TWO_TO_52 ? (size + TWO_TO_52) - TWO_TO_52 : size;
    unsigned long long v = static_cast<unsigned long long>(rounded);
    int digits = 1;
    for (unsigned long long rest = v; rest >= 10; rest /= 10)
        digits++;
    const int sign = std::signbit(x) ? 1 : 0;
    const int pad = width > digits + sign ? width - digits - sign : 0;
    /* written in place, right to left: building the text elsewhere and
    ** copying it stalls on reading back bytes just stored */
    for (int i = 0; i < pad; i++)
        out[i] = ' ';
    if (sign)
        out[pad] = '-';
    char* end = out + pad + sign + digits;
    while (v >= 100) {
        const unsigned pair = static_cast<unsigned>(v % 100) * 2;
        v /= 100;
        *--end = DIGIT_PAIRS[pair + 1];
        *--end = DIGIT_PAIRS[pair];
    }
    if (v >= 10) {
        *--end = DIGIT_PAIRS[v * 2 + 1];
        *--end = DIGIT_PAIRS[v * 2];
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return pad + sign + digits;
}

#endif
