/*
** records.cpp -- allocation and reset of the model records.
**
** Each INIT_<REC>_RECORD allocates its record once, as one block, and
** brings it to its start values through the matching reset.  The records
** are never released: they live as long as the process.  When a record
** already exists (a test binary runs many cases in one process) INIT keeps
** the block and resets it, so a process never holds two copies.
**
** The blocks are whole pages mapped straight from the kernel: they arrive
** zero, and a page costs nothing until the run first touches it.  Handing
** out the pages of 200 MB of records costs the kernel more than the whole
** value iteration, so clearing to zero (CLEAR_BLOCK) hands pages back
** instead of writing zeros over them (a page the run never touches again
** is never handed out at all), and the blocks sit on 2 MB pages, which
** the kernel hands out one fault at a time instead of 512 (example herd:
** 27,000 page faults instead of 112,000, 40 % less CPU time in all).
*/
#include "core/records.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "core/huge_pages.h"
#include "core/runlog.h"

BioRecord* bio = nullptr;
FutRecord* fut = nullptr;
PolRecord* pol = nullptr;
RpoRecord* rpo = nullptr;
InsRecord* ins = nullptr;
DelRecord* del = nullptr;
MkvRecord* mkv = nullptr;

std::string biofiletime = "default time **";
std::string runname;
std::string rpofile, delfile, mkvfile, resfile, polfile;
short warmstart = 0;

double heifer_rpo[NSLOT];
double DPcash12 = 0.0;

namespace {

/* Loads a warm start into buffer 2 of fut; set by whoever owns the file. */
short (*warm_start_reader)() = nullptr;

} // namespace

void SET_WARM_START_READER(short (*reader)())
{
    warm_start_reader = reader;
}

namespace {

/* Allocates a record block once per process, zero; nullptr when memory is
** short. */
template <typename Record>
Record* allocate_once(Record* existing)
{
    static_assert(std::is_trivially_default_constructible_v<Record>);
    if (existing != nullptr)
        return existing;
    void* block = map_huge_block(sizeof(Record));
    if (block == nullptr)
        return nullptr;
    return new (block) Record;
}

/* The common steps of an INIT routine: allocate the record once, bring it
** to its start values and report.  `failure` is the routine's own
** insufficient-memory line; some routines still print their done line
** after it.  No run goes on without its record. */
template <typename Record>
void init_record(Record*& record, const char* name, const char* failure, bool done_after_failure,
                 void (*reset)())
{
    std::printf("\n %s started ...", name);
    record = allocate_once(record);
    if (record == nullptr) {
        std::printf("%s", failure);
        STOP(1);
        if (done_after_failure)
            std::printf("\n %s done ...", name);
        END_RUN(1);
    }
    if (reset != nullptr)
        reset();
    std::printf("\n %s done ...", name);
}

/* Fills every element of a fixed-size array, whatever its rank. */
template <typename T, typename V>
void fill_all(T& array, V value)
{
    using Elem = std::remove_all_extents_t<T>;
    Elem* first = reinterpret_cast<Elem*>(&array);
    const std::size_t n = sizeof(T) / sizeof(Elem);
    for (std::size_t i = 0; i < n; i++)
        first[i] = static_cast<Elem>(value);
}

} // namespace

