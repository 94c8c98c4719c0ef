/*
** calib_records.h -- one herd's records, read for its calibration.
**
** A herd's records come as six CSV tables: test days, inseminations,
** calvings, pregnancy checks, stays (entries and exits) and cows.  Herd
** software names its columns and exit codes its own way, so the reader
** maps each field to a header and each exit code to one of a few kinds.
** A row that cannot be used (a field that is not a date or a number, a
** duplicate, a test day before the calving it names, a calving before the
** cow's birth) is set aside with its file, line and column, and counted;
** it is never used.
*/
#ifndef MORVENDA_CALIB_RECORDS_H
#define MORVENDA_CALIB_RECORDS_H

#include <map>
#include <string>
#include <vector>

/* What a cow's leaving means for the calibration. */
enum class ExitKind { none, died, culled_involuntary, culled_voluntary, culled, sold, moved, ignore };

const char* exit_kind_word(ExitKind kind);

struct TestDay {
    int cow, day, lact, calving;
    double milk;
};
struct Insemination {
    int cow, day;
};
struct Calving {
    int cow, day, lact;
};
struct PregnancyCheck {
    int cow, day;
    bool pregnant;
};
struct Stay {
    int cow, entry, exit; /* exit < 0: still there */
    ExitKind kind;
};

/* Where the tables are and how their fields and codes are named. */
struct RecordSources {
    std::string tests, inseminations, calvings, checks, exits, cows; /* "" = absent */
    std::string herd;                                   /* "" = the only one */
    std::map<std::string, std::string> columns;         /* "tests.cow" -> header */
    std::map<std::string, ExitKind> exit_reasons;       /* code -> kind */
};

/* Parses "tests.cow=anim_id,exits.entry=date_in"; "" or what is wrong. */
std::string parse_column_map(const std::string& text, std::map<std::string, std::string>& out);
/* Parses "B=culled,M=died"; "" or what is wrong. */
std::string parse_exit_reasons(const std::string& text, std::map<std::string, ExitKind>& out);

struct HerdRecords {
    std::string herd;
    std::vector<TestDay> tests;
    std::vector<Insemination> inseminations;
    std::vector<Calving> calvings;
    std::vector<PregnancyCheck> checks;
    std::vector<Stay> stays;
    std::map<int, int> birth;      /* cow -> birth day */
    std::vector<std::string> cow_names; /* cow number -> its identifier */
    bool have_calvings = false, have_checks = false, have_cows = false;
    std::vector<std::string> set_aside; /* "file:line: column c: why" */
    long rows_read = 0; /* rows judged: those of the herd picked, and every cow */
};

/* Reads the herd's records; false with `error` when a table cannot be read,
** a header lacks a field, an exit code has no kind, or the herd is not
** there (or several are and none was picked). */
bool READ_HERD_RECORDS(const RecordSources& src, HerdRecords& out, std::string& error);

/* Days since 1970-01-01 of "YYYY-MM-DD"; false when it is not a date. */
bool parse_day(const std::string& text, int& day);
/* The calendar month of a day: year * 12 + month - 1. */
int month_index(int day);

#endif
