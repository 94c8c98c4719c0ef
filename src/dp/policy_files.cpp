/*
** policy_files.cpp -- the pol, rpo and del files of a run.
**
** The pol file carries the decisions (and can be read back instead of
** solving the dynamic program), the rpo file the retention pay-offs,
** pregnancy values, sale values and daily milk per state, the del file the
** losses from putting conception off.  The file names come from the bio
** file; the run driver calls these routines once the policy is in place.
**
** A file that cannot be opened or fully written ends the run: a half-written
** policy must never pass for a whole one.  The pol reader stores only
** inside the pol record and ends the run on a line it cannot take.
*/
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "run/records.h"
#include "run/runlog.h"
#include "dp/dp.h"
#include "dp/dp_internal.h"

namespace {

/* Ends the run after a failed write of `file`. */
void write_failed(const char* routine, const std::string& file)
{
    std::printf("\n %s: %s write failure", routine, file.c_str());
    STOP(1);
    END_RUN(1);
}

/* "%2d" of a small index. */
inline int put2(char* out, int v)
{
    if (v >= 0 && v <= 99) {
        out[0] = v >= 10 ? static_cast<char>('0' + v / 10) : ' ';
        out[1] = static_cast<char>('0' + v % 10);
        return 2;
    }
    return std::sprintf(out, "%2d", v);
}

/* " %4.0f" of a value. */
inline int put_value(char* out, double x)
{
    out[0] = ' ';
    return 1 + FORMAT_FIXED(out + 1, x, 4, 0);
}

/* The five index columns "%2d %2d %2d %2d %2d". */
int put_position(char* out, int a, int b, int c, int d, int e)
{
    int n = put2(out, a);
    out[n++] = ' ';
    n += put2(out + n, b);
    out[n++] = ' ';
    n += put2(out + n, c);
    out[n++] = ' ';
    n += put2(out + n, d);
    out[n++] = ' ';
    n += put2(out + n, e);
    return n;
}

bool in_range(int v, int last)
{
    return v >= 0 && v <= last;
}

/* Ends the run on a pol file line that cannot be taken. */
[[noreturn]] void pol_line_error(int line, const char* what)
{
    std::printf("\n READ_POL_FILE: %s line %d: %s", polfile.c_str(), line, what);
    STOP(1);
    END_RUN(1);
}

/* Reads one " %d" value of a pol file line. */
short read_decision(std::FILE* fp, int line)
{
    int v;
    const int got = std::fscanf(fp, " %d", &v);
    if (got != 1)
        pol_line_error(line, got == EOF || std::feof(fp) ? "file ends early" : "not a number");
    if (v < -32768 || v > 32767)
        pol_line_error(line, "decision out of range");
    return static_cast<short>(v);
}

} // namespace

void WRITE_POL_FILE()
{
    std::printf("\n WRITE_POL_FILE started ...");
    OutFile f(polfile);
    if (!f.ok()) {
        std::printf("\n WRITE_POL_FILE: %s open failure", polfile.c_str());
        STOP(1);
        END_RUN(1);
    }
    std::FILE* fp = f.fp();
    for (int t = 1; t <= 24; t++)
        std::fprintf(fp, " %d", pol->enter[t]);
    for (int t = 1; t <= 24; t++) {
        for (int curr = 1; curr <= MAXCURR; curr++)
            for (int lact = 1; lact <= MAXLACT; lact++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                    std::fprintf(fp, "\n%2d %2d %2d %2d", t, curr, lact, mpreg);
                    for (int mim = 1; mim <= MAXMIM; mim++)
                        std::fprintf(fp, " %d", pol->decision[curr][lact][mim][mpreg][t]);
                }
        if (t == 1 || t % 2 == 0)
            std::printf(" %.0f%%", t / 24.0 * 100.0);
    }
    if (!f.close())
        write_failed("WRITE_POL_FILE", polfile);
    std::printf("\n WRITE_POL_FILE done ...");
}

