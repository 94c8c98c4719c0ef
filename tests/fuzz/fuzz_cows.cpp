// Fuzz target: the cow list reader on arbitrary text.  Besides never
// crashing, every row it keeps is either marked bad with its column or
// holds facts within a cow's bounds, which the mapping relies on.
#include "fuzz_support.h"

#include <cstdlib>
#include <string>

#include "cows/cow_list.h"

namespace {

constexpr int MARCH = 3;

bool facts_are_a_cows(const CowFacts& f)
{
    const bool yield = (!f.has_rel_yield || (f.rel_yield >= 0.0 && f.rel_yield <= 1000.0)) &&
                       (!f.has_milk || (f.milk >= 0.0 && f.milk <= 500.0));
    return f.lact >= 1 && f.dim >= 0.0 && f.dcc >= 0.0 && f.dcc <= f.dim && f.sea >= 1 && f.sea <= 12 && yield;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_SETUP();
    FUZZ_WRITE_INPUT("cows.csv", data, size);
    CowList list;
    std::string error;
    if (!READ_COW_LIST("cows.csv", {}, MARCH, list, error)) {
        if (error.rfind("cows.csv: ", 0) != 0)
            std::abort(); /* a whole-list error names the file */
        return 0;
    }
    for (const CowRow& row : list.rows) {
        if (!row.error.empty() && *row.error_column == '\0')
            std::abort(); /* a bad row names its column */
        if (row.error.empty() && !facts_are_a_cows(row.facts))
            std::abort(); /* a good row the mapping cannot take */
    }
    return 0;
}
