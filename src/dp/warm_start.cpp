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
** The file is written through a temporary file and renamed over warm.txt,
** so an interrupted run leaves either the old file or the new one, never
** half.  Only a converged solve calls the writer, and it refuses values
** that are not finite: a failed run must not poison the next one.  For the
** same reason the reader sets aside a file holding a value that is not
** finite or larger than any herd's (a run then starts cold).
*/
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "dp/dp.h"
#include "run/output_file.h"
#include "run/records.h"
#include "run/runlog.h"

namespace {

const char* const WARM_FILE = "warm.txt";

/* No cow or herd place is worth this much in any currency; a stored value
** beyond it is not a herd's. */
constexpr double LARGEST_VALUE = 1e9;

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
    const double base = (bio->interest <= 0.0 || fut->heifer_now >= 100000.0) ? fut->heifer_now : 0.0;
    std::vector<double> values;
    values.reserve(27100);
    values.push_back(fut->heifer[buffer] - base);
    values.push_back(fut->heifer_now - base);
    for (int i = 0; i < NSLOT; i++)
        values.push_back(fut->cash[i]);
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
                    if (carried(mim, mpreg))
                        values.push_back(fut->value[curr][lact][mim][mpreg][buffer] - base);
    for (double v : values)
        if (!std::isfinite(v)) {
            /* The old file, if any, stays for the next run. */
            std::printf("\n WRITE_WARM_FILE: values that are not numbers, warm.txt not written");
            return;
        }

    OutputFile f;
    if (!f.open(WARM_FILE)) {
        std::printf("\n WRITE_WARM_FILE: warm.txt open failure (%s)", f.error().c_str());
        STOP(1);
        return;
    }
    char line[512];
    for (double v : values) {
        const int n = FORMAT_FIXED(line, v, 0, 6);
        line[n] = '\n';
        std::fwrite(line, 1, static_cast<std::size_t>(n) + 1, f.fp());
    }
    if (!f.commit()) {
        std::printf("\n WRITE_WARM_FILE: warm.txt write failure (%s)", f.error().c_str());
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
    /* Every number up to the first that cannot be read, at most as many
    ** as the file can carry. */
    std::size_t carried_count = 2 + NSLOT;
    for (int mim = 1; mim <= MAXMIM; mim++)
        for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
            if (carried(mim, mpreg))
                carried_count += MAXCURR * MAXLACT;
    std::vector<double> values;
    values.reserve(carried_count);
    double v;
    while (values.size() < carried_count && std::fscanf(f.get(), "%lf\n", &v) == 1)
        values.push_back(v);
    f.reset();
    for (double x : values)
        if (!std::isfinite(x) || std::fabs(x) > LARGEST_VALUE) {
            std::printf("\n\a READ_WARM_FILE: warm.txt holds values no herd can have, set aside: cold start");
            return 0;
        }

    /* A short file leaves the rest as the reset gave it. */
    std::size_t next = 0;
    auto take = [&](double& slot) {
        if (next < values.size())
            slot = values[next++];
    };
    take(fut->heifer[2]);
    take(fut->heifer_now);
    for (int i = 0; i < NSLOT; i++)
        take(fut->cash[i]);
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
                    if (carried(mim, mpreg))
                        take(fut->value[curr][lact][mim][mpreg][2]);
    std::printf("\n READ_WARM_FILE done ... warm.txt read");
    return 1;
}
