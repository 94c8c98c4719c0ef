/*
** check.cpp -- `morvenda check HERD.bio`: read a bio file and stop.
**
** The reader prints every fault it finds with the file, the item and the
** token; this mode runs the reader alone (no solve, no output files other
** than msg.txt) so that a bio file can be validated with exactly the rules
** of a run.  Exit status 0 when the file was read, 1 when it was not.
*/
#include <cstdio>

#include "bio/bio.h"
#include "run/records.h"
#include "run/runlog.h"
#include "serve/serve.h"

int check_command(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: morvenda check HERD.bio\n");
        return 2;
    }
    runname = argv[1];
    int status = 0;
    try {
        INIT_BIO_RECORD();
        if (READ_BIO_FILE() != 0)
            status = 1;
    } catch (const RunEnded& ended) {
        status = ended.status == 0 ? 1 : ended.status;
    }
    std::printf("\n check: %s %s\n", argv[1], status == 0 ? "read" : "not read");
    std::fflush(stdout);
    return status;
}