void CLEAR_BLOCK(void* block, std::size_t bytes)
{
    const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t end = begin + bytes;
    const std::uintptr_t first_page = (begin + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    const std::uintptr_t end_page = end / HUGE_PAGE * HUGE_PAGE;
    /* Whole 2 MB pages inside the block go back to the kernel and read
    ** zero again; the edges are written.  Handing back part of a 2 MB page
    ** would split it into 512 small ones, each faulting on its own when it
    ** is next touched. */
    if (end_page > first_page &&
        madvise(reinterpret_cast<void*>(first_page), end_page - first_page, MADV_DONTNEED) == 0) {
        std::memset(block, 0, first_page - begin);
        std::memset(reinterpret_cast<void*>(end_page), 0, end - end_page);
        return;
    }
    std::memset(block, 0, bytes);
}

void RESET_RUN_VALUES()
{
    biofiletime = "default time **";
    runname.clear();
    rpofile.clear();
    delfile.clear();
    mkvfile.clear();
    resfile.clear();
    polfile.clear();
    warmstart = SWITCH_OFF;
    fill_all(heifer_rpo, 0.0);
    DPcash12 = 0.0;
    RESET_REPEATED_STOPS();
}

/* ---- bio ---------------------------------------------------------------- */

void RESET_BIO_RECORD()
{
    std::printf("\n RESET_BIO_RECORD started ...");
    TIMETAKEN(CLOCK_LAP_START);
    WRITE_MSG_FILE(MSG_RESET_BIO);
    CLEAR_BLOCK(bio, sizeof(BioRecord));
    bio->kg = UNITS_KG;
    std::printf("\n RESET_BIO_RECORD done ...");
}

void INIT_BIO_RECORD()
{
    init_record(bio, "INIT_BIO_RECORD", "\n INIT_BIO_RECORD: Insufficient memory available. ", false, RESET_BIO_RECORD);
}

/* ---- fut ---------------------------------------------------------------- */

void RESET_FUT_RECORD()
{
    std::printf("\n RESET_FUT_RECORD started ... ");
    CLEAR_BLOCK(fut, sizeof(FutRecord));
    if (warmstart == SWITCH_ON && warm_start_reader != nullptr && warm_start_reader() == 1) {
        /* The warm-start values arrive in buffer 2; the value iteration
        ** starts from buffer 0. */
        for (int c = 0; c < NCURR; c++)
            for (int l = 0; l < NLACT; l++)
                for (int m = 0; m < NMIM; m++)
                    for (int p = 0; p < NMPREG; p++)
                        fut->value[c][l][m][p][0] = fut->value[c][l][m][p][2];
        fut->heifer[0] = fut->heifer[2];
    }
    std::printf("\n RESET_FUT_RECORD done ...");
}

void INIT_FUT_RECORD()
{
    init_record(fut, "INIT_FUT_RECORD", "\n INIT_FUT_RECORD: Insufficient memory available.", true, RESET_FUT_RECORD);
}

/* ---- pol ---------------------------------------------------------------- */

void RESET_POL_RECORD()
{
    fill_all(pol->decision, DEC_NONE);
    fill_all(pol->enter, DEC_NONE);
}

void INIT_POL_RECORD()
{
    init_record(pol, "INIT_POL_RECORD", "\n INIT_POL_RECORD: Insufficient memory available. ", true, RESET_POL_RECORD);
}

/* ---- rpo ---------------------------------------------------------------- */

void RESET_RPO_RECORD()
{
    std::printf("\n RESET_RPO_RECORD started ...");
    CLEAR_BLOCK(rpo->life, sizeof rpo->life);
    fill_all(rpo->rpo, NOT_APPLICABLE);
    fill_all(rpo->prg, NOT_APPLICABLE);
    std::printf("\n RESET_RPO_RECORD done ...");
}

void INIT_RPO_RECORD()
{
    init_record(rpo, "INIT_RPO_RECORD", "\n INIT_RPO_RECORD: Insufficient memory available. ", false, RESET_RPO_RECORD);
}

/* ---- ins ---------------------------------------------------------------- */

void RESET_INS_RECORD()
{
    std::printf("\n RESET_INS_RECORD started ...");
    CLEAR_BLOCK(ins, sizeof(InsRecord));
    std::printf("\n RESET_INS_RECORD done ...");
}

void INIT_INS_RECORD()
{
    init_record(ins, "INIT_INS_RECORD", "\n INIT_INS_RECORD: Insufficient memory available.", true, RESET_INS_RECORD);
}

/* ---- del ---------------------------------------------------------------- */

void RESET_DEL_RECORD()
{
    std::printf("\n RESET_DEL_RECORD started ...");
    CLEAR_BLOCK(del, sizeof(DelRecord));
    std::printf("\n RESET_DEL_RECORD done ...");
}

void INIT_DEL_RECORD()
{
    init_record(del, "INIT_DEL_RECORD", "\n INIT_DEL_RECORD: Insufficient memory available.", true, RESET_DEL_RECORD);
}

/* ---- mkv ---------------------------------------------------------------- */

/* Not reset here: the herd projection clears what it uses. */
void INIT_MKV_RECORD()
{
    init_record(mkv, "INIT_MKV_RECORD", "\n INIT_MKV_RECORD: Insufficient memory available. ", true, nullptr);
}

void INIT_POLICY_RECORDS()
{
    WRITE_MSG_FILE(MSG_RESET_POL);
    INIT_POL_RECORD();
    WRITE_MSG_FILE(MSG_RESET_RPO);
    INIT_RPO_RECORD();
    WRITE_MSG_FILE(MSG_RESET_INS);
    INIT_INS_RECORD();
    WRITE_MSG_FILE(MSG_RESET_DEL);
    INIT_DEL_RECORD();
}
