// Fuzz target: the warm-start file reader on arbitrary text.  A file it
// reads leaves only finite values within a herd's bounds in the record; a
// file it sets aside leaves the record as the reset made it.
#include "fuzz_support.h"

#include <cmath>
#include <cstdlib>

#include "dp/dp.h"
#include "core/records.h"

namespace {

/* The reader's bound on a stored value. */
constexpr double LARGEST_VALUE = 1e9;

bool loaded_values_bounded()
{
    auto ok = [](double v) { return std::isfinite(v) && std::fabs(v) <= LARGEST_VALUE; };
    if (!ok(fut->heifer[2]) || !ok(fut->heifer_now))
        return false;
    for (int i = 0; i < NSLOT; i++)
        if (!ok(fut->cash[i]))
            return false;
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++)
                for (int p = 0; p < NMPREG; p++)
                    if (!ok(fut->value[c][l][m][p][2]))
                        return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_SETUP();
    if (bio == nullptr)
        INIT_BIO_RECORD();
    warmstart = 0; /* the reset below must not read the file itself */
    if (fut == nullptr)
        INIT_FUT_RECORD();
    else
        RESET_FUT_RECORD();
    FUZZ_WRITE_INPUT("warm.txt", data, size);
    const short read = READ_WARM_FILE();
    if (read != 0 && read != 1)
        std::abort();
    if (!loaded_values_bounded())
        std::abort();
    if (read == 0 && (fut->heifer[2] != 0.0 || fut->heifer_now != 0.0 || fut->cash[0] != 0.0))
        std::abort(); /* set aside, yet loaded */
    return 0;
}
