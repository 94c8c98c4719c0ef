/*
** bench_support.cpp -- the benchmarks' shared set-up.
*/
#include "bench_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bio/bio.h"
#include "core/records.h"

void enter_scratch_folder(const char* bench)
{
    std::string name = std::string("/tmp/morvenda-") + bench + "-XXXXXX";
    if (mkdtemp(name.data()) == nullptr || chdir(name.c_str()) != 0) {
        std::fprintf(stderr, "%s: no scratch folder\n", bench);
        std::exit(1);
    }
}

void load_example_herd(const char* file, const char* bench)
{
    INIT_BIO_RECORD();
    runname = std::string(MORVENDA_SOURCE_DIR) + "/examples/" + file;
    if (READ_BIO_FILE() != 0) {
        std::fprintf(stderr, "%s: cannot read %s\n", bench, runname.c_str());
        std::exit(1);
    }
    BIO_PROBABILITY();
    warmstart = 0;
    INIT_FUT_RECORD();
    INIT_POLICY_RECORDS();
}
