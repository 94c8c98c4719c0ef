/*
** sim_random.h -- the random numbers of the herd simulation.
**
** The simulation must give the same bytes for the same seed on any number
** of threads and with any standard library, so it draws every number from
** its own streams and never from <random>'s distributions (whose algorithms
** differ between library versions):
**
**   generator   xoshiro256** 1.0 (Blackman and Vigna), 64-bit output;
**   seeding     the four state words are the first four outputs of
**               SplitMix64 started at a value mixed from the seed, the
**               replicate and the stream's purpose, so every replicate has
**               streams of its own whatever thread runs it;
**   uniform     the top 53 bits of an output times 2^-53, in [0, 1);
**   normal      Box-Muller (cosine branch) of two uniforms.
*/
#ifndef MORVENDA_SIM_RANDOM_H
#define MORVENDA_SIM_RANDOM_H

#include <cmath>
#include <cstdint>

/* Purposes of a replicate's streams: the model's events, and the details
** of its records (dates, test-day measurement), kept apart so that asking
** for records changes no figure of the summary. */
constexpr std::uint64_t STREAM_EVENTS = 0;
constexpr std::uint64_t STREAM_RECORDS = 1;

class SimRandom {
public:
    SimRandom(std::uint64_t seed, std::uint64_t replicate, std::uint64_t purpose)
    {
        /* Odd multipliers spread replicate and purpose over the 64 bits
        ** before SplitMix64 mixes them (its own golden-ratio increment). */
        constexpr std::uint64_t REPLICATE_SPREAD = 0xD1B54A32D192ED03ull;
        constexpr std::uint64_t PURPOSE_SPREAD = 0x8CB92BA72F3D8DD7ull;
        std::uint64_t x = seed ^ (replicate * REPLICATE_SPREAD) ^ ((purpose + 1) * PURPOSE_SPREAD);
        for (std::uint64_t& word : s_)
            word = splitmix64(x);
    }

    std::uint64_t next()
    {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    /* Uniform in [0, 1). */
    double uniform()
    {
        constexpr double TWO_TO_MINUS_53 = 1.0 / 9007199254740992.0;
        return static_cast<double>(next() >> 11) * TWO_TO_MINUS_53;
    }

    /* Uniform whole number in lo..hi (hi - lo small: the bias of the
    ** multiply-shift is below 2^-50). */
    int between(int lo, int hi)
    {
        const std::uint64_t span = static_cast<std::uint64_t>(hi - lo + 1);
        return lo + static_cast<int>(static_cast<std::uint64_t>(uniform() * static_cast<double>(span)));
    }

    /* Standard normal by Box-Muller. */
    double normal()
    {
        constexpr double TWO_PI = 6.283185307179586476925;
        const double u1 = 1.0 - uniform(); /* (0, 1]: the logarithm is finite */
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(TWO_PI * u2);
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    static std::uint64_t splitmix64(std::uint64_t& x)
    {
        std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    std::uint64_t s_[4];
};

#endif
