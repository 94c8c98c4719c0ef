/*
** warm_start.cpp -- warm.txt, the values a value iteration leaves for the
** next run to start from.
**
** WRITE_WARM_FILE saves one buffer of the fut record (empty-place value,
** the current empty-place value, the 25 cash slots and the value of every
** state a cow can be in); READ_WARM_FILE loads the file into buffer 2 when
** the fut record is reset at start-up, and the reset copies it into the
** buffer the iteration starts from.  Without interest the values are
** stored relative to the value of an empty place, which grows without
** bound as the iteration runs; with interest they are stored as they are.
**
** The file is written under a temporary name and renamed over warm.txt, so
** an interrupted run leaves either the old file or the new one, never half.
*/
#include <cstdio>
#include <memory>

#include "run/records.h"
#include "run/runlog.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"

namespace {

const char* const WARM_FILE = "warm.txt";
const char* const WARM_TEMP = "warm.txt.tmp";

/* States the file carries: open cows, and pregnant cows that conceived in
** month in milk 2..15. */
inline bool carried(int mim, int mpreg)
{
    return mpreg == 0 || (mim - mpreg >= 2 && mim - mpreg <= 15);
}

} // namespace

void WRITE_WARM_FILE(unsigned short buffer)
{
    std::printf("\n WRITE_WARM_FILE started ... warm.txt");
    if (buffer >= NBUF) {
        std::printf("\n WRITE_WARM_FILE: buffer %u error", buffer);
        STOP(1);
        return;
    }
    OutFile f(WARM_TEMP);
    if (!f.ok()) {
        std::printf("\n WRITE_WARM_FILE: warm.txt open failure");
        STOP(1);
        return;
    }
    std::FILE* fp = f.fp();
    const double base = (bio->interest <= 0.0 || fut->heifer_now >= 100000.0) ? fut->heifer_now : 0.0;
    std::fprintf(fp, "%f\n", fut->heifer[buffer] - base);
    std::fprintf(fp, "%f\n", fut->heifer_now - base);
    for (int i = 0; i < NSLOT; i++)
        std::fprintf(fp, "%f\n", fut->cash[i]);
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
                    if (carried(mim, mpreg))
                        std::fprintf(fp, "%f\n", fut->value[curr][lact][mim][mpreg][buffer] - base);
    if (!f.close() || std::rename(WARM_TEMP, WARM_FILE) != 0) {
        std::remove(WARM_TEMP);
        std::printf("\n WRITE_WARM_FILE: warm.txt write failure");
        STOP(1);
        END_RUN(1);
    }
    std::printf("\n WRITE_WARM_FILE done ...");
}

short READ_WARM_FILE()
{
    std::printf("\n READ_WARM_FILE started ...");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(WARM_FILE, "r"), std::fclose);
    if (!f) {
        std::printf("\n\a READ_WARM_FILE done ... warm.txt not read");
        return 0;
    }
    std::FILE* fp = f.get();
    /* A short file leaves the rest as the reset gave it. */
    bool more = std::fscanf(fp, "%lf\n", &fut->heifer[2]) == 1 &&
                std::fscanf(fp, "%lf\n", &fut->heifer_now) == 1;
    for (int i = 0; more && i < NSLOT; i++)
        more = std::fscanf(fp, "%lf\n", &fut->cash[i]) == 1;
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
                    if (more && carried(mim, mpreg))
                        more = std::fscanf(fp, "%lf\n", &fut->value[curr][lact][mim][mpreg][2]) == 1;
    f.reset();
    std::printf("\n READ_WARM_FILE done ... warm.txt read");
    return 1;
}
