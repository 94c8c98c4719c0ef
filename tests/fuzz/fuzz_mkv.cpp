// Fuzz target: the stored-herd (MKV state) file reader on arbitrary text.
#include "fuzz_support.h"

#include "markov/markov.h"
#include "run/records.h"
#include "run/runlog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FUZZ_SETUP();
    if (bio == nullptr) {
        INIT_BIO_RECORD();
        bio->start_sea = 1;
        bio->maxlact = 12;
    }
    if (mkv == nullptr)
        INIT_MKV_RECORD();
    FUZZ_WRITE_INPUT("fuzz.mkv", data, size);
    mkvfile = "fuzz.mkv";
    try {
        READ_MKV_FILE();
    } catch (const RunEnded&) {
    }
    return 0;
}
