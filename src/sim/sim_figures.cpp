/*
** sim_figures.cpp -- yearly figures from the simulation's sums, their
** estimates over replicates and the summary file.
*/
#include "sim/sim_figures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/records.h"

namespace {

/* Report units: days a year for open days, months a year for rates. */
constexpr double DAYS_A_YEAR = 365.0;
constexpr double MONTHS_A_YEAR = 12.0;
/* Percentiles of the summary. */
constexpr double SUMMARY_PERCENTILES[5] = {0.05, 0.25, 0.50, 0.75, 0.95};

using T = SimFigure::Term;

std::vector<SimFigure> make_figures()
{
    const T end{0, 0};
    auto per_cow = [&](const char* label, std::initializer_list<T> num) {
        SimFigure f{};
        f.label = label;
        f.ratio = false;
        int i = 0;
        for (const T& t : num)
            f.num[i++] = t;
        f.num[i] = end;
        f.den[0] = end;
        f.scale = 1.0;
        return f;
    };
    auto ratio = [&](const char* label, std::initializer_list<T> num, std::initializer_list<T> den,
                     double scale) {
        SimFigure f = per_cow(label, num);
        f.ratio = true;
        int i = 0;
        for (const T& t : den)
            f.den[i++] = t;
        f.den[i] = end;
        f.scale = scale;
        return f;
    };
    /* culls over the cow-months present, a year */
    auto count_rate = [&](const char* label, std::initializer_list<T> num) {
        SimFigure f = ratio(label, num, {{SUM_PRESENT, 1}}, MONTHS_A_YEAR);
        f.herd_count = true;
        return f;
    };
    return {
        per_cow("eaa_cyr", {{SUM_MILKSALES, 1}, {SUM_CALFSALES, 1}, {SUM_FEED, -1}, {SUM_BREEDSUPPLY, -1},
                            {SUM_HEIFERCOST, -1}, {SUM_VET, -1}, {SUM_LABOR, -1}, {SUM_OTHER, -1},
                            {SUM_FIXLABOR, -1}, {SUM_FIXOTHER, -1}, {SUM_COWSALES, 1}, {SUM_LOSS, -1}}),
        per_cow("cash_cyr", {{SUM_CASH, 1}}),
        per_cow("milkyield_cyr", {{SUM_MILK, 1}}),
        per_cow("milksales_cyr", {{SUM_MILKSALES, 1}}),
        per_cow("feedcost_cyr", {{SUM_FEED, 1}}),
        per_cow("heifercost_cyr", {{SUM_HEIFERCOST, 1}}),
        per_cow("cowsales_cyr", {{SUM_COWSALES, 1}}),
        per_cow("calfsales_cyr", {{SUM_CALFSALES, 1}}),
        per_cow("livestockcost_cyr", {{SUM_HEIFERCOST, 1}, {SUM_COWSALES, -1}}),
        per_cow("laborcost_cyr", {{SUM_LABOR, 1}}),
        per_cow("vetcost_cyr", {{SUM_VET, 1}}),
        per_cow("breedingsupplycost_cyr", {{SUM_BREEDSUPPLY, 1}}),
        per_cow("loss_cyr", {{SUM_LOSS, 1}}),
        per_cow("othercost_cyr", {{SUM_OTHER, 1}}),
        per_cow("fixedcost_labor_cyr", {{SUM_FIXLABOR, 1}}),
        per_cow("fixedcost_other_cyr", {{SUM_FIXOTHER, 1}}),
        ratio("cash_cwt", {{SUM_CASH, 1}}, {{SUM_CWT, 1}}, 1.0),
        ratio("milksales_cwt", {{SUM_MILKSALES, 1}}, {{SUM_CWT, 1}}, 1.0),
        ratio("feedcost_cwt", {{SUM_FEED, 1}}, {{SUM_CWT, 1}}, 1.0),
        ratio("clvinterval", {{SUM_CALVMIM, 1}}, {{SUM_CALVINGS, 1}}, 1.0),
        ratio("daystoconc", {{SUM_CONCDAYS, 1}}, {{SUM_CONCEPTIONS, 1}}, 1.0),
        count_rate("cullrateall", {{SUM_REPL, 1}, {SUM_PIND, 1}}),
        count_rate("cullratevol", {{SUM_REPL, 1}}),
        count_rate("cullrateinv", {{SUM_PIND, 1}}),
        ratio("herdlife", {{SUM_PRESENT, 1}}, {{SUM_REPL, 1}, {SUM_PIND, 1}}, DAYS_PER_MONTH),
        ratio("pregnancyrate0", {{SUM_CONCEPTIONS, 1}}, {{SUM_HEATS, 1}}, 1.0),
        ratio("daysopen", {{SUM_OPENMIM, 1}}, {{SUM_OPEN, 1}}, DAYS_PER_MONTH),
        ratio("opendays", {{SUM_OPEN, 1}}, {{SUM_PRESENT, 1}}, DAYS_A_YEAR),
        ratio("dim", {{SUM_DIMSUM, 1}}, {{SUM_MILKING, 1}}, 1.0),
    };
}

double combine(const T* terms, const SimYear& y)
{
    double x = 0.0;
    for (const T* t = terms; t->sign != 0; t++)
        x += t->sign * y.sum[t->sum];
    return x;
}

/* Numerator and denominator of a figure in one replicate-year. */
void parts(const SimFigure& f, const SimYear& y, int places, double& a, double& b)
{
    a = combine(f.num, y);
    b = f.ratio ? combine(f.den, y) : places;
}

void add_number(std::string& out, double x)
{
    char text[64];
    std::snprintf(text, sizeof text, ",%.6f", x);
    out += text;
}

} // namespace

