/*
** calib_charts.cpp -- the herd's records beside its calibrated values,
** for the charts of the calibration report and the workbench.
**
** The observed side is counted straight from the records: the services
** as the estimates judge them (judged_lactations, so that the two cannot
** part), months in milk as the calendar month's distance from the
** calving, so that a chart shows the raw evidence rather than the pooled
** estimate.  The calibrated
** side of a margin (a month in milk over all calendar months, or the
** reverse) is the calibrated cells weighted as the observations fall.
*/
#include "calib/calib_charts.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <map>
#include <numeric>
#include <vector>

#include "core/records.h"

namespace {

using nlohmann::json;

/* ---- constants ----
** CHART_MONTHS       months in milk the milk chart shows
** TEN_MONTHS         months in milk of the yield that checks the curves
** BREEDING_MONTHS    months in milk of the heat and conception tables
** CAL_MONTHS         calendar months
** Z95                the normal quantile of a two-sided 95 % interval
** MODEL_MONTH_DAYS     days of a model month
** MONTH_SPAN_DAYS    a month's last day after its first, at the least
** SURVIVAL_MONTHS    months since first calving the survival chart follows
** FEWEST_AT_RISK     cows at risk below which the observed share is not shown
** MONTHS_PER_YEAR    for the yearly culling rate */
constexpr int CHART_MONTHS = 15;
constexpr int TEN_MONTHS = 10;
constexpr int BREEDING_MONTHS = 14;
constexpr int CAL_MONTHS = 12;
constexpr double Z95 = 1.959964;
constexpr double MODEL_MONTH_DAYS = 30.4;
constexpr int MONTH_SPAN_DAYS = 27;
constexpr int SURVIVAL_MONTHS = 72;
constexpr double FEWEST_AT_RISK = 5;
constexpr double MONTHS_PER_YEAR = 12.0;

const char* const MONTH_NAMES[CAL_MONTHS] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                             "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

json number_or_null(double v)
{
    return std::isfinite(v) ? json(v) : json(nullptr);
}

double value_at(const BaseValues& v, const char* name, std::size_t k, double fallback)
{
    auto it = v.find(name);
    return it != v.end() && k < it->second.size() ? it->second[k] : fallback;
}

/* The Wilson 95 % interval of `s` successes in `n` trials. */
void wilson(double s, double n, double& lo, double& hi)
{
    const double p = s / n, z2 = Z95 * Z95;
    const double mid = (p + z2 / (2 * n)) / (1 + z2 / n);
    const double half = Z95 * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n)) / (1 + z2 / n);
    lo = std::max(0.0, mid - half);
    hi = std::min(1.0, mid + half);
}

/* Heat detection from services per open month S = hd (1 + (1 - hd cr) k),
** the chain's own count of a month's services (k: the share of a month in
** which a second heat falls). */
double heat_from_services(double s, double cr)
{
    const double a = cr * SECOND_HEAT, b = 1 + SECOND_HEAT;
    if (a < 1e-9)
        return std::min(1.0, s / b);
    const double disc = b * b - 4 * a * s;
    return std::min(1.0, std::max(0.0, disc < 0 ? b / (2 * a) : (b - std::sqrt(disc)) / (2 * a)));
}

struct Stays {
    std::map<int, std::vector<Stay>> of;
    /* there on `day`; a cow without stays is taken to be there */
    bool present(int cow, int day) const
    {
        auto it = of.find(cow);
        if (it == of.end())
            return true;
        for (const Stay& s : it->second)
            if (day >= s.entry && (s.exit < 0 || day <= s.exit))
                return true;
        return false;
    }
    /* the stay holding `day`, or nullptr */
    const Stay* stay_at(int cow, int day) const
    {
        auto it = of.find(cow);
        if (it == of.end())
            return nullptr;
        for (const Stay& s : it->second)
            if (day >= s.entry && (s.exit < 0 || day <= s.exit))
                return &s;
        return nullptr;
    }
};

using Lact = JudgedLactation;

