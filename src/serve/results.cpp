/*
** results.cpp -- picks the yearly figures and chart series out of a
** report and an rpo file.
**
** The charts are those of tools/morvenda-plot: the monthly cash flow and
** its running sum over the projection, and by month in milk the open and
** pregnant cows, the culling hazards and the herd's lactation curve; from
** the rpo file the retention pay-off and the value of a pregnancy of open
** cows of low, average and high producers (classes 4, 8 and 12) in
** lactations 1 to 3, averaged over the first-year slots.
*/
#include "serve/results.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "stats/figures.h"

namespace serve {

namespace {

constexpr const char* TABLE_HEADER = "t sea operating_cash ";
constexpr int STEADY_STATE_ANALYSIS = 1;
constexpr int STEADY_STATE_MONTHS = 36;
constexpr int STORED_HERD_MONTHS = 300;
constexpr int MONTHS_IN_MILK = 24;
constexpr int CHART_LACTATIONS = 3;
constexpr int RPO_COLUMNS = 16;
constexpr double NOT_APPLICABLE = -9999.0;
const int PRODUCER_CLASSES[3] = {4, 8, 12}; /* low, average, high */

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        out.push_back(word);
    return out;
}

/* A number, or NaN for "null" and anything else that is not one. */
double number(const std::string& token)
{
    char* end = nullptr;
    double v = std::strtod(token.c_str(), &end);
    if (end == token.c_str() || *end != '\0' || !std::isfinite(v))
        return NAN;
    return v;
}

nlohmann::json series(const std::vector<double>& values)
{
    nlohmann::json out = nlohmann::json::array();
    for (double v : values)
        out.push_back(std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(nullptr));
    return out;
}

void read_report(const std::string& path, nlohmann::json& out)
{
    std::ifstream in(path);
    if (!in) {
        out["error"] = "no report";
        return;
    }
    std::string line;
    std::getline(in, line);
    auto first = split(line);
    int analysis = first.size() >= 2 ? std::atoi(first.back().c_str()) : 0;
    int months = analysis == STEADY_STATE_ANALYSIS ? STEADY_STATE_MONTHS : STORED_HERD_MONTHS;
    std::string title;
    std::getline(in, title);
    while (!title.empty() && (title.back() == '\r' || title.back() == '\n'))
        title.pop_back();
    out["title"] = title;
    out["analysis"] = analysis;

    std::map<std::string, int> col;
    std::vector<double> t, cash, sumcash;
    std::map<std::string, std::vector<double>> by_mim;
    const char* mim_columns[] = {"open_dim",     "preg_dim",     "hz_open_repl",  "hz_open_pind",
                                 "hz_preg_repl", "hz_preg_pind", "lactationcurve"};
    nlohmann::json yearly = nlohmann::json::array();
    bool in_table = false;
    while (std::getline(in, line)) {
        if (line.rfind(TABLE_HEADER, 0) == 0) {
            auto names = split(line);
            for (std::size_t i = 0; i < names.size(); i++)
                col[names[i]] = static_cast<int>(i);
            in_table = true;
            continue;
        }
        auto words = split(line);
        if (words.empty())
            continue;
        if (in_table && words.size() == col.size()) {
            int row = std::atoi(words[0].c_str());
            auto value = [&](const char* name) {
                auto c = col.find(name);
                return c == col.end() ? NAN : number(words[static_cast<std::size_t>(c->second)]);
            };
            if (row >= 1 && row <= months) {
                t.push_back(row);
                cash.push_back(value("total_cash"));
                sumcash.push_back(value("sumcash"));
            }
            if (row >= 1 && row <= MONTHS_IN_MILK)
                for (const char* name : mim_columns)
                    by_mim[name].push_back(value(name));
            continue;
        }
        /* A yearly figure: its values, then its name (which may hold a blank). */
        std::vector<double> values;
        std::size_t i = 0;
        while (i < words.size() && std::isfinite(number(words[i])))
            values.push_back(number(words[i++]));
        if (values.empty() || i == words.size())
            continue;
        std::string name = words[i];
        for (i++; i < words.size(); i++)
            name += " " + words[i];
        yearly.push_back({{"name", name}, {"values", series(values)}});
    }
    if (t.empty())
        out["error"] = "the report has no monthly table";
    out["yearly"] = yearly;
    out["monthly"] = {{"t", series(t)}, {"cash", series(cash)}, {"sumcash", series(sumcash)}};
    nlohmann::json mim = {{"mim", nlohmann::json::array()}};
    for (int m = 1; m <= MONTHS_IN_MILK && m <= static_cast<int>(by_mim["open_dim"].size()); m++)
        mim["mim"].push_back(m);
    for (const char* name : mim_columns)
        mim[name] = series(by_mim[name]);
    out["mim"] = mim;
}

void read_rpo(const std::string& path, nlohmann::json& out)
{
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        return;
    /* Sums and counts by [lactation][class index][month in milk]. */
    double rpo_sum[CHART_LACTATIONS][3][MONTHS_IN_MILK] = {};
    int rpo_n[CHART_LACTATIONS][3][MONTHS_IN_MILK] = {};
    double prg_sum[CHART_LACTATIONS][3][MONTHS_IN_MILK] = {};
    int prg_n[CHART_LACTATIONS][3][MONTHS_IN_MILK] = {};
    /* The file has a line per state and slot (some 300,000): a line is
    ** read in full only when its first four numbers (class, lactation,
    ** month in milk, months pregnant) are those of a chart. */
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        double v[RPO_COLUMNS];
        const char* p = line;
        int n = 0;
        for (; n < RPO_COLUMNS; n++) {
            char* end = nullptr;
            v[n] = std::strtod(p, &end);
            if (end == p)
                break;
            p = end;
            if (n == 3) {
                int cls = static_cast<int>(v[0]), lact = static_cast<int>(v[1]), mim = static_cast<int>(v[2]);
                bool charted = (cls == PRODUCER_CLASSES[0] || cls == PRODUCER_CLASSES[1] || cls == PRODUCER_CLASSES[2]) &&
                               lact >= 1 && lact <= CHART_LACTATIONS && mim >= 1 && mim <= MONTHS_IN_MILK && v[3] == 0.0;
                if (!charted)
                    break;
            }
        }
        if (n != RPO_COLUMNS || v[3] != 0.0)
            continue;
        int lact = static_cast<int>(v[1]);
        int mim = static_cast<int>(v[2]);
        int cls = -1;
        for (int k = 0; k < 3; k++)
            if (static_cast<int>(v[0]) == PRODUCER_CLASSES[k])
                cls = k;
        if (cls < 0 || lact < 1 || lact > CHART_LACTATIONS || mim < 1 || mim > MONTHS_IN_MILK)
            continue;
        if (v[5] != NOT_APPLICABLE) {
            rpo_sum[lact - 1][cls][mim - 1] += v[5];
            rpo_n[lact - 1][cls][mim - 1]++;
        }
        if (v[9] != NOT_APPLICABLE) {
            prg_sum[lact - 1][cls][mim - 1] += v[9];
            prg_n[lact - 1][cls][mim - 1]++;
        }
    }
    std::fclose(f);
    nlohmann::json rpo = nlohmann::json::array();
    nlohmann::json prg = nlohmann::json::array();
    const char* names[3] = {"low", "average", "high"};
    for (int l = 0; l < CHART_LACTATIONS; l++) {
        nlohmann::json r, p;
        for (int k = 0; k < 3; k++) {
            std::vector<double> rv, pv;
            for (int m = 0; m < MONTHS_IN_MILK; m++) {
                rv.push_back(rpo_n[l][k][m] ? rpo_sum[l][k][m] / rpo_n[l][k][m] : NAN);
                pv.push_back(prg_n[l][k][m] ? prg_sum[l][k][m] / prg_n[l][k][m] : NAN);
            }
            r[names[k]] = series(rv);
            p[names[k]] = series(pv);
        }
        rpo.push_back(r);
        prg.push_back(p);
    }
    out["rpo"] = rpo;
    out["pregnancy_value"] = prg;
}

} // namespace