void READ_POL_FILE()
{
    std::printf("\n READ_POL_FILE started ... %s", polfile.c_str());
    std::FILE* raw = std::fopen(polfile.c_str(), "r");
    if (raw == nullptr) {
        std::printf("\n READ_POL_FILE: %s open failure", polfile.c_str());
        STOP(1);
        END_RUN(1);
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> holder(raw, std::fclose);
    std::FILE* fp = holder.get();

    int line = 1;
    for (int t = 1; t <= 24; t++)
        pol->enter[t] = read_decision(fp, line);

    /* Each line names its own position; the count goes on from there. */
    for (int t = 1; t <= 24; t++) {
        for (int curr = 1; curr <= MAXCURR; curr++)
            for (int lact = 1; lact <= MAXLACT; lact++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                    line++;
                    int pt, pc, pl, pm;
                    const int got = std::fscanf(fp, "\n%d %d %d %d", &pt, &pc, &pl, &pm);
                    if (got != 4)
                        pol_line_error(line, got == EOF || std::feof(fp) ? "file ends early" : "not a number");
                    if (!in_range(pt, 24) || !in_range(pc, MAXCURR) || !in_range(pl, MAXLACT) ||
                        !in_range(pm, MAXMPREG))
                        pol_line_error(line, "position outside the records");
                    t = pt;
                    curr = pc;
                    lact = pl;
                    mpreg = pm;
                    for (int mim = 1; mim <= MAXMIM; mim++)
                        pol->decision[curr][lact][mim][mpreg][t] = read_decision(fp, line);
                }
        const double pct = t / 24.0 * 100.0;
        std::printf(" %.0f%%", pct);
        WRITE_MSG_FILE(MSG_READING_POL, pct);
    }
    std::printf("\n READ_POL_FILE done ...");
}

namespace {

/* The rpo and del files list the first-year slots 1..12 in turn, while
** the records keep the slots of a state side by side.  Each writer fills
** the texts of the twelve slots in one pass through its record and then
** writes them slot by slot with the progress of `code`. */
std::vector<std::string> slot_texts()
{
    std::vector<std::string> texts(13);
    for (auto& text : texts)
        text.reserve(2u << 20);
    return texts;
}

void write_slot_texts(OutFile& f, const std::vector<std::string>& texts, unsigned code,
                      const char* routine, const std::string& name)
{
    for (int t = 1; t <= 12; t++) {
        std::fwrite(texts[t].data(), 1, texts[t].size(), f.fp());
        const double pct = t / 12.0 * 100.0;
        std::printf(" %.0f%%", pct);
        WRITE_MSG_FILE(code, pct);
    }
    if (!f.close())
        write_failed(routine, name);
}

} // namespace

void WRITE_RPO_FILE()
{
    std::printf("\n WRITE_RPO_FILE started ...");
    OutFile f(rpofile);
    if (!f.ok()) {
        std::printf("\n WRITE_RPO_FILE: %s open failure", rpofile.c_str());
        STOP(1);
        END_RUN(1);
    }
    std::vector<std::string> slot_text = slot_texts();
    char line[4096];
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                    if (mpreg >= 1 && (mim - mpreg < 2 || mim - mpreg > 15))
                        continue;
                    const double* payoff = rpo->rpo[curr][lact][mim][mpreg];
                    const double* preg = rpo->prg[curr][lact][mim][mpreg];
                    for (int t = 1; t <= 12; t++) {
                        int n = put_position(line, curr, lact, mim, mpreg, t);
                        n += put_value(line + n, payoff[t]);
                        n += put_value(line + n, payoff[t + 12]);
                        std::memcpy(line + n, " 0 0", 4);
                        n += 4;
                        n += put_value(line + n, preg[t]);
                        n += put_value(line + n, preg[t + 12]);
                        n += put_value(line + n, bio->sel[lact][mim][t]);
                        line[n++] = ' ';
                        n += FORMAT_FIXED(line + n, bio->milkyield[curr][lact][mim][mpreg][t] / DAYS_PER_MONTH, 5, 2);
                        line[n++] = ' ';
                        n += FORMAT_FIXED(line + n, bio->milkyield[8][lact][mim][mpreg][t] / DAYS_PER_MONTH, 5, 2);
                        std::memcpy(line + n, " 0 0\n", 5);
                        n += 5;
                        slot_text[t].append(line, static_cast<std::size_t>(n));
                    }
                }
    write_slot_texts(f, slot_text, MSG_WRITING_RPO, "WRITE_RPO_FILE", rpofile);
    std::printf("\n WRITE_RPO_FILE done ...");
}

void WRITE_DEL_FILE()
{
    std::printf("\n WRITE_DEL_FILE started ...");
    OutFile f(delfile);
    if (!f.ok()) {
        std::printf("\n WRITE_DEL_FILE: open failure");
        STOP(1);
        END_RUN(1);
    }
    std::vector<std::string> slot_text = slot_texts();
    char line[2048];
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int h = mim + 1; h <= MAXMIM; h++) {
                    const double* open = del->open[curr][lact][mim][h];
                    const double* preg = del->preg[curr][lact][mim][h];
                    for (int t = 1; t <= 12; t++) {
                        int n = put_position(line, t, curr, lact, mim, h);
                        n += put_value(line + n, open[t]);
                        n += put_value(line + n, open[t + 12]);
                        n += put_value(line + n, preg[t]);
                        n += put_value(line + n, preg[t + 12]);
                        line[n++] = '\n';
                        slot_text[t].append(line, static_cast<std::size_t>(n));
                    }
                }
    write_slot_texts(f, slot_text, MSG_WRITING_DEL, "WRITE_DEL_FILE", delfile);
    std::printf("\n WRITE_DEL_FILE done ...");
}