json milk_chart(const HerdRecords& rec, const BaseValues& cal)
{
    json groups = json::array();
    for (int g = 1; g <= 3; g++) {
        double sum[CHART_MONTHS + 1] = {}, count[CHART_MONTHS + 1] = {};
        for (const TestDay& t : rec.tests) {
            const int m = month_index(t.day) - month_index(t.calving);
            if (std::min(t.lact, 3) != g || m < 1 || m > CHART_MONTHS || !(t.milk > 0))
                continue;
            sum[m] += t.milk;
            count[m] += 1;
        }
        const char* curve = g == 1 ? "milk_curve1" : g == 2 ? "milk_curve2" : "milk_curve3";
        json mim = json::array(), observed = json::array(), n = json::array(), fitted = json::array();
        for (int m = 1; m <= CHART_MONTHS; m++) {
            double f = 0;
            for (int s = 0; s < CAL_MONTHS; s++)
                f += value_at(cal, curve, static_cast<std::size_t>((m - 1) * CAL_MONTHS + s), NAN);
            mim.push_back(m);
            observed.push_back(count[m] > 0 ? json(sum[m] / count[m]) : json(nullptr));
            n.push_back(count[m]);
            fitted.push_back(number_or_null(f / CAL_MONTHS));
        }
        groups.push_back({{"group", g == 3 ? "3+" : std::to_string(g)},
                          {"mim", mim}, {"observed", observed}, {"n", n}, {"fitted", fitted}});
    }
    return groups;
}

/* A margin's observed side: successes (or services) over trials (or open
** months) in each of its `size` bins, and the calibrated value's weighted sum. */
struct Margin {
    std::vector<double> hits, trials, cal_sum, cal_weight;
    explicit Margin(int size) : hits(size), trials(size), cal_sum(size), cal_weight(size) {}
};

json conception_margin(const Margin& m, bool by_month)
{
    json out = json::array();
    for (std::size_t k = 0; k < m.hits.size(); k++) {
        double lo = NAN, hi = NAN;
        if (m.trials[k] > 0)
            wilson(m.hits[k], m.trials[k], lo, hi);
        out.push_back({{"at", by_month ? json(MONTH_NAMES[k]) : json(k + 1)},
                       {"n", m.trials[k]},
                       {"observed", m.trials[k] > 0 ? json(m.hits[k] / m.trials[k]) : json(nullptr)},
                       {"lo", number_or_null(lo)},
                       {"hi", number_or_null(hi)},
                       {"calibrated", m.cal_weight[k] > 0 ? json(m.cal_sum[k] / m.cal_weight[k]) : json(nullptr)}});
    }
    return out;
}

/* Heat detection's observed side: services per open month turned into a
** rate through the calibrated conception of the same months. */
json heat_margin(const Margin& m, const Margin& cr, bool by_month)
{
    json out = json::array();
    for (std::size_t k = 0; k < m.hits.size(); k++) {
        const double months = m.trials[k];
        const double c = cr.cal_weight[k] > 0 ? cr.cal_sum[k] / cr.cal_weight[k] : 0;
        json row = {{"at", by_month ? json(MONTH_NAMES[k]) : json(k + 1)}, {"n", months}};
        if (months > 0) {
            const double s = m.hits[k] / months, se = std::sqrt(std::max(s, 1e-3) / months);
            row["observed"] = heat_from_services(s, c);
            row["lo"] = heat_from_services(std::max(0.0, s - Z95 * se), c);
            row["hi"] = heat_from_services(s + Z95 * se, c);
        } else {
            row["observed"] = row["lo"] = row["hi"] = nullptr;
        }
        row["calibrated"] = m.cal_weight[k] > 0 ? json(m.cal_sum[k] / m.cal_weight[k]) : json(nullptr);
        out.push_back(row);
    }
    return out;
}

/* The calibrated conception of a service of lactation `lact` in cell r, c. */
double calibrated_conception(const BaseValues& cal, int lact, int r, int c)
{
    const double f = value_at(cal, "conception_lact", static_cast<std::size_t>(std::min(lact, 12) - 1), 1.0);
    return std::min(1.0, f * value_at(cal, "conception", static_cast<std::size_t>(r * CAL_MONTHS + c), 0.0));
}

