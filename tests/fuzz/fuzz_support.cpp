/*
** fuzz_support.cpp -- working directory and console set-up for the fuzz
** targets.
*/
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

void FUZZ_SETUP()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    char tmpl[] = "/tmp/morvenda-fuzz-XXXXXX";
    if (mkdtemp(tmpl) == nullptr || chdir(tmpl) != 0)
        std::abort();
    if (std::freopen("/dev/null", "r", stdin) == nullptr)
        std::fclose(stdin);
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
}

void FUZZ_WRITE_INPUT(const std::string& name, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}
