// Fuzz target: the policy file reader on arbitrary text.
#include "fuzz_support.h"

#include "dp/dp.h"
#include "core/records.h"
#include "core/runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_SETUP();
    if (pol == nullptr)
        INIT_POL_RECORD();
    RESET_POL_RECORD();
    FUZZ_WRITE_INPUT("fuzz.pol", data, size);
    polfile = "fuzz.pol";
    try {
        READ_POL_FILE();
    } catch (const RunEnded&) {
    }
    return 0;
}