void breeding_charts(const std::vector<Lact>& lacts, const Stays& stays, const BaseValues& cal, int first, int last,
                     json& out)
{
    Margin cr_mim(BREEDING_MONTHS), cr_cal(CAL_MONTHS), hd_mim(BREEDING_MONTHS), hd_cal(CAL_MONTHS);
    for (const Lact& l : lacts)
        for (std::size_t k = 0; k < l.services.size(); k++) {
            const int d = l.services[k];
            const int m = month_index(d) - month_index(l.calving), c = month_index(d) % CAL_MONTHS;
            if (l.outcome[k] < 0 || m < 1 || m > BREEDING_MONTHS)
                continue;
            const double p = calibrated_conception(cal, l.lact, m - 1, c);
            for (auto [margin, bin] : {std::pair{&cr_mim, m - 1}, std::pair{&cr_cal, c}}) {
                margin->hits[bin] += l.outcome[k];
                margin->trials[bin] += l.judged[k];
                margin->cal_sum[bin] += p * l.judged[k];
                margin->cal_weight[bin] += l.judged[k];
            }
        }
    /* open months: after the month of her first service until the month she
    ** conceives (or the month before her last service), whole in the window,
    ** the cow there at both ends */
    for (const Lact& l : lacts) {
        if (l.services.empty())
            continue;
        const int open_until = l.conception >= 0 ? month_index(l.conception) : month_index(l.services.back()) - 1;
        for (int mo = month_index(l.services.front()) + 1; mo <= open_until; mo++) {
            const int m = mo - month_index(l.calving), c = mo % CAL_MONTHS;
            if (m < 1 || m > BREEDING_MONTHS || mo <= month_index(first) || mo >= month_index(last))
                continue;
            if (l.next >= 0 && mo >= month_index(l.next))
                break;
            int lo_day = l.calving + static_cast<int>((m - 1) * MODEL_MONTH_DAYS);
            while (month_index(lo_day) < mo)
                lo_day++;
            while (month_index(lo_day - 1) == mo)
                lo_day--;
            if (!stays.present(l.cow, lo_day) || !stays.present(l.cow, lo_day + MONTH_SPAN_DAYS))
                continue;
            double served = 0;
            for (int d : l.services)
                served += month_index(d) == mo;
            const double hd = value_at(cal, "heat_detection", static_cast<std::size_t>((m - 1) * CAL_MONTHS + c), 0.0);
            for (auto [margin, bin] : {std::pair{&hd_mim, m - 1}, std::pair{&hd_cal, c}}) {
                margin->hits[bin] += served;
                margin->trials[bin] += 1;
                margin->cal_sum[bin] += hd;
                margin->cal_weight[bin] += 1;
            }
        }
    }
    /* the whole breeding window: what must agree if the calibration is right */
    auto total = [](const std::vector<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); };
    const double services = total(cr_mim.trials), months = total(hd_mim.trials);
    const double cr_cal_all = services > 0 ? total(cr_mim.cal_sum) / total(cr_mim.cal_weight) : NAN;
    out["checks"]["conception"] = {{"observed", number_or_null(services > 0 ? total(cr_mim.hits) / services : NAN)},
                                   {"calibrated", number_or_null(cr_cal_all)}, {"n", services}};
    out["checks"]["heat_detection"] = {
        {"observed", number_or_null(months > 0 ? heat_from_services(total(hd_mim.hits) / months,
                                                                    std::isfinite(cr_cal_all) ? cr_cal_all : 0.0)
                                               : NAN)},
        {"calibrated", number_or_null(months > 0 ? total(hd_mim.cal_sum) / total(hd_mim.cal_weight) : NAN)},
        {"n", months}};
    out["conception"] = {{"by_month_in_milk", conception_margin(cr_mim, false)},
                         {"by_calendar_month", conception_margin(cr_cal, true)}};
    out["heat_detection"] = {{"by_month_in_milk", heat_margin(hd_mim, cr_mim, false)},
                             {"by_calendar_month", heat_margin(hd_cal, cr_cal, true)}};
}

