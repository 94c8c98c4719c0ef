/*
** mkv_file.cpp -- the MKV state file: the stored herd between runs.
**
** The file holds slot 2 of the mkv record in three sections:
**
**   "%d %d %d"                       header: header1, next calendar month, header3
**   "curr lact mim mpreg p pfs pdelay"  one line per cow state with mass
**   "99"                             end of the cow states
**   "age mpreg p"                    one line per young-stock class with mass
**
** The reader takes the file line by line and checks every field: a line
** with an index outside the records or a mass that is not a number in 0..1
** is reported (the first few one by one, one pause for all of them), and
** so is a file that ends before the "99" line.  A damaged stored herd ends
** the run: projected from what was left of it, the herd would be smaller
** than the farm's and every figure of the report wrong.  The run checks
** the file (MKV_FILE_IS_WHOLE) before it writes its policy files, so that a
** damaged herd fails the run before any file is replaced.  A missing file
** is not an error: the herd starts empty and the file is created.  The writer writes a new file beside the old one
** and renames it over it (core/output_file.h), so the stored herd, which is
** the next run's input, is never left half written; a herd that could not
** be stored ends the run.
*/
#include "markov/markov.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/input_file.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

/* Next line of the file without its line end; false at the end of the file. */
bool read_line(std::FILE* f, std::string& line)
{
    line.clear();
    int ch;
    bool any = false;
    while ((ch = std::fgetc(f)) != EOF) {
        any = true;
        if (ch == '\n')
            return true;
        line.push_back(static_cast<char>(ch));
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

bool blank(const std::string& line)
{
    for (char ch : line)
        if (ch != ' ' && ch != '\t' && ch != '\r')
            return false;
    return true;
}

/* Reads whitespace-separated fields from one line. */
struct Fields {
    const char* pos;

    bool integer(long& value)
    {
        char* end;
        errno = 0;
        value = std::strtol(pos, &end, 10);
        if (end == pos || errno == ERANGE)
            return false;
        pos = end;
        return true;
    }
    bool number(double& value)
    {
        char* end;
        value = std::strtod(pos, &end);
        if (end == pos)
            return false;
        pos = end;
        return true;
    }
    bool at_end() const
    {
        for (const char* s = pos; *s; s++)
            if (*s != ' ' && *s != '\t' && *s != '\r')
                return false;
        return true;
    }
};

/* A stored herd is at most some 3 MB; nothing larger is one. */
constexpr std::size_t LARGEST_MKV_FILE = 16u << 20;
/* Lines left out that are reported one by one; the rest are counted. */
constexpr int REPORTED_LINES = 10;

/* Lines of the current read left out. */
int bad_lines = 0;
/* The current read met the end of the file inside the cow states. */
bool ended_early = false;
/* The current read only checks the file: it says and stores nothing. */
bool checking = false;

/* A share of a herd place: a number in 0..1. */
bool is_probability(double value)
{
    return std::isfinite(value) && value >= 0.0 && value <= 1.0;
}

/* A line that is left out: reported while few, counted always; the reader
** pauses once for all of them. */
bool report_bad_line()
{
    return ++bad_lines <= REPORTED_LINES && !checking;
}

void bad_line(int lineno, const char* what)
{
    if (report_bad_line())
        std::printf("\n READ_MKV_FILE: %s line %d: %s", mkvfile.c_str(), lineno, what);
}

/* The file ended before the "99" line that ends the cow states: the
** herd is not whole. */
bool early_end(int lineno)
{
    if (!checking)
        std::printf("\n error EOF: %s ends at line %d, before the line 99 that ends the cow states",
                mkvfile.c_str(), lineno);
    ended_early = true;
    return false;
}

/* The header line; unreadable, it gives the values of a new file.  False
** when the file is empty. */
bool read_header(std::FILE* f, int& lineno)
{
    std::string line;
    long h1 = 0, hs = 0, h3 = 0;
    lineno++;
    if (!read_line(f, line))
        return early_end(lineno);
    Fields in{line.c_str()};
    if (!in.integer(h1) || !in.integer(hs) || !in.integer(h3) || !in.at_end()) {
        bad_line(lineno, "header is not three whole numbers");
        h1 = 1;
        hs = bio->start_sea;
        h3 = 0;
    }
    if (checking)
        return true;
    mkv->header1 = static_cast<short>(h1);
    mkv->header_sea = static_cast<short>(hs);
    mkv->header3 = static_cast<short>(h3);
    return true;
}

/* Cow states up to the "99" line; false when the file ended before it. */
bool read_cows(std::FILE* f, int& lineno)
{
    std::string line;
    for (;;) {
        lineno++;
        if (!read_line(f, line))
            return early_end(lineno);
        if (blank(line))
            continue;
        Fields in{line.c_str()};
        long curr, lact, mim, mpreg;
        double p, pfs, pdelay;
        if (!in.integer(curr)) {
            bad_line(lineno, "not a cow state");
            continue;
        }
        if (curr == 99)
            return true;
        if (!in.integer(lact) || !in.integer(mim) || !in.integer(mpreg) || !in.number(p) ||
            !in.number(pfs) || !in.number(pdelay) || !in.at_end()) {
            bad_line(lineno, "not a cow state");
            continue;
        }
        if (curr < 0 || curr > MAXCURR || lact < 0 || lact > MAXLACT || mim < 0 || mim > MAXMIM ||
            mpreg < 0 || mpreg > MAXMPREG) {
            if (report_bad_line())
                std::printf("\n curr:%d lact:%d mim:%d mpreg:%d: %s line %d: a cow state outside the records",
                            static_cast<unsigned short>(curr), static_cast<unsigned short>(lact),
                            static_cast<unsigned short>(mim), static_cast<unsigned short>(mpreg),
                            mkvfile.c_str(), lineno);
            continue;
        }
        if (!is_probability(p) || (mpreg == 0 && (!is_probability(pfs) || !is_probability(pdelay)))) {
            bad_line(lineno, "probability is not a number in 0..1");
            continue;
        }
        if (checking)
            continue;
        mkv->pstate[curr][lact][mim][mpreg][2] = p;
        if (mpreg == 0) {
            mkv->pfs[curr][lact][mim][2] = pfs;
            mkv->pdelay[curr][lact][mim][2] = pdelay;
        }
    }
}

/* Young-stock lines to the end of the file. */
void read_young_stock(std::FILE* f, int& lineno)
{
    std::string line;
    for (;;) {
        lineno++;
        if (!read_line(f, line))
            return;
        if (blank(line))
            continue;
        Fields in{line.c_str()};
        long age, mpreg;
        double p;
        if (!in.integer(age) || !in.integer(mpreg) || !in.number(p) || !in.at_end()) {
            bad_line(lineno, "not a young-stock class");
            continue;
        }
        if (age < 0 || age > NAGE - 1 || mpreg < 0 || mpreg > MAXMPREG) {
            if (report_bad_line())
                std::printf("\n age:%d mpreg:%d: %s line %d: a young-stock class outside the records",
                            static_cast<unsigned short>(age), static_cast<unsigned short>(mpreg),
                            mkvfile.c_str(), lineno);
            continue;
        }
        if (!is_probability(p)) {
            bad_line(lineno, "probability is not a number in 0..1");
            continue;
        }
        if (!checking)
            mkv->pheifer[age][mpreg][2] = p;
    }
}

/* False when a mass of the stored slot is infinite or not a number: such a
** herd is no input for the next run. */
bool herd_is_finite()
{
    for (int c = 0; c < NCURR; c++)
        for (int l = 0; l < NLACT; l++)
            for (int m = 0; m < NMIM; m++) {
                if (!std::isfinite(mkv->pfs[c][l][m][2]) || !std::isfinite(mkv->pdelay[c][l][m][2]))
                    return false;
                for (int p = 0; p < NMPREG; p++)
                    if (!std::isfinite(mkv->pstate[c][l][m][p][2]))
                        return false;
            }
    for (int a = 0; a < NAGE; a++)
        for (int p = 0; p < NMPREG; p++)
            if (!std::isfinite(mkv->pheifer[a][p][2]))
                return false;
    return true;
}

/* The herd could not be stored: the old file stays as it was, and a run
** whose herd was not saved has not completed. */
[[noreturn]] void write_failed(const char* what, const OutputFile& f)
{
    FAIL_RUN("WRITE_MKV_FILE", "%s %s (%s)", mkvfile.c_str(), what, f.error().c_str());
}

} // namespace

void READ_MKV_FILE()
{
    std::printf("\n READ_MKV_FILE started ... %s", mkvfile.c_str());
    std::string text, why;
    const InputRead got = READ_INPUT_FILE(mkvfile, LARGEST_MKV_FILE, text, why);
    if (got == InputRead::refused) {
        FAIL_RUN("READ_MKV_FILE", "%s: %s", mkvfile.c_str(), why.c_str());
    }
    File f(got == InputRead::read && !text.empty() ? fmemopen(text.data(), text.size(), "r")
                                                   : got == InputRead::read ? std::tmpfile() : nullptr);
    if (!f) {
        std::printf("\n READ_MKV_FILE: %s open failure: start with empty file", mkvfile.c_str());
        std::printf("\a\a");
        WRITE_MSG_FILE(MSG_NO_MKV_FILE);
        RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
        mkv->header1 = 1;
        mkv->header_sea = bio->start_sea;
        mkv->header3 = 0;
        /* No run has ended yet: the stored herd is for the starting month. */
        mkv->sea_next = bio->start_sea;
        WRITE_MKV_FILE();
        std::printf("\n READ_MKV_FILE done ...");
        return;
    }

    RESET_MKV_RECORD(RESET_ALL_SLOTS, MAXT);
    WRITE_MSG_FILE(MSG_READING_MKV);
    int lineno = 0;
    bad_lines = 0;
    ended_early = false;
    if (read_header(f.get(), lineno) && read_cows(f.get(), lineno))
        read_young_stock(f.get(), lineno);
    f.reset();
    if (bad_lines > 0 || ended_early) {
        if (bad_lines > REPORTED_LINES)
            std::printf("\n READ_MKV_FILE: %s: %d more lines left out", mkvfile.c_str(),
                        bad_lines - REPORTED_LINES);
        FAIL_RUN("READ_MKV_FILE", "%s is damaged: the run ends", mkvfile.c_str());
    }
    std::printf("\n READ_MKV_FILE done ...");
}

bool MKV_FILE_IS_WHOLE()
{
    std::string text, why;
    const InputRead got = READ_INPUT_FILE(mkvfile, LARGEST_MKV_FILE, text, why);
    if (got == InputRead::not_opened)
        return true; /* a new herd: the file will be made */
    if (got == InputRead::refused || text.empty())
        return false;
    File f(fmemopen(text.data(), text.size(), "r"));
    if (!f)
        return true; /* the reader will say */
    int lineno = 0;
    bad_lines = 0;
    ended_early = false;
    checking = true;
    if (read_header(f.get(), lineno) && read_cows(f.get(), lineno))
        read_young_stock(f.get(), lineno);
    checking = false;
    return bad_lines == 0 && !ended_early;
}

void WRITE_MKV_FILE()
{
    std::printf("\n WRITE_MKV_FILE started ... %s", mkvfile.c_str());
    if (!herd_is_finite()) {
        FAIL_RUN("WRITE_MKV_FILE", "%s not written: the herd holds values that are not numbers", mkvfile.c_str());
    }
    OutputFile f;
    if (!f.open(mkvfile))
        write_failed("open failure", f);
    std::FILE* out = f.fp();

    bool ok = std::fprintf(out, "%d %d %d\n", mkv->header1, mkv->sea_next, mkv->header3) > 0;
    double cows = 0.0;
    for (int c = 1; c <= MAXCURR && ok; c++)
        for (int l = 1; l <= MAXLACT && ok; l++)
            for (int m = 1; m <= MAXMIM && ok; m++)
                for (int p = 0; p <= MAXMPREG && ok; p++) {
                    const double mass = mkv->pstate[c][l][m][p][2];
                    if (!(mass > 0.0))
                        continue;
                    const double pfs = p == 0 ? mkv->pfs[c][l][m][2] : 0.0;
                    const double pdelay = p == 0 ? mkv->pdelay[c][l][m][2] : 0.0;
                    ok = std::fprintf(out, "%d %d %d %d %.15f ", c, l, m, p, mass) > 0;
                    if (ok)
                        ok = (pfs > 0.0 ? std::fprintf(out, "%.15f ", pfs)
                                        : std::fprintf(out, "0.0 ")) > 0;
                    if (ok)
                        ok = (pdelay > 0.0 ? std::fprintf(out, "%.15f\n", pdelay)
                                           : std::fprintf(out, "0.0\n")) > 0;
                    cows += mass;
                }
    if (ok)
        ok = std::fprintf(out, "99\n") > 0;
    for (int a = 0; a < NAGE && ok; a++)
        for (int p = 0; p <= MAXMPREG && ok; p++)
            if (mkv->pheifer[a][p][2] > 0.0)
                ok = std::fprintf(out, "%d %d %.15f\n", a, p, mkv->pheifer[a][p][2]) > 0;

    if (!ok || !f.commit())
        write_failed("write error", f);

    std::printf("\n WRITE_MKV_FILE done ... cows:%.5f ", cows);
}
