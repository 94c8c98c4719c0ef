// Fuzz target: the stored-herd (MKV state) file reader on arbitrary text.
// A reader that reports an error (its pause writes the STOP message to
// msg.txt) must end the run; one that reports and then returns, so that
// the herd is projected from what was left of the file, is a failure.
#include "fuzz_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "markov/markov.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

std::string progress_message()
{
    std::ifstream in("msg.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

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
    WRITE_MSG_FILE(MSG_INIT_STARTED);
    try {
        READ_MKV_FILE();
    } catch (const RunEnded&) {
        return 0;
    }
    if (progress_message() == MSG_TEXT(MSG_STOP, 0.0))
        std::abort(); /* an error was reported and the run went on */
    return 0;
}