/* Share of cows still in the herd by months since their first calving
** (Kaplan-Meier): leaving for good (died, culled, sold) ends a cow's
** time, the window's end or a move away censors it. */
json survival_chart(const std::vector<Lact>& lacts, const Stays& stays, int first, int last,
                    double model_cull_rate)
{
    std::vector<std::pair<double, bool>> times; /* months, left for good */
    for (const Lact& l : lacts) {
        if (l.lact != 1 || l.calving < first || l.calving > last)
            continue;
        const Stay* st = stays.stay_at(l.cow, l.calving);
        int end = last;
        bool left = false;
        if (st && st->exit >= 0 && st->exit <= last) {
            end = st->exit;
            left = st->kind == ExitKind::died || st->kind == ExitKind::culled_involuntary ||
                   st->kind == ExitKind::culled_voluntary || st->kind == ExitKind::culled ||
                   st->kind == ExitKind::sold;
        }
        if (!st && stays.of.count(l.cow))
            continue; /* calved while not in the herd's stays: not at risk here */
        times.emplace_back((end - l.calving) / MODEL_MONTH_DAYS, left);
    }
    std::sort(times.begin(), times.end());
    json months = json::array(), observed = json::array(), at_risk = json::array(), model = json::array();
    double share = 1.0;
    std::size_t k = 0;
    for (int m = 0; m <= SURVIVAL_MONTHS; m++) {
        /* the events up to month m, each taking its share of those at risk */
        while (k < times.size() && times[k].first <= m) {
            const double risk = static_cast<double>(times.size() - k);
            if (times[k].second)
                share *= 1.0 - 1.0 / risk;
            k++;
        }
        const double risk = static_cast<double>(times.size() - k);
        months.push_back(m);
        at_risk.push_back(risk);
        observed.push_back(risk >= FEWEST_AT_RISK ? json(share) : json(nullptr));
        model.push_back(std::isfinite(model_cull_rate) ? json(std::exp(-model_cull_rate * m / MONTHS_PER_YEAR))
                                                       : json(nullptr));
    }
    json out = {{"months", months}, {"observed", observed}, {"at_risk", at_risk}, {"cows", times.size()}};
    if (std::isfinite(model_cull_rate))
        out["model"] = model;
    return out;
}

} // namespace

json CALIB_CHARTS(const HerdRecords& rec, const BaseValues& calibrated, const CalibOptions& opt, double model_cull_rate)
{
    json out = json::object();
    out["milk"] = milk_chart(rec, calibrated);
    out["checks"] = json::object();
    /* ten months' milk of each lactation group: the test days' monthly
    ** means against the calibrated curve (an open cow's, over the year) */
    for (const json& g : out["milk"]) {
        double seen = 0, fit = 0;
        bool whole = true;
        for (int m = 0; m < TEN_MONTHS; m++) {
            whole = whole && !g["observed"][m].is_null() && !g["fitted"][m].is_null();
            if (whole)
                seen += g["observed"][m].get<double>() * MODEL_MONTH_DAYS, fit += g["fitted"][m].get<double>() * MODEL_MONTH_DAYS;
        }
        double n = 0;
        for (int m = 0; m < TEN_MONTHS; m++)
            n += g["n"][m].get<double>();
        out["checks"]["milk_10m_" + g["group"].get<std::string>()] = {
            {"observed", whole ? json(seen) : json(nullptr)}, {"calibrated", whole ? json(fit) : json(nullptr)}, {"n", n}};
    }
    if (rec.tests.empty())
        return out;
    int first = rec.tests.front().day, last = first;
    for (const TestDay& t : rec.tests)
        first = std::min(first, t.day), last = std::max(last, t.day);
    Stays stays;
    for (const Stay& s : rec.stays)
        stays.of[s.cow].push_back(s);
    const std::vector<Lact> lacts = judged_lactations(rec, opt);
    breeding_charts(lacts, stays, calibrated, first, last, out);
    out["survival"] = survival_chart(lacts, stays, first, last, model_cull_rate);
    return out;
}
