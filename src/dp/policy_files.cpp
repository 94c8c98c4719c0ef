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
** policy must never pass for a whole one.  A written file is synced and
** renamed over the old one while the run goes on (the disk takes some
** 30 ms for the three); FINISH_POLICY_FILES waits for that before the run
** ends, and a file that could not be saved then fails the run.  The pol
** reader stores only inside the pol record and ends the run on a line it
** cannot take.
*/
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "dp/dp.h"
#include "dp/dp_internal.h"
#include "core/input_file.h"
#include "core/huge_pages.h"
#include "core/number_format.h"
#include "core/output_file.h"
#include "core/records.h"
#include "core/runlog.h"

namespace {

/* A pol file as written is under 3 MB; nothing larger is one. */
constexpr std::size_t LARGEST_POL_FILE = 16u << 20;

/* Ends the run after a failed write of `file`. */
[[noreturn]] void write_failed(const char* routine, const OutputFile& f, const std::string& file)
{
    FAIL_RUN(routine, "%s write failure (%s)", file.c_str(), f.error().c_str());
}

/* Ends the run when `file` cannot be started; `line` is the routine's
** open-failure line. */
void open_or_end(OutputFile& f, const std::string& file, const std::string& line)
{
    if (f.open(file))
        return;
    FAIL_RUN(nullptr, "%s\n %s: %s", line.c_str(), file.c_str(), f.error().c_str());
}

/* " %d" of a decision. */
inline int put_decision(char* out, int v)
{
    out[0] = ' ';
    if (v >= 0 && v <= 9) {
        out[1] = static_cast<char>('0' + v);
        return 2;
    }
    return 1 + std::sprintf(out + 1, "%d", v);
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

/* "%w.pf" of a value; `finite` turns false on a value that is not a
** number, and a file that holds one is not kept. */
inline int put_fixed(char* out, double x, int width, int precision, bool& finite)
{
    finite &= std::isfinite(x);
    return FORMAT_FIXED(out, x, width, precision);
}

/* " %4.0f" of a value. */
inline int put_value(char* out, double x, bool& finite)
{
    out[0] = ' ';
    if (std::fabs(x) < FORMAT_WHOLE_LIMIT)
        return 1 + FORMAT_WHOLE(out + 1, x, 4);
    return 1 + put_fixed(out + 1, x, 4, 0, finite);
}

/* The four index columns "%2d %2d %2d %2d". */
int put_position(char* out, int a, int b, int c, int d)
{
    int n = put2(out, a);
    out[n++] = ' ';
    n += put2(out + n, b);
    out[n++] = ' ';
    n += put2(out + n, c);
    out[n++] = ' ';
    n += put2(out + n, d);
    return n;
}

/* The five index columns "%2d %2d %2d %2d %2d". */
int put_position(char* out, int a, int b, int c, int d, int e)
{
    int n = put_position(out, a, b, c, d);
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
    FAIL_RUN("READ_POL_FILE", "%s line %d: %s", polfile.c_str(), line, what);
}

/* Reads one " %d" value of a pol file line. */
short read_decision(std::FILE* fp, int line)
{
    int v;
    const int got = std::fscanf(fp, " %d", &v);
    if (got != 1)
        pol_line_error(line, got == EOF || std::feof(fp) ? "file ends early" : "not a number");
    if (v != DEC_REPLACE && v != DEC_KEEP && v != DEC_INSEMINATE && v != DEC_NONE)
        pol_line_error(line, "decision is not 0, 1, 2 or 8");
    return static_cast<short>(v);
}

} // namespace

void WRITE_POL_FILE()
{
    std::printf("\n WRITE_POL_FILE started ...");
    OutputFile f;
    open_or_end(f, polfile, "\n WRITE_POL_FILE: " + polfile + " open failure");
    std::FILE* fp = f.fp();
    char line[1024];
    int n = 0;
    for (int t = 1; t <= 24; t++)
        n += put_decision(line + n, pol->enter[t]);
    std::fwrite(line, 1, static_cast<std::size_t>(n), fp);
    for (int t = 1; t <= 24; t++) {
        for (int curr = 1; curr <= MAXCURR; curr++)
            for (int lact = 1; lact <= MAXLACT; lact++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                    line[0] = '\n';
                    n = 1 + put_position(line + 1, t, curr, lact, mpreg);
                    for (int mim = 1; mim <= MAXMIM; mim++)
                        n += put_decision(line + n, pol->decision[curr][lact][mim][mpreg][t]);
                    std::fwrite(line, 1, static_cast<std::size_t>(n), fp);
                }
        if (t == 1 || t % 2 == 0)
            std::printf(" %.0f%%", t / 24.0 * 100.0);
    }
    if (!f.commit_later("WRITE_POL_FILE: " + polfile))
        write_failed("WRITE_POL_FILE", f, polfile);
    std::printf("\n WRITE_POL_FILE done ...");
}

void READ_POL_FILE()
{
    std::printf("\n READ_POL_FILE started ... %s", polfile.c_str());
    std::string text, why;
    const InputRead got = READ_INPUT_FILE(polfile, LARGEST_POL_FILE, text, why);
    if (got != InputRead::read) {
        if (got == InputRead::refused)
            FAIL_RUN("READ_POL_FILE", "%s open failure: %s", polfile.c_str(), why.c_str());
        FAIL_RUN("READ_POL_FILE", "%s open failure", polfile.c_str());
    }
    if (text.empty())
        pol_line_error(1, "file ends early");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> holder(fmemopen(text.data(), text.size(), "r"), std::fclose);
    if (!holder)
        FAIL_RUN("READ_POL_FILE", "%s open failure", polfile.c_str());
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
** the records keep the slots of a state side by side.  A writer fills the
** texts of a group of slots in one pass through its record; the two groups
** of six go to the calling thread and a helper, whichever asks first, so
** that the two cores share the formatting.  A group is written out as
** soon as it and the groups before it are done, and handed to the disk at
** once, so the sync before the rename has less left to wait for.
** Progress is shown once the whole file is written; a file refused for a
** value that is not a number shows none. */
constexpr int FIRST_YEAR_SLOTS = 12;
constexpr int SLOTS_PER_GROUP = 6;
constexpr int SLOT_GROUPS = FIRST_YEAR_SLOTS / SLOTS_PER_GROUP;
static_assert(SLOT_GROUPS * SLOTS_PER_GROUP == FIRST_YEAR_SLOTS);
/* First room of a slot's text: one 2 MB page, more than the 1.8 MB of
** the longest slot at the usual widths. */
constexpr std::size_t SLOT_TEXT_ROOM = HUGE_PAGE;
/* The longest line a writer can make (values of any size included). */
constexpr std::size_t RPO_LINE_ROOM = 4096;
constexpr std::size_t DEL_LINE_ROOM = 2048;

/* One slot's text, written in place line by line into a block on 2 MB
** pages that grows when short.  Each sits alone on its cache line: the two
** threads write neighbouring slots, and a line they shared would pass from
** core to core with every line of text (it made two threads barely faster
** than one). */
constexpr std::size_t CACHE_LINE = 64;
class alignas(CACHE_LINE) SlotText {
public:
    SlotText() = default;
    ~SlotText() { unmap_huge_block(data_, capacity_); }
    SlotText(const SlotText&) = delete;
    SlotText& operator=(const SlotText&) = delete;

    /* Empties the text; its block is kept for the next file. */
    void clear() { size_ = 0; }
    /* Where the next line, of at most `n` characters, is written. */
    char* room(std::size_t n)
    {
        if (capacity_ - size_ < n)
            grow(size_ + n);
        return data_ + size_;
    }
    /* Takes in the `n` characters just written at room(). */
    void add(std::size_t n) { size_ += n; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    void grow(std::size_t need)
    {
        const std::size_t capacity = std::max({need, 2 * capacity_, SLOT_TEXT_ROOM});
        char* block = static_cast<char*>(map_huge_block(capacity));
        if (block == nullptr)
            throw std::bad_alloc();
        if (size_ > 0)
            std::memcpy(block, data_, size_);
        unmap_huge_block(data_, capacity_);
        data_ = block;
        capacity_ = capacity;
    }

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

/* Fills texts[first..last] with the lines of those slots in one pass
** through the record; false when a value that is not a number was met. */
using FillSlots = bool (*)(int first, int last, SlotText* texts);

/* The texts of slots 1..12, kept from call to call: their pages are
** touched once per process. */
SlotText* slot_texts()
{
    static SlotText texts[FIRST_YEAR_SLOTS + 1];
    for (SlotText& text : texts)
        text.clear();
    return texts;
}

/* The groups of a file, formatted by whichever thread comes first. */
class SlotGroups {
public:
    SlotGroups(FillSlots fill, SlotText* texts) : fill_(fill), texts_(texts) {}

    /* Formats groups until none is left, calling `after` after each. */
    template <class After>
    void format(After after)
    {
        for (int g = next_.fetch_add(1); g < SLOT_GROUPS; g = next_.fetch_add(1)) {
            try {
                finite_[g] = fill_(g * SLOTS_PER_GROUP + 1, (g + 1) * SLOTS_PER_GROUP, texts_);
            } catch (...) {
                failure_[g] = std::current_exception();
            }
            ready_[g].store(true, std::memory_order_release);
            after();
        }
    }
    bool ready(int g) const { return ready_[g].load(std::memory_order_acquire); }
    /* A failure of the group's thread comes out on the calling thread. */
    bool finite(int g) const
    {
        if (failure_[g])
            std::rethrow_exception(failure_[g]);
        return finite_[g];
    }

private:
    FillSlots fill_;
    SlotText* texts_;
    std::atomic<int> next_{0};
    std::atomic<bool> ready_[SLOT_GROUPS] = {};
    bool finite_[SLOT_GROUPS] = {};
    std::exception_ptr failure_[SLOT_GROUPS];
};

/* A thread that is always joined, also when the run ends by an exception. */
struct JoinedThread {
    std::thread thread;
    ~JoinedThread()
    {
        if (thread.joinable())
            thread.join();
    }
};

/* Formats, writes and commits the slot file `name` through `f`. */
void write_slot_file(OutputFile& f, FillSlots fill, unsigned code, const char* routine, const std::string& name)
{
    SlotText* texts = slot_texts();
    SlotGroups groups(fill, texts);
    int written = 0;
    bool finite = true;
    /* writes, in file order, the groups that are done */
    auto write_ready = [&] {
        const int before = written;
        while (written < SLOT_GROUPS && groups.ready(written)) {
            finite = finite && groups.finite(written);
            for (int t = written * SLOTS_PER_GROUP + 1; finite && t <= (written + 1) * SLOTS_PER_GROUP; t++)
                std::fwrite(texts[t].data(), 1, texts[t].size(), f.fp());
            written++;
        }
        if (finite && written > before)
            f.start_writeback();
    };
    {
        JoinedThread helper;
        if (DP_WORKERS() > 1) {
            try {
                helper.thread = std::thread([&groups] { groups.format([] {}); });
            } catch (const std::system_error&) {
                /* no second thread to be had: this one formats it all */
            }
        }
        groups.format(write_ready);
    }
    write_ready();
    assert(written == SLOT_GROUPS);

    if (!finite) {
        f.discard();
        FAIL_RUN(routine, "%s not written: values that are not numbers", name.c_str());
    }
    for (int t = 1; t <= FIRST_YEAR_SLOTS; t++) {
        const double pct = t / 12.0 * 100.0;
        std::printf(" %.0f%%", pct);
        WRITE_MSG_FILE(code, pct);
    }
    if (!f.commit_later(std::string(routine) + ": " + name))
        write_failed(routine, f, name);
}

/* The rpo file's lines of slots first..last. */
bool fill_rpo_slots(int first, int last, SlotText* slot_text)
{
    bool finite = true;
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int mpreg = 0; mpreg <= MAXMPREG; mpreg++) {
                    if (mpreg >= 1 && (mim - mpreg < 2 || mim - mpreg > 15))
                        continue;
                    const double* payoff = rpo->rpo[curr][lact][mim][mpreg];
                    const double* preg = rpo->prg[curr][lact][mim][mpreg];
                    for (int t = first; t <= last; t++) {
                        char* line = slot_text[t].room(RPO_LINE_ROOM);
                        int n = put_position(line, curr, lact, mim, mpreg, t);
                        n += put_value(line + n, payoff[t], finite);
                        n += put_value(line + n, payoff[t + 12], finite);
                        std::memcpy(line + n, " 0 0", 4);
                        n += 4;
                        n += put_value(line + n, preg[t], finite);
                        n += put_value(line + n, preg[t + 12], finite);
                        n += put_value(line + n, bio->sel[lact][mim][t], finite);
                        line[n++] = ' ';
                        n += put_fixed(line + n, bio->milkyield[curr][lact][mim][mpreg][t] / DAYS_PER_MONTH, 5, 2,
                                       finite);
                        line[n++] = ' ';
                        n += put_fixed(line + n, bio->milkyield[8][lact][mim][mpreg][t] / DAYS_PER_MONTH, 5, 2, finite);
                        std::memcpy(line + n, " 0 0\n", 5);
                        n += 5;
                        slot_text[t].add(static_cast<std::size_t>(n));
                    }
                }
    return finite;
}

/* The del file's lines of slots first..last. */
bool fill_del_slots(int first, int last, SlotText* slot_text)
{
    bool finite = true;
    for (int curr = 1; curr <= MAXCURR; curr++)
        for (int lact = 1; lact <= MAXLACT; lact++)
            for (int mim = 1; mim <= MAXMIM; mim++)
                for (int h = mim + 1; h <= MAXMIM; h++) {
                    const double* open = del->open[curr][lact][mim][h];
                    const double* preg = del->preg[curr][lact][mim][h];
                    for (int t = first; t <= last; t++) {
                        char* line = slot_text[t].room(DEL_LINE_ROOM);
                        int n = put_position(line, t, curr, lact, mim, h);
                        n += put_value(line + n, open[t], finite);
                        n += put_value(line + n, open[t + 12], finite);
                        n += put_value(line + n, preg[t], finite);
                        n += put_value(line + n, preg[t + 12], finite);
                        line[n++] = '\n';
                        slot_text[t].add(static_cast<std::size_t>(n));
                    }
                }
    return finite;
}

} // namespace

bool FINISH_POLICY_FILES()
{
    const std::vector<LateFailure> failures = FINISH_COMMITS();
    for (const LateFailure& failure : failures)
        std::printf("\n %s write failure (%s)", failure.label.c_str(), failure.why.c_str());
    if (failures.empty())
        return true;
    STOP(1);
    return false;
}

void WRITE_RPO_FILE()
{
    std::printf("\n WRITE_RPO_FILE started ...");
    OutputFile f;
    open_or_end(f, rpofile, "\n WRITE_RPO_FILE: " + rpofile + " open failure");
    write_slot_file(f, fill_rpo_slots, MSG_WRITING_RPO, "WRITE_RPO_FILE", rpofile);
    std::printf("\n WRITE_RPO_FILE done ...");
}

void WRITE_DEL_FILE()
{
    std::printf("\n WRITE_DEL_FILE started ...");
    OutputFile f;
    open_or_end(f, delfile, "\n WRITE_DEL_FILE: open failure");
    write_slot_file(f, fill_del_slots, MSG_WRITING_DEL, "WRITE_DEL_FILE", delfile);
    std::printf("\n WRITE_DEL_FILE done ...");
}
