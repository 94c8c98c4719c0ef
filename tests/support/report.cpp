/*
** report.cpp -- splitting a statistics report into its parts.
*/
#include "support/report.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/support.h"

namespace {

constexpr int REPORT_MONTHS = 300; /* rows of the monthly table */
constexpr int REPORT_YEARS = 3;    /* values on a yearly line */

} // namespace

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> split_fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (in >> field)
        fields.push_back(field);
    return fields;
}

const std::string& Report::at(int row, const std::string& label) const
{
    static const std::string none = "(no such column)";
    for (std::size_t i = 0; i < labels.size(); i++)
        if (labels[i] == label) {
            if (row < 1 || static_cast<std::size_t>(row) > rows.size() || i >= rows[row - 1].size()) {
                ADD_FAILURE() << "no month " << row << " in column " << label;
                return none;
            }
            return rows[row - 1][i];
        }
    ADD_FAILURE() << "no column " << label;
    return none;
}

double Report::value(int row, const std::string& label) const
{
    return std::strtod(at(row, label).c_str(), nullptr);
}

double Report::year_value(const std::string& label, int year) const
{
    if (year < 1 || year > REPORT_YEARS) {
        ADD_FAILURE() << "no year " << year;
        return 0.0;
    }
    for (const std::string& line : yearly) {
        std::vector<std::string> f = split_fields(line);
        if (f.size() <= REPORT_YEARS)
            continue;
        std::string name = f[REPORT_YEARS];
        for (std::size_t j = REPORT_YEARS + 1; j < f.size(); j++)
            name += " " + f[j];
        if (name == label)
            return std::strtod(f[year - 1].c_str(), nullptr);
    }
    ADD_FAILURE() << "no yearly figure " << label;
    return 0.0;
}

Report read_report(const std::string& name)
{
    Report r;
    r.text = read_text(name);
    std::vector<std::string> lines = split_lines(r.text);
    std::size_t i = 0;
    while (i < lines.size() && lines[i].rfind("t sea ", 0) != 0)
        r.header.push_back(lines[i++]);
    if (i == lines.size())
        return r;
    r.labels = split_fields(lines[i++]);
    for (int month = 1; month <= REPORT_MONTHS && i < lines.size(); month++)
        r.rows.push_back(split_fields(lines[i++]));
    while (i < lines.size())
        r.yearly.push_back(lines[i++]);
    return r;
}
