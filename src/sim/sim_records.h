/*
** sim_records.h -- the simulated herd's records, as herd software exports
** them.
**
** Six CSV files, each with a header line:
**
**   tests.csv             herd,cow,date,lact,calving,milk
**   inseminations.csv     herd,cow,date
**   calvings.csv          herd,cow,date,lact
**   pregnancy_checks.csv  herd,cow,date,result      (pregnant | open)
**   exits.csv             herd,cow,entry,entry_reason,date,reason
**   cows.csv              cow,birth
**
** The simulation hands over rows as they happen; WRITE saves the files
** into a folder, each written whole or not at all (core/output_file.h).
*/
#ifndef MORVENDA_SIM_RECORDS_H
#define MORVENDA_SIM_RECORDS_H

#include <memory>
#include <string>

#include "core/output_file.h"

enum class ExitReason { DIED, CULLED_INVOLUNTARY, CULLED_VOLUNTARY };

class SimRecords {
public:
    explicit SimRecords(const std::string& herd);

    void test_day(int cow, int day, int lact, int calving, double milk);
    void insemination(int cow, int day);
    void calving(int cow, int day, int lact);
    void pregnancy_check(int cow, int day, bool pregnant);
    /* A stay in the herd: entry day and whether she was bought (else born
    ** in the herd); `exit_day` < 0 while she is still there. */
    void stay(int cow, int entry, bool bought, int exit_day, ExitReason reason);
    void cow(int cow, int birth);

    /* Starts the six files in `folder` (made when missing); false with
    ** `error` when one cannot be made.  Rows go out to the files as they
    ** come, so a large herd's records need no room in memory. */
    bool open(const std::string& folder, std::string& error);
    /* Finishes the six files; each is written whole or not at all (false
    ** with `error` when one could not be). */
    bool commit(std::string& error);

    /* The names of the six files. */
    static const char* const FILE_NAMES[6];

private:
    enum { TESTS, INSEMINATIONS, CALVINGS, CHECKS, EXITS, COWS, FILES };
    void lead(std::string& out, int cow);
    /* Hands a file's rows to its file once they fill the buffer. */
    void spill(int file, bool all);

    std::string herd_; /* the herd column, quoted when it needs it */
    std::string text_[FILES];
    std::unique_ptr<OutputFile> out_[FILES];
    bool failed_ = false;
    std::string error_;
};

#endif
