/*
** out_file.cpp -- the output-file holder and the fast fixed-point
** conversion shared by the pol, rpo, del and warm files.
**
** The rpo and del files run to some twenty million characters each, so
** their numbers are converted with std::to_chars, which gives the same
** digits as printf's "%.Nf" (exact decimal value, rounded half to even),
** (whole numbers by a plain integer conversion after rounding half to
** even), and written through a one-megabyte stdio buffer.
*/
#include <charconv>
#include <cmath>
#include <cstring>

#include "dp/dp_internal.h"

namespace {

constexpr std::size_t WRITE_BUFFER = 1 << 20;

} // namespace

OutFile::OutFile(const std::string& name) : fp_(std::fopen(name.c_str(), "w"))
{
    if (fp_ != nullptr) {
        buffer_.resize(WRITE_BUFFER);
        std::setvbuf(fp_, buffer_.data(), _IOFBF, buffer_.size());
    }
}

OutFile::~OutFile()
{
    close();
}

bool OutFile::close()
{
    if (fp_ == nullptr)
        return false;
    const bool written = std::ferror(fp_) == 0;
    const bool closed = std::fclose(fp_) == 0;
    fp_ = nullptr;
    return written && closed;
}

int FORMAT_FIXED(char* out, double x, int width, int precision)
{
    /* Infinities, NaN and huge values are rare: leave them to printf
    ** (at most some 330 characters for a double). */
    if (!std::isfinite(x) || std::fabs(x) >= 1e30)
        return std::sprintf(out, "%*.*f", width, precision, x);
    char digits[64];
    if (precision == 0 && std::fabs(x) < 1e15) {
        /* Whole numbers: round to nearest, half to even, as printf does
        ** (keeping the sign of a negative value that rounds to 0). */
        const double r = std::nearbyint(x);
        unsigned long long v = static_cast<unsigned long long>(std::fabs(r));
        char rev[24];
        int k = 0;
        do {
            rev[k++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        int n = 0;
        if (std::signbit(r))
            digits[n++] = '-';
        while (k > 0)
            digits[n++] = rev[--k];
        const int pad = width > n ? width - n : 0;
        std::memset(out, ' ', static_cast<std::size_t>(pad));
        std::memcpy(out + pad, digits, static_cast<std::size_t>(n));
        return pad + n;
    }
    auto res = std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed, precision);
    const int n = static_cast<int>(res.ptr - digits);
    const int pad = width > n ? width - n : 0;
    std::memset(out, ' ', static_cast<std::size_t>(pad));
    std::memcpy(out + pad, digits, static_cast<std::size_t>(n));
    return pad + n;
}
