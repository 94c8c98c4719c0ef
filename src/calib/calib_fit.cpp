/*
** calib_fit.cpp -- estimators of the herd's biology (calib_fit.h).
**
** Months in milk are calendar months since the calving month (the month
** after calving is month 1), the same count as the model's; the tables of
** the bio file keep month in milk m in their row m - 1.  Rates are counts
** over exposures; sparse cells of a table are pulled toward the product
** of their row's and column's rates by a fixed weight of pseudo cases
** (partial pooling), so that no cell rests on a handful of cases.
*/
#include "calib/calib_fit.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <array>
#include <functional>
#include <iterator>
#include <cstdio>
#include <cstdlib>

#include "bio/bio_items.h"
#include "core/records.h"

namespace {

/* ---- constants ----
** MONTHS_IN_MILK     rows of the milk and disposal tables (months 1..24)
** BREEDING_ROWS      rows of the heat and conception tables (months 1..14 here)
** MERGE_DAYS         inseminations this close to the one before are one service
** RESOLVE_DAYS       the window must run on this long after a service to judge it
** EARLIEST_CHECK_DAYS, LATEST_EARLY_CHECK_DAYS  a check this long after a
**                    service tells whether that service conceived
** Z95                the normal quantile of a two-sided 95 % interval
** POOL_SERVICES      pseudo services pulling a conception cell to its row x column
** POOL_MONTHS        pseudo cow-months pulling a heat detection cell likewise
** POOL_EXPOSURE      pseudo cow-months pulling a disposal cell likewise
** MIN_TESTS          test days below which a lactation group keeps its base curve
** MIN_SERVICES       resolved services below which conception keeps its base
** MIN_OPEN_MONTHS    open cow-months at risk below which heat detection keeps its base
** MIN_DISPOSALS      involuntary exits below which disposal keeps its base
** MIN_LACT_EXPOSURE  cow-months of a lactation below which its factor keeps its base
** MIN_LACTATIONS     lactations below which yield_sd keeps its base; pairs for yield_corr
** MIN_LACT_TESTS     test days a lactation needs to give its relative yield
** MIN_CHECK_PAIRS    checked pregnancies below which abortion keeps its base
** MIN_FIRST_SERVICES first services below which the waiting periods keep their base
** VWP_QUANTILE, LBM_QUANTILE  the share of first services before the waiting
**                    period's end, and of conceptions by the last breeding month
** LOWEST_VWP, HIGHEST_VWP  the reader's limits on the waiting periods and last month
** MID_MONTH_DAYS     days in milk at the middle of month in milk m: 30.4 (m - 0.5)
** FIRST_PREG_EFFECT, LAST_PREG_EFFECT  months of pregnancy whose milk effect is fitted
** END_TESTS          test days at a lactation's end that tell where a cow stood
**                    when she was kept for the next */
constexpr int MONTHS_IN_MILK = 24;
constexpr int BREEDING_ROWS = 14;
constexpr int MERGE_DAYS = 3;
constexpr int RESOLVE_DAYS = 340;
constexpr int EARLIEST_CHECK_DAYS = 25, LATEST_EARLY_CHECK_DAYS = 150;
constexpr double Z95 = 1.959964;
constexpr double POOL_SERVICES = 8.0;
constexpr double POOL_MONTHS = 8.0;
constexpr double POOL_EXPOSURE = 150.0;
constexpr int MIN_TESTS = 300;
constexpr int MIN_SERVICES = 100;
constexpr int MIN_OPEN_MONTHS = 150;
constexpr int MIN_DISPOSALS = 10;
constexpr double MIN_LACT_EXPOSURE = 300.0;
constexpr int MIN_LACTATIONS = 40;
constexpr int MIN_LACT_TESTS = 4;
constexpr int MIN_CHECK_PAIRS = 30;
constexpr int MIN_FIRST_SERVICES = 30;
constexpr double VWP_QUANTILE = 0.02, LBM_QUANTILE = 0.98;
constexpr int LOWEST_VWP = 3, HIGHEST_VWP = 16;
constexpr double MID_MONTH_DAYS = 30.4;
constexpr int FIRST_PREG_EFFECT = 5, LAST_PREG_EFFECT = 7;
constexpr double DAYS_PER_YEAR = 365.25;
constexpr double CYCLE_DAYS = 21.0;
constexpr int END_TESTS = 6;
constexpr double LOWEST_RELIABILITY = 0.2; /* of a cow's end-of-lactation yield, before its slope is trusted less */

/* The model's lift of the next lactation's yield after a long calving
** interval (lactations 1 and 2), by the month in milk of the calving:
** a cow calving late starts her next lactation this much higher. */
constexpr double CALVING_INTERVAL_LIFT[MONTHS_IN_MILK + 1] = {
    1.0,         1.0,        1.0,         1.0,         1.0,         1.0,         1.0,         1.0,         1.0,
    1.0,         1.0,        0.980392157, 1.0,         1.01010101,  1.020408163, 1.030927835, 1.03626943,  1.041666667,
    1.047120419, 1.052631579, 1.052631579, 1.052631579, 1.052631579, 1.052631579, 1.052631579};

const char* const MONTHS[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

double base_at(const BaseValues& base, const std::string& name, std::size_t k, double fallback)
{
    auto it = base.find(name);
    return it != base.end() && k < it->second.size() ? it->second[k] : fallback;
}

std::string fmt(const char* f, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

/* Solves the normal equations A x = b (A symmetric, n x n) by Gaussian
** elimination with partial pivoting; false when A is singular. */
bool solve(std::vector<double> A, std::vector<double> b, int n, std::vector<double>& x)
{
    for (int c = 0; c < n; c++) {
        int p = c;
        for (int r = c + 1; r < n; r++)
            if (std::fabs(A[r * n + c]) > std::fabs(A[p * n + c]))
                p = r;
        if (std::fabs(A[p * n + c]) < 1e-10)
            return false;
        if (p != c) {
            for (int k = 0; k < n; k++)
                std::swap(A[p * n + k], A[c * n + k]);
            std::swap(b[p], b[c]);
        }
        for (int r = c + 1; r < n; r++) {
            const double f = A[r * n + c] / A[c * n + c];
            for (int k = c; k < n; k++)
                A[r * n + k] -= f * A[c * n + k];
            b[r] -= f * b[c];
        }
    }
    x.assign(n, 0.0);
    for (int r = n - 1; r >= 0; r--) {
        double s = b[r];
        for (int k = r + 1; k < n; k++)
            s -= A[r * n + k] * x[k];
        x[r] = s / A[r * n + r];
    }
    return true;
}

using Lactation = JudgedLactation;

struct Herd {
    int first = 0, last = 0; /* the record window */
    std::vector<Lactation> lacts;
    std::map<int, std::vector<Stay>> stays;
};

/* Whether the cow is in the herd on `day` (a cow with no stay recorded is
** taken to be there while she has records). */
bool present(const Herd& h, int cow, int day)
{
    auto it = h.stays.find(cow);
    if (it == h.stays.end())
        return true;
    for (const Stay& s : it->second)
        if (day >= s.entry && (s.exit < 0 || day <= s.exit))
            return true;
    return false;
}

/* The stay holding `day`, or nullptr (also for a cow with no stay recorded). */
const Stay* stay_holding(const Herd& h, int cow, int day)
{
    auto it = h.stays.find(cow);
    if (it == h.stays.end())
        return nullptr;
    for (const Stay& s : it->second)
        if (day >= s.entry && (s.exit < 0 || day <= s.exit))
            return &s;
    return nullptr;
}

/* The share of a leaving for good that is the farmer's choice: a voluntary
** cull or a sale is, a death or an involuntary cull is not, and a slaughter
** that does not say which is by the involuntary share. */
double voluntary_share(ExitKind kind, double involuntary_share)
{
    switch (kind) {
    case ExitKind::culled_voluntary:
    case ExitKind::sold:
        return 1.0;
    case ExitKind::culled:
        return 1.0 - involuntary_share;
    default:
        return 0.0;
    }
}

/* The outcome of each service of a lactation.  It conceived when a calving
** follows it within the gestation window (it being her last service) or
** when a check finds her pregnant before her next service; it did not when
** another service or an open check follows, or when she stays open in the
** herd for RESOLVE_DAYS after it.  It did not either when she is culled or
** sold by choice before any of these: a farmer rarely parts with a cow he
** has just got in calf, and mostly with one he knows or thinks is open,
** so dropping these services would leave the failures out and lift the
** rate.  A death or an involuntary cull says nothing of the service, and
** a slaughter that does not say which counts as a failure by its
** voluntary share only.  Otherwise the outcome is not known: she left for
** other reasons, or the window ended, too soon. */
void judge_services(const Herd& h, Lactation& l, const std::vector<PregnancyCheck>& checks, double involuntary_share)
{
    l.outcome.assign(l.services.size(), -1);
    l.judged.assign(l.services.size(), 1.0);
    for (std::size_t k = 0; k < l.services.size(); k++) {
        const int d = l.services[k];
        const int next = k + 1 < l.services.size() ? l.services[k + 1] : (l.next >= 0 ? l.next : 1 << 30);
        int verdict = -1;
        for (const PregnancyCheck& c : checks)
            if (c.day >= d + EARLIEST_CHECK_DAYS && c.day < next && c.day <= d + LATEST_EARLY_CHECK_DAYS &&
                verdict < 0)
                verdict = c.pregnant ? 1 : 0;
        if (l.conception == d)
            verdict = 1;
        if (verdict < 0 && k + 1 < l.services.size())
            verdict = 0;
        if (verdict < 0 && l.next >= 0)
            verdict = 0; /* calved, but not from this service */
        const Stay* stay = h.stays.count(l.cow) ? stay_holding(h, l.cow, d) : nullptr;
        if (verdict < 0 && h.last - d >= RESOLVE_DAYS) {
            if (!h.stays.count(l.cow) || (stay && (stay->exit < 0 || stay->exit >= d + RESOLVE_DAYS)))
                verdict = 0;
        }
        if (verdict < 0 && stay && stay->exit >= 0 && stay->exit < d + RESOLVE_DAYS) {
            const double chosen = voluntary_share(stay->kind, involuntary_share);
            if (chosen > 0)
                verdict = 0, l.judged[k] = chosen;
        }
        l.outcome[k] = verdict;
        if (verdict < 0)
            l.judged[k] = 0.0;
        if (verdict == 1 && l.conception < 0 && k + 1 == l.services.size())
            l.conception = d; /* checked pregnant, her calving not seen */
    }
}

Herd build_herd(const HerdRecords& rec, const CalibOptions& opt)
{
    Herd h;
    h.first = rec.tests.front().day;
    h.last = h.first;
    for (const TestDay& t : rec.tests) {
        h.first = std::min(h.first, t.day);
        h.last = std::max(h.last, t.day);
    }
    for (const Stay& s : rec.stays)
        h.stays[s.cow].push_back(s);
    /* calvings: the table's, else the test days' */
    std::map<int, std::map<int, int>> calv; /* cow -> day -> lact */
    if (rec.have_calvings)
        for (const Calving& c : rec.calvings)
            calv[c.cow][c.day] = c.lact;
    for (const TestDay& t : rec.tests)
        if (!rec.have_calvings || !calv[t.cow].count(t.calving))
            calv[t.cow].emplace(t.calving, t.lact);
    std::map<int, std::vector<PregnancyCheck>> checks;
    for (const PregnancyCheck& c : rec.checks)
        checks[c.cow].push_back(c);
    std::map<int, std::vector<int>> ins;
    for (const Insemination& s : rec.inseminations)
        ins[s.cow].push_back(s.day);
    for (auto& [cow, days] : ins)
        std::sort(days.begin(), days.end());

    for (const auto& [cow, days] : calv) {
        std::vector<std::pair<int, int>> list(days.begin(), days.end());
        for (std::size_t k = 0; k < list.size(); k++) {
            Lactation l;
            l.cow = cow, l.lact = list[k].second, l.calving = list[k].first;
            l.next = k + 1 < list.size() ? list[k + 1].first : -1;
            int prev = -1000000;
            for (int d : ins[cow]) {
                if (d <= l.calving || (l.next >= 0 && d >= l.next))
                    continue;
                if (d - prev <= MERGE_DAYS)
                    continue; /* the same heat */
                prev = d;
                if (d >= h.first && d <= h.last)
                    l.services.push_back(d);
            }
            if (l.next >= 0 && !l.services.empty()) {
                const int gap = l.next - l.services.back();
                if (gap >= opt.gestation_min && gap <= opt.gestation_max)
                    l.conception = l.services.back();
            }
            judge_services(h, l, checks[cow], opt.involuntary_share);
            h.lacts.push_back(l);
        }
    }
    return h;
}

/* The last day of the month of `day` (a week at a time, then day by day). */
int month_last_day(int day)
{
    const int mo = month_index(day);
    int last = day;
    while (month_index(last + 7) == mo)
        last += 7;
    while (month_index(last + 1) == mo)
        last++;
    return last;
}

/* The month in milk of `day` in a lactation that began on `calving`. */
int month_in_milk(int calving, int day)
{
    return month_index(day) - month_index(calving);
}

void add(CalibResult& out, int item, const char* name, int row, int col, double value, double n, double lo,
         double hi, bool used, const std::string& why)
{
    Estimate e;
    e.item = item;
    e.name = name;
    e.row = row;
    e.col = col;
    const int f = find_bio_field(name);
    assert(f >= 0);
    const BioField& bf = bio_fields()[f];
    std::string r = bf.rows > 1 ? axis_label(bf.row_axis, bf.first_row, row) : "";
    std::string c = bf.cols > 1 ? axis_label(bf.col_axis, bf.first_col, col) : "";
    e.index = r.empty() ? c : (c.empty() ? r : r + "." + c);
    const double lowest = bf.lowest, highest = bf.highest;
    e.value = std::min(highest, std::max(lowest, value));
    e.n = n;
    e.lo = lo;
    e.hi = hi;
    e.used = used;
    e.why = why;
    out.estimates.push_back(e);
}

/* ---- milk --------------------------------------------------------------- */

struct MilkFit {
    bool ok = false;
    double b = 0, c = 0;          /* Wood's shape t^b exp(-c t) */
    double season[12] = {};       /* log factor of each calendar month (JAN 0) */
    double month[MONTHS_IN_MILK + 1] = {}; /* the month-by-month shape, month 1 = 1 */
    double level = 1.0;           /* Wood's curve at its level: where t^b exp(-c t) is 1 */
    double start = 1.0;           /* an average cow's first month (month-by-month shape) */
    double curve[MONTHS_IN_MILK + 1][12] = {};
    double preg[LAST_PREG_EFFECT + 1] = {};
    double noise_var = 0; /* of a test day's log yield about its cow's own curve */
    double start_slope = 0; /* a cow's start on her end of the lactation before */
    double slope_se = 0;
    double start_rel_var = 0; /* of the starts about their mean, relative */
    double rel_se = 0;      /* relative standard error of the level */
    int n = 0, starts = 0, pairs = 0;
};

/* Wood's shape (no level) in month in milk m and calendar month s. */
double shape_at(const MilkFit& f, int m, int s)
{
    const double days = MID_MONTH_DAYS * (m - 0.5);
    return std::exp(f.b * std::log(days) - f.c * days + f.season[s]);
}

/* The month-by-month curve of an average open cow, her first month at `start`. */
double month_curve(const MilkFit& f, int m, int s)
{
    return f.start * f.month[std::min(MONTHS_IN_MILK, std::max(1, m))] * std::exp(f.season[s]);
}

/* Months of pregnancy of a test day (0: open or conception not known). */
int pregnancy_month(const TestDay& t, const std::map<std::pair<int, int>, int>& conceived)
{
    auto c = conceived.find({t.cow, t.calving});
    return c != conceived.end() && t.day > c->second ? month_index(t.day) - month_index(c->second) : 0;
}

/* The curve's shape from how each cow's own yield rises and falls: log
** yields with a level of each cow's lactation, an effect of each month in
** milk, of each calendar month and of months 5..7 of pregnancy; the herd
** culling its low yielders part way through a lactation cannot bend it.
** Wood's curve y = a t^b exp(-c t) is then fitted to the month effects
** (weighted by their test days).  The levels are set afterwards. */
MilkFit fit_milk(const std::vector<const TestDay*>& tests, const std::map<std::pair<int, int>, int>& conceived)
{
    /* parameters: months in milk 2..24, 11 calendar months (JAN is 0), pregnancy months 5..7 */
    constexpr int SEASON0 = MONTHS_IN_MILK - 1, PREG0 = SEASON0 + 11;
    constexpr int P = PREG0 + (LAST_PREG_EFFECT - FIRST_PREG_EFFECT + 1);
    MilkFit fit;
    std::vector<std::array<double, P>> rows;
    std::vector<double> ys;
    std::vector<long> lact_id;
    double per_month[MONTHS_IN_MILK + 1] = {};
    for (const TestDay* t : tests) {
        const int m = month_in_milk(t->calving, t->day);
        if (m < 1 || m > MONTHS_IN_MILK || t->milk <= 0)
            continue;
        const int preg = pregnancy_month(*t, conceived);
        if (preg > LAST_PREG_EFFECT)
            continue; /* drying off */
        std::array<double, P> v{};
        if (m > 1)
            v[m - 2] = 1;
        const int s = month_index(t->day) % 12;
        if (s > 0)
            v[SEASON0 + s - 1] = 1;
        if (preg >= FIRST_PREG_EFFECT)
            v[PREG0 + preg - FIRST_PREG_EFFECT] = 1;
        rows.push_back(v);
        ys.push_back(std::log(t->milk));
        lact_id.push_back(static_cast<long>(t->cow) * 100000L + t->calving);
        per_month[m]++;
    }
    fit.n = static_cast<int>(ys.size());
    if (fit.n < MIN_TESTS)
        return fit;
    /* each lactation's means, taken out of its test days */
    std::map<long, std::pair<std::array<double, P + 1>, int>> mean;
    for (std::size_t k = 0; k < ys.size(); k++) {
        auto& g = mean[lact_id[k]];
        for (int i = 0; i < P; i++)
            g.first[i] += rows[k][i];
        g.first[P] += ys[k];
        g.second++;
    }
    /* The normal equations of the test days less their lactation's means:
    ** the sums over the (sparse) test days less each lactation's count
    ** times its means, so that no test day's row is ever made dense. */
    std::vector<double> A(P * P, 0.0), b(P, 0.0), x;
    std::vector<std::vector<int>> nonzero(ys.size());
    for (std::size_t k = 0; k < ys.size(); k++) {
        for (int i = 0; i < P; i++)
            if (rows[k][i] != 0)
                nonzero[k].push_back(i);
        for (int i : nonzero[k]) {
            b[i] += rows[k][i] * ys[k];
            for (int j : nonzero[k])
                A[i * P + j] += rows[k][i] * rows[k][j];
        }
    }
    for (const auto& [id, g] : mean) {
        std::vector<int> nz;
        for (int i = 0; i < P; i++)
            if (g.first[i] != 0)
                nz.push_back(i);
        for (int i : nz) {
            b[i] -= g.first[i] * g.first[P] / g.second;
            for (int j : nz)
                A[i * P + j] -= g.first[i] * g.first[j] / g.second;
        }
    }
    for (int i = 0; i < P; i++)
        A[i * P + i] += 1e-9; /* a month without cases stays at 0 */
    if (!solve(A, b, P, x))
        return fit;
    std::map<long, double> mean_fit; /* each lactation's mean row times the fit */
    for (const auto& [id, g] : mean) {
        double f = 0;
        for (int i = 0; i < P; i++)
            f += g.first[i] / g.second * x[i];
        mean_fit[id] = f;
    }
    double ss = 0;
    for (std::size_t k = 0; k < ys.size(); k++) {
        const auto& g = mean.at(lact_id[k]);
        double f = -mean_fit.at(lact_id[k]);
        for (int i : nonzero[k])
            f += rows[k][i] * x[i];
        const double e = ys[k] - g.first[P] / g.second - f;
        ss += e * e;
    }
    fit.noise_var = ss / std::max<double>(1.0, double(fit.n) - double(mean.size()) - P);
    fit.month[1] = 1;
    for (int m = 2; m <= MONTHS_IN_MILK; m++)
        fit.month[m] = std::exp(x[m - 2]);
    for (int s = 1; s < 12; s++)
        fit.season[s] = x[SEASON0 + s - 1];
    for (int p = FIRST_PREG_EFFECT; p <= LAST_PREG_EFFECT; p++)
        fit.preg[p] = std::exp(x[PREG0 + p - FIRST_PREG_EFFECT]);
    /* Wood's curve through the month effects: log y = ln a + b ln t - c t */
    std::vector<double> W(9, 0.0), wb(3, 0.0), w;
    for (int m = 1; m <= MONTHS_IN_MILK; m++) {
        const double days = MID_MONTH_DAYS * (m - 0.5);
        const double v[3] = {1, std::log(days), -days}, y = std::log(fit.month[m]);
        for (int i = 0; i < 3; i++) {
            wb[i] += per_month[m] * v[i] * y;
            for (int j = 0; j < 3; j++)
                W[i * 3 + j] += per_month[m] * v[i] * v[j];
        }
    }
    if (!solve(W, wb, 3, w))
        return fit;
    fit.b = w[1];
    fit.c = w[2];
    fit.ok = true;
    return fit;
}

/* An average cow's first month in a lactation, from the cows' first test
** days over the curve's first month.  With the curve of the lactation
** before, each cow's start is set against where she stood at the end of
** it (her last test days over that curve) and the start is the line's
** height at 1: the herd chose its cows on that standing, and choosing on
** the regressor does not tilt the line.  The test-day noise in the
** standing, which flattens the line, is taken out. */
struct StartLine {
    double start = 0, slope = 0, slope_se = 0; /* slope relative to the start */
    double rel_var = 0;                        /* of the starts about the start, relative */
    int starts = 0, pairs = 0;
};

using LactTests = std::map<std::pair<int, int>, std::vector<const TestDay*>>; /* (cow, calving), by day */

StartLine start_line(const LactTests& lact_tests, const std::map<std::pair<int, int>, int>& conceived, int lact,
                     const std::function<double(const TestDay&)>& first_month,
                     const std::function<double(const TestDay&, int)>& before, double before_noise,
                     const std::function<double(int)>& lift)
{
    StartLine line;
    std::vector<double> starts;
    double sx = 0, su = 0, sxx = 0, sxu = 0, suu = 0, noise = 0;
    int pairs = 0;
    for (auto it = lact_tests.begin(); it != lact_tests.end(); ++it) {
        const TestDay& t = *it->second.front();
        if (std::min(t.lact, 12) != lact || month_in_milk(t.calving, t.day) != 1)
            continue;
        double u = t.milk / first_month(t);
        starts.push_back(u);
        if (!before || it == lact_tests.begin())
            continue;
        const auto prev = std::prev(it);
        if (prev->first.first != t.cow || prev->second.front()->lact != lact - 1)
            continue;
        double x = 0;
        int nx = 0;
        for (auto k = prev->second.rbegin(); k != prev->second.rend() && nx < END_TESTS; ++k) {
            const int p = pregnancy_month(**k, conceived);
            if (p > LAST_PREG_EFFECT || month_in_milk((*k)->calving, (*k)->day) > MONTHS_IN_MILK)
                continue;
            x += (*k)->milk / before(**k, p), nx++;
        }
        if (nx == 0)
            continue;
        x /= nx;
        u /= lift(month_in_milk(prev->first.second, t.calving));
        sx += x, su += u, sxx += x * x, sxu += x * u, suu += u * u, noise += before_noise / nx, pairs++;
    }
    if (starts.empty())
        return line;
    for (double u : starts)
        line.start += u / starts.size();
    line.starts = static_cast<int>(starts.size());
    if (pairs >= MIN_LACTATIONS) {
        const double mx = sx / pairs, mu = su / pairs;
        const double vx = (sxx - pairs * mx * mx) / (pairs - 1), cxu = (sxu - pairs * mx * mu) / (pairs - 1);
        const double reliability = vx > 0 ? std::max(LOWEST_RELIABILITY, 1.0 - noise / pairs / vx) : 1.0;
        const double slope = vx > 0 ? cxu / vx / reliability : 0.0;
        line.start = mu - slope * (mx - 1.0);
        line.slope = line.start > 0 ? slope / line.start : 0.0;
        const double vu = (suu - pairs * mu * mu) / (pairs - 1);
        const double resid = vx > 0 ? std::max(0.0, vu - cxu * cxu / vx) : vu;
        line.slope_se = vx > 0 && line.start > 0 ? std::sqrt(resid / (pairs * vx)) / reliability / line.start : 0.0;
        line.pairs = pairs;
    }
    double var = 0;
    for (double u : starts)
        var += (u - line.start) * (u - line.start);
    line.rel_var = line.start > 0 ? var / std::max<std::size_t>(1, starts.size() - 1) / (line.start * line.start) : 0;
    return line;
}

/* The curve of the fit at its level. */
void set_curve(MilkFit& f)
{
    for (int m = 1; m <= MONTHS_IN_MILK; m++)
        for (int s = 0; s < 12; s++)
            f.curve[m][s] = f.level * shape_at(f, m, s);
}

/* A bio file's values, by field name. */
class BaseSink : public BioSink {
public:
    BaseValues values;
    void value(const BioToken& at, const std::string& token, double) override
    {
        const BioField& f = bio_fields()[at.field];
        /* the switch of the calving interval's lift reads as 1 when on */
        const double number = f.name == std::string("ci_adjust") ? (token == "YES" ? 1.0 : 0.0)
                                                                  : std::strtod(token.c_str(), nullptr);
        auto& v = values[f.name];
        const std::size_t k = static_cast<std::size_t>(at.row * f.cols + at.col);
        if (v.size() <= k)
            v.resize(k + 1, 0.0);
        v[k] = number;
    }
    bool fault(const BioFault&) override { return true; }
};

} // namespace

std::vector<JudgedLactation> judged_lactations(const HerdRecords& rec, const CalibOptions& opt)
{
    if (rec.tests.empty())
        return {};
    return build_herd(rec, opt).lacts;
}

BaseValues bio_values(const std::string& text)
{
    BaseSink sink;
    walk_bio_text(text, sink, false);
    return sink.values;
}

void breeding_means(const BaseValues& v, double& conception, double& heat_detection)
{
    /* the waiting period's end and the last breeding month in months in milk */
    const int lbm = static_cast<int>(base_at(v, "lbm", 0, 13)) - 1;
    double c = 0, hd = 0;
    int n = 0, nh = 0;
    for (int l = 1; l <= 3; l++) {
        const char* name = l == 1 ? "vwp1" : l == 2 ? "vwp2" : "vwp3";
        const int first = static_cast<int>(base_at(v, name, 0, 3)) - 1;
        const double f = base_at(v, "conception_lact", l - 1, 1);
        for (int m = std::max(1, first); m <= lbm && m <= BREEDING_ROWS; m++)
            for (int s = 0; s < 12; s++) {
                c += std::min(1.0, f * base_at(v, "conception", (m - 1) * 12 + s, 0)), n++;
                hd += base_at(v, "heat_detection", (m - 1) * 12 + s, 0), nh++;
            }
    }
    conception = n ? c / n : 0;
    heat_detection = nh ? hd / nh : 0;
}

BaseValues calibrated_values(const BaseValues& base, const std::vector<Estimate>& estimates)
{
    BaseValues v = base;
    for (const Estimate& e : estimates)
        if (e.used) {
            const BioField& f = bio_fields()[find_bio_field(e.name)];
            auto& cells = v[e.name];
            const std::size_t k = static_cast<std::size_t>(e.row * f.cols + e.col);
            if (cells.size() <= k)
                cells.resize(k + 1, 0.0);
            cells[k] = e.value;
        }
    return v;
}

namespace {

CalibResult calibrate_once(const HerdRecords& rec, const BaseValues& base, const CalibOptions& opt)
{
    CalibResult out;
    if (rec.tests.empty()) {
        out.missing = "no test days";
        return out;
    }
    const Herd h = build_herd(rec, opt);
    std::map<std::pair<int, int>, int> conceived;
    for (const Lactation& l : h.lacts)
        if (l.conception >= 0)
            conceived[{l.cow, l.calving}] = l.conception;

    /* ---- milk curves, lactations 1, 2 and 3 ---- */
    MilkFit fits[4];
    {
        std::vector<const TestDay*> group[4];
        for (const TestDay& t : rec.tests)
            group[std::min(t.lact, 3)].push_back(&t);
        for (int g = 1; g <= 3; g++)
            fits[g] = fit_milk(group[g], conceived);
        /* The level of each curve: an average cow in her first month in
        ** milk.  Nobody has been culled yet in a first lactation's first
        ** month, so its mean is the level.  The cows starting a second
        ** or third lactation are those the herd kept: a cow's start is
        ** regressed on where she stood at the end of her lactation before
        ** (the mean of her last test days against that curve), and the
        ** level is the line's value for a cow that stood at 1.  Selection
        ** on the regressor leaves the line unbiased; the test-day noise in
        ** it, which flattens the line, is taken out. */
        LactTests lact_tests;
        for (const TestDay& t : rec.tests)
            if (t.milk > 0 && month_in_milk(t.calving, t.day) >= 1)
                lact_tests[{t.cow, t.calving}].push_back(&t);
        for (auto& [key, v] : lact_tests)
            std::sort(v.begin(), v.end(), [](const TestDay* a, const TestDay* b) { return a->day < b->day; });
        const bool lift = base_at(base, "ci_adjust", 0, 0) > 0;
        for (int g = 1; g <= 3; g++) {
            MilkFit& f = fits[g];
            if (!f.ok)
                continue;
            const MilkFit& pf = fits[g - 1];
            auto first_month = [&f](const TestDay& t) { return f.month[1] * std::exp(f.season[month_index(t.day) % 12]); };
            auto before = [&pf](const TestDay& t, int p) {
                return month_curve(pf, month_in_milk(t.calving, t.day), month_index(t.day) % 12) *
                       (p >= FIRST_PREG_EFFECT ? pf.preg[p] : 1.0);
            };
            auto lifted = [&](int m) { return lift && g - 1 <= 2 ? CALVING_INTERVAL_LIFT[std::min(MONTHS_IN_MILK, m)] : 1.0; };
            std::function<double(const TestDay&, int)> before_fn;
            if (g >= 2 && pf.ok)
                before_fn = before;
            const StartLine sl = start_line(lact_tests, conceived, g, first_month, before_fn, pf.noise_var, lifted);
            if (sl.starts == 0)
                continue;
            f.start = sl.start;
            f.start_slope = sl.slope;
            f.slope_se = sl.slope_se;
            f.pairs = sl.pairs;
            f.starts = sl.starts;
            f.start_rel_var = sl.rel_var;
            f.rel_se = std::sqrt(f.start_rel_var / sl.starts);
            /* Wood's curve gives the ten months of the month-by-month curve */
            double months = 0, wood = 0;
            for (int m = 1; m <= 10; m++)
                months += f.month[m], wood += shape_at(f, m, 0);
            f.level = f.start * months / wood;
            set_curve(f);
        }
        /* the effect of pregnancy, pooled over the groups */
        for (int p = FIRST_PREG_EFFECT; p <= LAST_PREG_EFFECT; p++) {
            double s = 0, w = 0;
            for (int g = 1; g <= 3; g++)
                if (fits[g].ok)
                    s += fits[g].preg[p] * fits[g].n, w += fits[g].n;
            const bool ok = w > 0 && s / w > 0.3;
            add(out, 7, "milk_factor", 0, p - 1, ok ? s / w : base_at(base, "milk_factor", p - 1, 1), w, 0, 0, ok,
                ok ? "" : "no pregnant test days with a known conception");
        }
        /* Later lactations against the third's curve: an average cow's start
        ** over the third's, found like the levels of lactations 2 and 3
        ** (the cows reaching them are the kept ones too). */
        double factor[13] = {};
        factor[3] = 1.0;
        const MilkFit& f3 = fits[3];
        for (int l = 4; l <= 12; l++) {
            auto first_month = [&f3](const TestDay& t) { return month_curve(f3, 1, month_index(t.day) % 12); };
            const double prev_factor = factor[l - 1];
            auto before = [&f3, prev_factor](const TestDay& t, int p) {
                return prev_factor * month_curve(f3, month_in_milk(t.calving, t.day), month_index(t.day) % 12) *
                       (p >= FIRST_PREG_EFFECT ? f3.preg[p] : 1.0);
            };
            std::function<double(const TestDay&, int)> before_fn;
            if (prev_factor > 0)
                before_fn = before;
            StartLine sl;
            if (f3.ok)
                sl = start_line(lact_tests, conceived, l, first_month, before_fn, f3.noise_var,
                                [](int) { return 1.0; });
            const bool ok = f3.ok && sl.starts >= MIN_LACTATIONS;
            factor[l] = ok ? sl.start : 0.0;
            add(out, 36, "lactation_factor", 0, l - 4, ok ? sl.start : base_at(base, "lactation_factor", l - 4, 1),
                sl.starts, 0, 0, ok,
                ok ? "" : "too few cows tested in their first month of this lactation (" + std::to_string(sl.starts) + ")");
        }
    }

    /* ---- yield_sd and yield_corr ----
    ** yield_sd: the spread of heifers' first months about the curve, less
    ** the test-day noise in it (nobody has been culled yet, so the spread
    ** is that of all cows).  yield_corr: the slope of a cow's start on her
    ** standing at the end of her lactation before, the line that set the
    ** later curves' levels, pooled over lactations 2 and 3 by their pairs. */
    {
        const MilkFit& f1 = fits[1];
        const double noise = std::exp(f1.noise_var) - 1.0; /* of a test day's ratio to its cow's curve */
        const double var = (f1.start_rel_var - noise) / (1.0 + noise);
        const int n = f1.starts;
        const bool ok = f1.ok && n >= MIN_LACTATIONS && var > 0;
        const double sd = ok ? 100.0 * std::sqrt(var) : base_at(base, "yield_sd", 0, 10);
        const double se = sd / std::sqrt(2.0 * std::max(1, n - 1));
        add(out, 33, "yield_sd", 0, 0, sd, n, sd - Z95 * se, sd + Z95 * se, ok,
            ok ? "" : "too few heifers tested in their first month (" + std::to_string(n) + ")");
        out.summary["yield_sd"] = sd;
        out.summary_se["yield_sd"] = se;
        double w = 0, slope = 0, slope_var = 0;
        for (int g = 2; g <= 3; g++)
            if (fits[g].pairs > 0) {
                w += fits[g].pairs, slope += fits[g].pairs * fits[g].start_slope;
                slope_var += double(fits[g].pairs) * fits[g].pairs * fits[g].slope_se * fits[g].slope_se;
            }
        const int pairs = static_cast<int>(w);
        const bool cok = ok && pairs >= MIN_LACTATIONS;
        double corr = cok ? slope / w : base_at(base, "yield_corr", 0, 0.5);
        corr = std::min(0.99, std::max(-0.99, corr));
        const double cse = cok ? std::sqrt(slope_var) / w : 0.0;
        add(out, 33, "yield_corr", 0, 0, corr, pairs, corr - Z95 * cse, corr + Z95 * cse, cok,
            cok ? "" : "too few cows tested at the end of one lactation and the start of the next (" +
                           std::to_string(pairs) + ")");
        out.summary["yield_corr"] = corr;
        out.summary_se["yield_corr"] = cse;
    }

    /* ---- the curves of an average cow ---- */
    for (int g = 1; g <= 3; g++) {
            static const char* names[4] = {"", "milk_curve1", "milk_curve2", "milk_curve3"};
            const MilkFit& f = fits[g];
            const std::string why = f.ok ? "" : "too few test days (" + std::to_string(f.n) + " < " +
                                                    std::to_string(MIN_TESTS) + ")";
            double ten = 0;
            for (int m = 1; m <= MONTHS_IN_MILK; m++)
                for (int s = 0; s < 12; s++) {
                    const double v = f.ok ? f.curve[m][s] : base_at(base, names[g], (m - 1) * 12 + s, 0);
                    if (m <= 10)
                        ten += v * MID_MONTH_DAYS / 12.0;
                    add(out, 7 + g, names[g], m - 1, s, v, f.n, v * (1 - Z95 * f.rel_se), v * (1 + Z95 * f.rel_se),
                        f.ok, why);
                }
            const std::string key = "milk_10m_" + std::to_string(g);
            out.summary[key] = ten;
            out.summary_se[key] = ten * f.rel_se;
            out.observed[g == 3 ? "milk_305d_3plus" : "milk_305d_" + std::to_string(g)] = ten * 305.0 / 304.0;
    }

    /* ---- services: resolved and successful ---- */
    struct Service {
        int lact, mim, month;
        bool success, first;
        double judged; /* the share of the service whose outcome is known */
    };
    std::vector<Service> resolved;
    double first_services = 0, judged_services = 0;
    int first_success = 0;
    std::vector<int> first_mims[4], success_mims;
    for (const Lactation& l : h.lacts)
        for (std::size_t k = 0; k < l.services.size(); k++) {
            const int d = l.services[k];
            const int mim = month_in_milk(l.calving, d);
            if (k == 0)
                first_mims[std::min(l.lact, 3)].push_back(mim);
            const bool success = l.outcome[k] == 1;
            if (success)
                success_mims.push_back(mim);
            if (l.outcome[k] < 0)
                continue;
            resolved.push_back({std::min(l.lact, 12), mim, month_index(d) % 12, success, k == 0, l.judged[k]});
            judged_services += l.judged[k];
            if (k == 0)
                first_services += l.judged[k], first_success += success;
        }
    int total_success = 0;
    for (const Service& s : resolved)
        total_success += s.success;
    out.observed["conception_all_services"] = judged_services > 0 ? total_success / judged_services : NAN;
    out.observed["conception_first_service"] = first_services > 0 ? first_success / first_services : NAN;

    /* ---- conception: lactation factors, then cells pooled toward row x column ---- */
    double conc[BREEDING_ROWS][12];
    {
        const int N = static_cast<int>(judged_services); /* a half-known service counts half */
        const bool ok = N >= MIN_SERVICES;
        double lact_n[13] = {}, lact_s[13] = {};
        for (const Service& s : resolved)
            lact_n[s.lact] += s.judged, lact_s[s.lact] += s.success;
        const double all = judged_services > 0 ? total_success / judged_services : 0;
        double factor[13];
        const double f1 = lact_n[1] > 0 && lact_s[1] > 0 ? lact_s[1] / lact_n[1] / all : 1;
        for (int l = 1; l <= 12; l++) {
            const bool lok = ok && lact_n[l] >= MIN_SERVICES / 2 && lact_s[l] > 0;
            const double f = lok ? (lact_s[l] / lact_n[l] / all) / f1 : base_at(base, "conception_lact", l - 1, 1);
            factor[l] = f;
            const double p = lact_n[l] > 0 ? lact_s[l] / lact_n[l] : 0, se = lact_n[l] > 0 ? std::sqrt(p * (1 - p) / lact_n[l]) : 0;
            add(out, 18, "conception_lact", 0, l - 1, f, lact_n[l], f * (1 - Z95 * se / std::max(p, 1e-9)),
                f * (1 + Z95 * se / std::max(p, 1e-9)), lok,
                lok ? "" : "too few resolved services of this lactation (" + std::to_string(int(lact_n[l])) + ")");
        }
        /* base-lactation equivalents: a service of lactation l counts factor[l] trials */
        double row_n[BREEDING_ROWS] = {}, row_s[BREEDING_ROWS] = {}, col_n[12] = {}, col_s[12] = {};
        double cell_n[BREEDING_ROWS][12] = {}, cell_s[BREEDING_ROWS][12] = {}, cell_raw[BREEDING_ROWS][12] = {};
        double tn = 0, ts = 0;
        for (const Service& s : resolved) {
            const int r = std::min(BREEDING_ROWS, std::max(1, s.mim)) - 1;
            const double w = factor[s.lact] * s.judged;
            row_n[r] += w, row_s[r] += s.success, col_n[s.month] += w, col_s[s.month] += s.success;
            cell_n[r][s.month] += w, cell_s[r][s.month] += s.success, cell_raw[r][s.month] += s.judged;
            tn += w, ts += s.success;
        }
        const double p0 = tn > 0 ? ts / tn : 0;
        double mean_sum = 0;
        for (int r = 0; r < BREEDING_ROWS; r++)
            for (int c = 0; c < 12; c++) {
                const double pr = (row_s[r] + POOL_SERVICES * p0) / (row_n[r] + POOL_SERVICES);
                const double pc = (col_s[c] + POOL_SERVICES * p0) / (col_n[c] + POOL_SERVICES);
                const double prior = p0 > 0 ? pr * pc / p0 : 0;
                const double v = (cell_s[r][c] + POOL_SERVICES * prior) / (cell_n[r][c] + POOL_SERVICES);
                const double val = ok ? v : base_at(base, "conception", r * 12 + c, 0.4);
                conc[r][c] = val;
                const double se = std::sqrt(std::max(v * (1 - v), 1e-6) / (cell_n[r][c] + POOL_SERVICES));
                add(out, 20, "conception", r, c, val, cell_raw[r][c], std::max(0.0, v - Z95 * se),
                    std::min(1.0, v + Z95 * se), ok,
                    ok ? "" : "too few resolved services (" + std::to_string(N) + " < " + std::to_string(MIN_SERVICES) + ")");
                (void)mean_sum;
            }
        out.summary["conception_services"] = N;
    }

    /* ---- waiting periods and last breeding month ---- */
    int vwp[4], lbm;
    {
        for (int g = 1; g <= 3; g++) {
            std::vector<int>& v = first_mims[g];
            std::sort(v.begin(), v.end());
            const bool ok = static_cast<int>(v.size()) >= MIN_FIRST_SERVICES;
            const int q = ok ? v[static_cast<std::size_t>(VWP_QUANTILE * (v.size() - 1))] + 1 : 0;
            vwp[g] = ok ? std::min(HIGHEST_VWP, std::max(LOWEST_VWP, q))
                        : static_cast<int>(base_at(base, g == 1 ? "vwp1" : g == 2 ? "vwp2" : "vwp3", 0, 3));
            add(out, 14, g == 1 ? "vwp1" : g == 2 ? "vwp2" : "vwp3", 0, 0, vwp[g], v.size(), vwp[g], vwp[g], ok,
                ok ? "" : "too few first services (" + std::to_string(v.size()) + ")");
        }
        std::sort(success_mims.begin(), success_mims.end());
        const bool ok = static_cast<int>(success_mims.size()) >= MIN_FIRST_SERVICES;
        lbm = ok ? success_mims[static_cast<std::size_t>(LBM_QUANTILE * (success_mims.size() - 1))] + 1
                 : static_cast<int>(base_at(base, "lbm", 0, 13));
        lbm = std::min(HIGHEST_VWP, std::max(std::max(vwp[1], std::max(vwp[2], vwp[3])), lbm));
        add(out, 15, "lbm", 0, 0, lbm, success_mims.size(), lbm, lbm, ok,
            ok ? "" : "too few conceptions (" + std::to_string(success_mims.size()) + ")");
    }

    /* ---- heat detection: services per open cow-month in the breeding window ---- */
    {
        double cell_m[BREEDING_ROWS][12] = {}, cell_sv[BREEDING_ROWS][12] = {};
        double open_months = 0, conceptions = 0;
        double days_open_sum = 0;
        int days_open_n = 0;
        for (const Lactation& l : h.lacts) {
            const int g = std::min(l.lact, 3);
            if (l.conception >= 0)
                days_open_sum += l.conception - l.calving, days_open_n++;
            /* The months a cow is being bred and open: after the month of
            ** her first service (which is chosen for having one) until the
            ** month she conceives; when she never does, until the month
            ** before her last service (after it she may have been given up
            ** on and left unserved, which is the policy's doing, not the
            ** heat detection's). */
            int open_until = l.conception >= 0 ? month_index(l.conception) : 1 << 30;
            if (l.conception < 0 && !l.services.empty())
                open_until = month_index(l.services.back()) - 1;
            if (l.services.empty())
                continue; /* never served: not bred, whatever the reason */
            const int first_served = month_index(l.services.front());
            for (int m = vwp[g] - 1; m <= lbm - 1 && m <= BREEDING_ROWS; m++) {
                const int mo = month_index(l.calving) + m;
                if (mo > open_until)
                    break;
                if (mo <= first_served)
                    continue;
                if (l.next >= 0 && mo >= month_index(l.next))
                    break;
                /* the month must lie whole in the window, with the cow there at both ends */
                if (mo <= month_index(h.first) || mo >= month_index(h.last))
                    continue;
                bool there = true;
                int served = 0;
                for (int d : l.services)
                    if (month_index(d) == mo)
                        served++;
                /* a month's first and last days, from its index */
                int lo_day = l.calving + static_cast<int>((m - 1) * MID_MONTH_DAYS), hi_day = lo_day;
                while (month_index(lo_day) < mo)
                    lo_day++;
                while (month_index(lo_day - 1) == mo)
                    lo_day--;
                hi_day = lo_day + 27;
                there = present(h, l.cow, lo_day) && present(h, l.cow, hi_day);
                if (!there)
                    continue;
                const int r = m - 1, c = mo % 12;
                cell_m[r][c] += 1, cell_sv[r][c] += served;
                open_months += 1;
                conceptions += (l.conception >= 0 && month_index(l.conception) == mo);
            }
        }
        const bool ok = open_months >= MIN_OPEN_MONTHS;
        double row_m[BREEDING_ROWS] = {}, row_s[BREEDING_ROWS] = {}, col_m[12] = {}, col_s[12] = {}, tm = 0, tsv = 0;
        for (int r = 0; r < BREEDING_ROWS; r++)
            for (int c = 0; c < 12; c++)
                row_m[r] += cell_m[r][c], row_s[r] += cell_sv[r][c], col_m[c] += cell_m[r][c],
                    col_s[c] += cell_sv[r][c], tm += cell_m[r][c], tsv += cell_sv[r][c];
        const double s0 = tm > 0 ? tsv / tm : 0;
        for (int r = 0; r < BREEDING_ROWS; r++)
            for (int c = 0; c < 12; c++) {
                const double sr = (row_s[r] + POOL_MONTHS * s0) / (row_m[r] + POOL_MONTHS);
                const double sc = (col_s[c] + POOL_MONTHS * s0) / (col_m[c] + POOL_MONTHS);
                const double prior = s0 > 0 ? sr * sc / s0 : 0;
                const double S = (cell_sv[r][c] + POOL_MONTHS * prior) / (cell_m[r][c] + POOL_MONTHS);
                /* services per open month S = hd (1 + (1 - hd cr) k): solve for hd */
                auto solve_hd = [&](double s) {
                    const double k = SECOND_HEAT, cr = conc[r][c];
                    const double a = cr * k, bq = 1 + k;
                    if (a < 1e-9)
                        return std::min(1.0, s / bq);
                    const double disc = bq * bq - 4 * a * s;
                    return std::min(1.0, std::max(0.0, disc < 0 ? bq / (2 * a) : (bq - std::sqrt(disc)) / (2 * a)));
                };
                const double hd = solve_hd(S);
                const double se = std::sqrt(std::max(S, 1e-3) / (cell_m[r][c] + POOL_MONTHS));
                const double val = ok ? hd : base_at(base, "heat_detection", r * 12 + c, 0.5);
                add(out, 19, "heat_detection", r, c, val, cell_m[r][c], solve_hd(std::max(0.0, S - Z95 * se)),
                    solve_hd(S + Z95 * se), ok,
                    ok ? "" : "too few open cow-months in the breeding window (" + std::to_string(int(open_months)) + ")");
            }
        out.observed["pregnancy_rate_21d"] = open_months > 0 ? conceptions / (open_months * MID_MONTH_DAYS / CYCLE_DAYS) : NAN;
        out.observed["days_open"] = days_open_n ? days_open_sum / days_open_n : NAN;
        double ci = 0;
        int cin = 0;
        for (const Lactation& l : h.lacts)
            if (l.next >= 0 && l.calving >= h.first && l.next <= h.last)
                ci += l.next - l.calving, cin++;
        out.observed["calving_interval_days"] = cin ? ci / cin : NAN;
    }

    /* ---- involuntary disposal per cow-month at risk ---- */
    {
        /* first calving of each cow, and her calvings in order */
        std::map<int, std::vector<std::pair<int, int>>> calvs;
        for (const Lactation& l : h.lacts)
            calvs[l.cow].push_back({l.calving, l.lact});
        double E[13][MONTHS_IN_MILK][12] = {}, O[13][MONTHS_IN_MILK][12] = {};
        double years = 0, leaving = 0, deaths = 0, age_sum = 0, age_n = 0, invol = 0;
        for (const Stay& s : rec.stays) {
            auto cv = calvs.find(s.cow);
            if (cv == calvs.end())
                continue;
            const int from = std::max({s.entry, h.first, cv->second.front().first});
            const int to = std::min(s.exit < 0 ? h.last : s.exit, h.last);
            for (int d = from; d <= to;) {
                const int mo = month_index(d);
                const int end = std::min(to, month_last_day(d));
                std::pair<int, int> c{-1, 1};
                for (const auto& k : cv->second)
                    if (k.first <= d)
                        c = k;
                const int m = std::min(MONTHS_IN_MILK, std::max(1, mo - month_index(c.first))) - 1;
                const int l = std::min(12, c.second);
                const double exposure = (end - d + 1) / (DAYS_PER_YEAR / 12.0);
                E[l][m][mo % 12] += exposure;
                years += exposure / 12.0;
                if (s.exit >= 0 && end == s.exit && s.exit <= h.last) {
                    double w = s.kind == ExitKind::died || s.kind == ExitKind::culled_involuntary ? 1.0
                               : s.kind == ExitKind::culled ? opt.involuntary_share : 0.0;
                    O[l][m][mo % 12] += w;
                    invol += w;
                    const bool gone = s.kind == ExitKind::died || s.kind == ExitKind::culled ||
                                      s.kind == ExitKind::culled_involuntary || s.kind == ExitKind::culled_voluntary ||
                                      s.kind == ExitKind::sold;
                    leaving += gone;
                    deaths += s.kind == ExitKind::died;
                    auto b = rec.birth.find(s.cow);
                    if (gone && b != rec.birth.end())
                        age_sum += (s.exit - b->second) / DAYS_PER_YEAR, age_n++;
                }
                d = end + 1;
            }
        }
        out.observed["cull_rate"] = years > 0 ? leaving / years : NAN;
        out.observed["death_rate"] = years > 0 ? deaths / years : NAN;
        out.observed["age_at_exit_years"] = age_n > 0 ? age_sum / age_n : NAN;
        out.summary["involuntary_per_year"] = years > 0 ? invol / years : 0;
        out.summary_se["involuntary_per_year"] = years > 0 ? std::sqrt(std::max(invol, 1.0)) / years : 0;
        const bool ok = invol >= MIN_DISPOSALS;
        /* lactation factors and month cells by alternating fits of rate = A[m][s] F[l] */
        double F[13], A[MONTHS_IN_MILK][12];
        double lact_E[13] = {}, lact_O[13] = {};
        for (int l = 1; l <= 12; l++) {
            F[l] = 1;
            for (int m = 0; m < MONTHS_IN_MILK; m++)
                for (int s = 0; s < 12; s++)
                    lact_E[l] += E[l][m][s], lact_O[l] += O[l][m][s];
        }
        const double r0 = years > 0 ? invol / (years * 12) : 0;
        for (int iter = 0; iter < 20; iter++) {
            double rowO[MONTHS_IN_MILK] = {}, rowE[MONTHS_IN_MILK] = {}, colO[12] = {}, colE[12] = {}, cE[MONTHS_IN_MILK][12] = {}, cO[MONTHS_IN_MILK][12] = {};
            for (int l = 1; l <= 12; l++)
                for (int m = 0; m < MONTHS_IN_MILK; m++)
                    for (int s = 0; s < 12; s++) {
                        const double e = E[l][m][s] * F[l];
                        rowO[m] += O[l][m][s], rowE[m] += e, colO[s] += O[l][m][s], colE[s] += e;
                        cE[m][s] += e, cO[m][s] += O[l][m][s];
                    }
            double tE = 0, tO = 0;
            for (int s = 0; s < 12; s++)
                tE += colE[s], tO += colO[s];
            const double a0 = tE > 0 ? tO / tE : r0;
            for (int m = 0; m < MONTHS_IN_MILK; m++)
                for (int s = 0; s < 12; s++) {
                    const double ar = (rowO[m] + POOL_EXPOSURE * a0) / (rowE[m] + POOL_EXPOSURE);
                    const double ac = (colO[s] + POOL_EXPOSURE * a0) / (colE[s] + POOL_EXPOSURE);
                    const double prior = a0 > 0 ? ar * ac / a0 : 0;
                    A[m][s] = (cO[m][s] + POOL_EXPOSURE * prior) / (cE[m][s] + POOL_EXPOSURE);
                }
            for (int l = 1; l <= 12; l++) {
                double e = 0;
                for (int m = 0; m < MONTHS_IN_MILK; m++)
                    for (int s = 0; s < 12; s++)
                        e += E[l][m][s] * A[m][s];
                F[l] = lact_E[l] >= MIN_LACT_EXPOSURE && e > 0 ? lact_O[l] / e : -1;
            }
            /* the base file's second lactation keeps its factor; thin lactations keep theirs */
            const double anchor = F[2] > 0 ? F[2] / base_at(base, "disposal_lact", 1, 1) : 1;
            for (int l = 1; l <= 12; l++)
                F[l] = F[l] > 0 && anchor > 0 ? F[l] / anchor : base_at(base, "disposal_lact", l - 1, 1);
            if (anchor > 0)
                for (int m = 0; m < MONTHS_IN_MILK; m++)
                    for (int s = 0; s < 12; s++)
                        A[m][s] *= anchor;
        }
        for (int l = 1; l <= 12; l++) {
            const bool lok = ok && lact_E[l] >= MIN_LACT_EXPOSURE;
            const double rel = lact_O[l] > 0 ? 1.0 / std::sqrt(lact_O[l]) : 1.0;
            add(out, 11, "disposal_lact", 0, l - 1, F[l], lact_E[l], F[l] * std::max(0.0, 1 - Z95 * rel),
                F[l] * (1 + Z95 * rel), lok,
                lok ? "" : "too few cow-months of this lactation (" + fmt("%.0f", lact_E[l]) + ")");
        }
        for (int m = 0; m < MONTHS_IN_MILK; m++)
            for (int s = 0; s < 12; s++) {
                double e = 0;
                for (int l = 1; l <= 12; l++)
                    e += E[l][m][s];
                const double v = ok ? A[m][s] : base_at(base, "disposal", m * 12 + s, 0.01);
                const double se = std::sqrt(std::max(v, 1e-6) / (e + POOL_EXPOSURE));
                add(out, 12, "disposal", m, s, v, e, std::max(0.0, v - Z95 * se), v + Z95 * se, ok,
                    ok ? "" : "too few involuntary exits (" + fmt("%.1f", invol) + " < " + std::to_string(MIN_DISPOSALS) + ")");
            }
    }

    /* ---- abortion: a pregnant check followed by an open one, or by a
    ** new service, within the same pregnancy (a calving between the two
    ** checks ends the pregnancy: the open check after it is of the next) ---- */
    {
        std::map<int, std::vector<PregnancyCheck>> by_cow;
        for (const PregnancyCheck& c : rec.checks)
            by_cow[c.cow].push_back(c);
        std::map<int, std::vector<int>> calvings_of, services_of;
        for (const Lactation& l : h.lacts) {
            calvings_of[l.cow].push_back(l.calving);
            services_of[l.cow].insert(services_of[l.cow].end(), l.services.begin(), l.services.end());
        }
        auto any_between = [](const std::vector<int>& days, int from, int to) {
            for (int d : days)
                if (d > from && d <= to)
                    return true;
            return false;
        };
        double months = 0, losses = 0;
        int pairs = 0;
        for (auto& [cow, v] : by_cow) {
            std::sort(v.begin(), v.end(), [](const PregnancyCheck& a, const PregnancyCheck& b) { return a.day < b.day; });
            for (std::size_t k = 0; k + 1 < v.size(); k++) {
                if (!v[k].pregnant || any_between(calvings_of[cow], v[k].day, v[k + 1].day))
                    continue;
                const bool served_again = any_between(services_of[cow], v[k].day, v[k + 1].day);
                pairs++;
                months += (v[k + 1].day - v[k].day) / MID_MONTH_DAYS;
                losses += served_again || !v[k + 1].pregnant;
            }
        }
        const bool ok = rec.have_checks && pairs >= MIN_CHECK_PAIRS && months > 0;
        /* the checked months are the early ones (2..4): scale the base row by the ratio there */
        double base_early = 0;
        for (int p = 0; p < 3; p++)
            base_early += base_at(base, "abortion", p, 0.01) / 3;
        const double h = months > 0 ? losses / months : 0;
        const double factor = ok && base_early > 0 ? h / base_early : 1;
        for (int p = 0; p < 8; p++) {
            const double b = base_at(base, "abortion", p, 0.01);
            const double rel = losses > 0 ? 1 / std::sqrt(losses) : 1;
            add(out, 13, "abortion", 0, p, b * factor, pairs, b * factor * std::max(0.0, 1 - Z95 * rel),
                b * factor * (1 + Z95 * rel), ok,
                !rec.have_checks ? "no pregnancy checks"
                : ok ? "" : "too few pregnant checks followed by another (" + std::to_string(pairs) + ")");
        }
    }
    (void)MONTHS;
    double c, hd;
    breeding_means(calibrated_values(base, out.estimates), c, hd);
    out.summary["conception_mean"] = c;
    out.summary["heat_detection_mean"] = hd;
    return out;
}

/* The herd's records without the cows of one jackknife group. */
HerdRecords without_group(const HerdRecords& rec, int groups, int group)
{
    auto keep = [&](int cow) { return cow % groups != group; };
    HerdRecords part;
    part.herd = rec.herd;
    part.birth = rec.birth;
    part.have_calvings = rec.have_calvings;
    part.have_checks = rec.have_checks;
    part.have_cows = rec.have_cows;
    for (const TestDay& t : rec.tests)
        if (keep(t.cow))
            part.tests.push_back(t);
    for (const Insemination& i : rec.inseminations)
        if (keep(i.cow))
            part.inseminations.push_back(i);
    for (const Calving& c : rec.calvings)
        if (keep(c.cow))
            part.calvings.push_back(c);
    for (const PregnancyCheck& c : rec.checks)
        if (keep(c.cow))
            part.checks.push_back(c);
    for (const Stay& s : rec.stays)
        if (keep(s.cow))
            part.stays.push_back(s);
    return part;
}

} // namespace

/* The summaries' standard errors come from a delete-a-group jackknife over
** cows: the herd is fitted again once without each group of cows, and the
** spread of those fits gives the error.  A cow's test days, services and
** exits hang together, so errors that count them as independent come out
** far too narrow; leaving out whole cows keeps what belongs together. */
CalibResult CALIBRATE_HERD(const HerdRecords& rec, const BaseValues& base, const CalibOptions& opt)
{
    /* ---- constants ----
    ** JACKKNIFED  the summaries whose errors the jackknife gives */
    static const char* const JACKKNIFED[] = {"milk_10m_1",      "milk_10m_2",          "milk_10m_3",
                                             "conception_mean", "heat_detection_mean", "involuntary_per_year",
                                             "yield_sd",        "yield_corr"};
    CalibResult out = calibrate_once(rec, base, opt);
    const int G = opt.jackknife_groups;
    if (!out.missing.empty() || G < 2)
        return out;
    std::map<std::string, std::vector<double>> fits;
    for (int g = 0; g < G; g++) {
        const CalibResult part = calibrate_once(without_group(rec, G, g), base, opt);
        if (!part.missing.empty())
            return out; /* too few cows to leave any out: the simple errors stay */
        for (const char* key : JACKKNIFED)
            fits[key].push_back(part.summary.at(key));
    }
    for (const char* key : JACKKNIFED) {
        const std::vector<double>& v = fits[key];
        double mean = 0, ss = 0;
        for (double x : v)
            mean += x / G;
        for (double x : v)
            ss += (x - mean) * (x - mean);
        out.summary_se[key] = std::sqrt((G - 1.0) / G * ss);
    }
    /* the intervals of the curves and the yield spread and correlation follow */
    for (Estimate& e : out.estimates) {
        if (!e.used)
            continue;
        if (e.name.rfind("milk_curve", 0) == 0) {
            const std::string key = "milk_10m_" + e.name.substr(std::string("milk_curve").size());
            const double rel = out.summary_se.at(key) / out.summary.at(key);
            e.lo = e.value * (1 - Z95 * rel), e.hi = e.value * (1 + Z95 * rel);
        } else if (e.name == "yield_sd" || e.name == "yield_corr") {
            e.lo = e.value - Z95 * out.summary_se.at(e.name), e.hi = e.value + Z95 * out.summary_se.at(e.name);
        }
    }
    return out;
}