nlohmann::json build_results(const std::string& report_path, const std::string& rpo_path)
{
    nlohmann::json out = nlohmann::json::object();
    read_report(report_path, out);
    read_rpo(rpo_path, out);
    return out;
}

void describe_figures(nlohmann::json& results, bool kg)
{
    /* A figure this close to 0 is 0 as the report prints it. */
    constexpr double PRINTED_ZERO = 5e-5;
    results["kg"] = kg;
    if (!results.contains("yearly") || !results["yearly"].is_array())
        return;
    /* An empty place sells no milk. */
    constexpr const char* MILK_SOLD = "milksales_cyr";
    bool all_zero = false;
    for (auto& row : results["yearly"]) {
        const YearlyFigure* f = find_yearly_figure(row.value("name", ""));
        if (f != nullptr) {
            row["plain"] = f->name;
            row["unit"] = unit_text(f->unit, kg);
            row["unit_code"] = unit_code(f->unit);
            row["group"] = group_code(f->group);
            row["better"] = f->better;
            row["help"] = f->help;
        }
        if (row.value("name", "") == MILK_SOLD) {
            all_zero = true;
            for (const auto& v : row["values"])
                if (!v.is_number() || std::fabs(v.get<double>()) > PRINTED_ZERO)
                    all_zero = false;
        }
    }
    results["empty_place"] = all_zero;
}

} // namespace serve