const std::vector<SimFigure>& SIM_FIGURES()
{
    static const std::vector<SimFigure> figures = make_figures();
    return figures;
}

const SimFigure* SIM_FIGURE(const std::string& label)
{
    for (const SimFigure& f : SIM_FIGURES())
        if (label == f.label)
            return &f;
    return nullptr;
}

bool REPLICATE_FIGURE(const SimFigure& f, const SimYear& y, int places, double& value)
{
    double a, b;
    parts(f, y, places, a, b);
    if (!(b > 0.0))
        return false;
    value = a / b * f.scale;
    return true;
}

SimEstimate ESTIMATE_FIGURE(const SimFigure& f, int year, const std::vector<SimReplicate>& reps, int places)
{
    SimEstimate e;
    const std::size_t n = reps.size();
    if (n == 0)
        return e;
    double sa = 0.0, sb = 0.0;
    for (const SimReplicate& r : reps) {
        double a, b;
        parts(f, r.years[static_cast<std::size_t>(year - 1)], places, a, b);
        sa += a;
        sb += b;
        if (b > 0.0)
            e.replicates++;
    }
    if (!(sb > 0.0))
        return e;
    const double ratio = sa / sb;
    /* Delta method: var(sum a / sum b) ~ var(a - ratio b) / (n mean(b)^2). */
    double ss = 0.0;
    for (const SimReplicate& r : reps) {
        double a, b;
        parts(f, r.years[static_cast<std::size_t>(year - 1)], places, a, b);
        const double d = a - ratio * b;
        ss += d * d;
    }
    const double mean_b = sb / static_cast<double>(n);
    const double var = n > 1 ? ss / static_cast<double>(n - 1) : 0.0;
    e.value = ratio * f.scale;
    e.se = std::sqrt(var / static_cast<double>(n)) / mean_b * f.scale;
    return e;
}

double PERCENTILE(const std::vector<double>& sorted, double q)
{
    if (sorted.empty())
        return 0.0;
    const double h = (static_cast<double>(sorted.size()) - 1.0) * q;
    const std::size_t lo = static_cast<std::size_t>(std::floor(h));
    const std::size_t hi = std::min(lo + 1, sorted.size() - 1);
    return sorted[lo] + (h - static_cast<double>(lo)) * (sorted[hi] - sorted[lo]);
}

std::string SUMMARY_TEXT(const std::vector<SimReplicate>& reps, int places, int years)
{
    std::string out = "figure,year,scope,mean,sd,p5,p25,p50,p75,p95\n";
    std::vector<double> values;
    values.reserve(reps.size());
    for (const SimFigure& f : SIM_FIGURES())
        for (int year = 1; year <= years; year++)
            for (int scope = 0; scope < (f.ratio && !f.herd_count ? 1 : 2); scope++) {
                /* scope 0: per place; 1: the whole herd (a count for a
                ** culling rate) */
                const bool count = scope == 1 && f.herd_count;
                const double factor = scope == 0 || count ? 1.0 : places;
                values.clear();
                for (const SimReplicate& r : reps) {
                    const SimYear& y = r.years[static_cast<std::size_t>(year - 1)];
                    double v;
                    if (count)
                        values.push_back(combine(f.num, y));
                    else if (REPLICATE_FIGURE(f, y, places, v))
                        values.push_back(v * factor);
                }
                out += f.label;
                out += ',' + std::to_string(year) + (scope == 0 ? ",cow" : ",herd");
                if (values.empty()) {
                    out += ",,,,,,,\n";
                    continue;
                }
                double plain = 0.0;
                for (double v : values)
                    plain += v;
                plain /= static_cast<double>(values.size());
                /* a ratio's mean is the pooled one; a count's the plain mean */
                const double mean = count ? plain : ESTIMATE_FIGURE(f, year, reps, places).value * factor;
                double ss = 0.0;
                for (double v : values)
                    ss += (v - plain) * (v - plain);
                const double sd = values.size() > 1 ? std::sqrt(ss / static_cast<double>(values.size() - 1)) : 0.0;
                std::sort(values.begin(), values.end());
                add_number(out, mean);
                add_number(out, sd);
                for (double q : SUMMARY_PERCENTILES)
                    add_number(out, PERCENTILE(values, q));
                out += '\n';
            }
    return out;
}
