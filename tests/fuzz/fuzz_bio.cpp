// Fuzz target: the bio file reader on arbitrary text.
#include "fuzz_support.h"

#include "bio/bio.h"
#include "run/records.h"
#include "run/runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_SETUP();
    if (bio == nullptr)
        INIT_BIO_RECORD();
    FUZZ_WRITE_INPUT("fuzz.bio", data, size);
    runname = "fuzz.bio";
    try {
        if (READ_BIO_FILE() == 0)
            BIO_PROBABILITY();
    } catch (const RunEnded&) {
    }
    return 0;
}
