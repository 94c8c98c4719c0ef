/*
** cow_list.h -- the cow list: a CSV file of the herd as herd-management
** software exports it, one cow a row under a header row.
**
** Columns are found by name, without regard to case: id, lact, dim, dcc,
** rel_yield or milk, and an optional date.  A header of another name is
** mapped with NAME=HEADER pairs (the --columns option).  Each row is
** checked for form here (numbers, signs, day counts); a row that fails
** keeps its place in the list with the reason and the column, so that the
** ranked list can show every input row.  A file that cannot be read, or
** that lacks a column, is an error of the whole list.
*/
#ifndef MORVENDA_COW_LIST_H
#define MORVENDA_COW_LIST_H

#include <map>
#include <string>
#include <vector>

#include "cows/cow_value.h"
#include "core/huge_pages.h"

/* One input row. */
struct CowRow {
    int line = 0;             /* line of the file where the row starts */
    std::string id;
    std::string dim_text;     /* days in milk as written, for the ranked list */
    CowFacts facts;
    std::string error;        /* why the row cannot be valued; empty when it can */
    const char* error_column = ""; /* the column that holds the fault */
};

struct CowList {
    /* tens of megabytes for a large herd: on 2 MB pages */
    std::vector<CowRow, HugePageAllocator<CowRow>> rows;
    bool has_date = false;
};

/* Column names of the list and the headers they are found under; an empty
** map finds every column under its own name. */
using ColumnMap = std::map<std::string, std::string>;

/* The names a ColumnMap may map. */
const std::vector<std::string>& COW_COLUMN_NAMES();

/* Parses "NAME=HEADER,NAME=HEADER" into `map`; false with `error` set on
** an unknown name or a malformed pair. */
bool PARSE_COLUMN_MAP(const std::string& text, ColumnMap& map, std::string& error);

/* Reads the cow list `name`.  Rows without a date cell take the calendar
** month `default_sea`.  Returns false with `error` set when the file cannot
** be read or lacks a column; bad rows are kept with their reason. */
bool READ_COW_LIST(const std::string& name, const ColumnMap& columns, int default_sea, CowList& list,
                   std::string& error);

/* The same from text in memory (`name` names it in messages). */
bool PARSE_COW_LIST(const std::string& text, const std::string& name, const ColumnMap& columns,
                    int default_sea, CowList& list, std::string& error);

/* Calendar month of a YYYY-MM-DD date, 0 when it is not a valid date. */
int DATE_MONTH(const std::string& text);

#endif
