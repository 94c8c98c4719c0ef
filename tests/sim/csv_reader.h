/*
** csv_reader.h -- a plain CSV reader for the tests of the simulated
** records: a header line, then rows of comma-separated fields (no quoting:
** the records hold none).
*/
#ifndef MORVENDA_TEST_SIM_CSV_READER_H
#define MORVENDA_TEST_SIM_CSV_READER_H

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.h"

struct CsvTable {
    std::vector<std::string> header;
    std::vector<std::map<std::string, std::string>> rows;
};

inline std::vector<std::string> split_fields(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ','))
        fields.push_back(field);
    if (!line.empty() && line.back() == ',')
        fields.push_back("");
    return fields;
}

inline CsvTable read_csv(const std::string& path)
{
    CsvTable t;
    std::istringstream in(read_text(path));
    std::string line;
    if (!std::getline(in, line))
        return t;
    t.header = split_fields(line);
    while (std::getline(in, line)) {
        const std::vector<std::string> f = split_fields(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < t.header.size(); i++)
            row[t.header[i]] = i < f.size() ? f[i] : "<missing>";
        if (f.size() != t.header.size())
            row["<fields>"] = std::to_string(f.size());
        t.rows.push_back(row);
    }
    return t;
}

/* Day number of a YYYY-MM-DD date, or -1 when it is not one. */
inline int parse_day(const std::string& text)
{
    int y, m, d;
    char tail;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || m < 1 ||
        m > 12 || d < 1 || d > 31)
        return -1;
    /* days_from_civil, checked against the month's length */
    const int yy = y - (m <= 2);
    const int era = yy / 400;
    const int yoe = yy - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int day = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    static const int LENGTH[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > LENGTH[m] || (m == 2 && d == 29 && !leap))
        return -1;
    return day;
}

/* Absolute month (year x 12 + month - 1) of a YYYY-MM-DD date. */
inline int parse_month(const std::string& text)
{
    return std::stoi(text.substr(0, 4)) * 12 + std::stoi(text.substr(5, 2)) - 1;
}

#endif
