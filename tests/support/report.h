/*
** report.h -- the statistics report as the tests read it.
**
** A report is a few header lines, the column labels (the line starting
** "t sea "), one row per projected month (300 rows) and the yearly block:
** one line per figure, the values of years 1..3 and then the label.  Every
** test that looks into a report, whether written by a whole run or by the
** report routine on a hand-filled projection, reads it with read_report
** and looks figures up by label, so a column that moves is found where it
** went and a column that is missing fails the test that wanted it.
*/
#ifndef MORVENDA_TEST_REPORT_H
#define MORVENDA_TEST_REPORT_H

#include <string>
#include <vector>

/* Lines of a text split at '\n'; a final line end adds no empty line. */
std::vector<std::string> split_lines(const std::string& text);

/* Blank-separated fields of a line. */
std::vector<std::string> split_fields(const std::string& line);

struct Report {
    std::string text;                            /* the whole file */
    std::vector<std::string> header;             /* lines before the labels */
    std::vector<std::string> labels;             /* column labels */
    std::vector<std::vector<std::string>> rows;  /* fields of months 1..300 */
    std::vector<std::string> yearly;             /* the yearly lines */

    /* Field of month `row` (1-based) in the column `label`; a missing
    ** column fails the test and gives "(no such column)". */
    const std::string& at(int row, const std::string& label) const;

    /* The same field as a number. */
    double value(int row, const std::string& label) const;

    /* Figure `label` of the yearly block for year 1..3; a missing figure
    ** fails the test and gives 0. */
    double year_value(const std::string& label, int year) const;
};

/* The report in file `name` ("" when it cannot be read, with no labels). */
Report read_report(const std::string& name);

#endif
