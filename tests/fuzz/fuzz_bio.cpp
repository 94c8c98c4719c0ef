// Fuzz target: the bio file reader on arbitrary text, and the item
// table's check and edits of `morvenda check --json` and `morvenda set`.
#include "fuzz_support.h"

#include <string>

#include "bio/bio.h"
#include "bio/bio_edit.h"
#include "bio/bio_items.h"
#include "core/records.h"
#include "core/runlog.h"

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
    const std::string text(reinterpret_cast<const char*>(data), size);
    bio_faults(text);
    for (const char* words : {"milk_price*=0.85", "conception.5.JUL=0.3", "notes.13=n"}) {
        BioChange change;
        std::string edited = text;
        if (parse_bio_change(words, change).empty())
            apply_bio_changes(edited, {change});
    }
    return 0;
}
