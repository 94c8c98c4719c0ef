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
** finite or larger than any herd's, or text that is not a number (a run
** then starts cold).  It reads only a regular file of bounded size, so a
** pipe or a device under the name cannot hang the run or fill the memory.
** A warm.txt that cannot be written fails the run, as every other output
** does.
*/
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dp/dp.h"
#include "core/input_file.h"
#include "core/number_format.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

const char* const WARM_FILE = "warm.txt";

/* No cow or herd place is worth this much in any currency; a stored value
** beyond it is not a herd's. */
constexpr double LARGEST_VALUE = 1e9;
/* The file holds some 27,000 lines of at most 18 characters: half a
** megabyte.  Nothing four times as large is a warm file. */
constexpr std::size_t LARGEST_WARM_FILE = 2u << 20;

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
        FAIL_RUN("WRITE_WARM_FILE", "warm.txt open failure (%s)", f.error().c_str());
    }
    char line[512];
    for (double v : values) {
        const int n = FORMAT_FIXED(line, v, 0, 6);
        line[n] = '\n';
        std::fwrite(line, 1, static_cast<std::size_t>(n) + 1, f.fp());
    }
    if (!f.commit()) {
        FAIL_RUN("WRITE_WARM_FILE", "warm.txt write failure (%s)", f.error().c_str());
    }
    std::printf("\n WRITE_WARM_FILE done ...");
}

namespace {

/* A warm.txt that cannot be used: the run starts cold. */
short set_aside(const std::string& why)
{
    std::printf("\n\a READ_WARM_FILE: warm.txt %s, set aside: cold start", why.c_str());
    return 0;
}

bool blank_char(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n';
}

} // namespace

short READ_WARM_FILE()
{
    std::printf("\n READ_WARM_FILE started ...");
    std::string text, why;
    const InputRead got = READ_INPUT_FILE(WARM_FILE, LARGEST_WARM_FILE, text, why);
    if (got == InputRead::not_opened) {
        std::printf("\n\a READ_WARM_FILE done ... warm.txt not read");
        return 0;
    }
    if (got == InputRead::refused)
        return set_aside(why);
    /* Every number the file can carry, one a line; a short file is taken
    ** as far as it goes, anything else that is not a number is no warm
    ** file. */
    std::size_t carried_count = 2 + NSLOT;
    for (int mim = 1; mim <= MAXMIM; mim++)
        for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++)
            if (carried(mim, mpreg))
                carried_count += MAXCURR * MAXLACT;
    std::vector<double> values;
    values.reserve(carried_count);
    const char* pos = text.c_str();
    const char* const end = pos + text.size();
    int line = 1;
    for (;;) {
        while (pos < end && blank_char(*pos))
            line += *pos++ == '\n' ? 1 : 0;
        if (pos == end)
            break;
        if (values.size() == carried_count)
            return set_aside("holds more than " + std::to_string(carried_count) + " values (line " +
                             std::to_string(line) + ")");
        char* after;
        const double v = std::strtod(pos, &after);
        if (after == pos || (after < end && !blank_char(*after)))
            return set_aside("line " + std::to_string(line) + " is not a number");
        values.push_back(v);
        pos = after;
    }
    if (values.empty())
        return set_aside("holds no values");
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
