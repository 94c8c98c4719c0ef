/*
** calib_recovery.cpp -- how well `morvenda calibrate` finds a known truth,
** over many simulated herds: the example herd with changed biology (lower
** conception, a summer dip of heat detection, a steeper first-lactation
** curve) is simulated, 400 places x 6 years per seed, calibrated back from
** the unchanged example, and the model is run on each calibrated file.
** For each summary it prints the median and worst error over the seeds
** and how often the 95 % interval covered the truth.
**
**   calib_recovery MORVENDA [SEEDS [FIRST_SEED]]      (run from a scratch folder)
*/
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "calib/calib_fit.h"
#include "calib/calib_records.h"
#include "support/recovery_truth.h"

namespace {

/* ---- constants ----
** PLACES, YEARS   the simulated herd
** Z95             the normal quantile of a two-sided 95 % interval */
constexpr int PLACES = 400, YEARS = 6;
constexpr double Z95 = 1.959964;

std::string read_all(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Row {
    std::vector<double> err;
    int covered = 0, with_interval = 0;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? NAN : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: calib_recovery MORVENDA [SEEDS [FIRST_SEED]]\n");
        return 2;
    }
    const std::string prog = argv[1];
    const int seeds = argc > 2 ? std::atoi(argv[2]) : 20, first = argc > 3 ? std::atoi(argv[3]) : 101;
    const std::string example = std::string(MORVENDA_SOURCE_DIR) + "/examples/holstein_kg.bio";
    std::string error;
    const std::string text = changed_truth(read_all(example), error);
    if (!error.empty()) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    std::ofstream("truth.bio", std::ios::binary) << text;
    const BaseValues truth = bio_values(text), base = bio_values(read_all(example));
    double conc = 0, hd = 0;
    breeding_means(truth, conc, hd);
    if (std::system((prog + " truth.bio > truth.txt 2>&1").c_str()) != 0)
        return 1;
    const double true_cull = res_figure("holstein.res", "cullrateall"), true_ci = res_figure("holstein.res", "clvinterval");

    std::map<std::string, Row> rows;
    const char* const order[] = {"milk_10m_1", "milk_10m_2", "milk_10m_3", "conception_mean", "heat_detection_mean",
                                 "involuntary_per_year", "yield_sd", "yield_corr", "model cull rate",
                                 "model calving interval"};
    for (int seed = first; seed < first + seeds; seed++) {
        const std::string cmd = prog + " " + simulate_arguments("truth.bio", PLACES, YEARS, seed, "rec", "sim.csv") +
                                " > sim.txt 2>&1";
        if (std::system(cmd.c_str()) != 0)
            return 1;
        HerdRecords rec;
        if (!READ_HERD_RECORDS(simulated_records("rec"), rec, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const CalibResult res = CALIBRATE_HERD(rec, base, CalibOptions());
        std::map<std::string, double> want = {{"milk_10m_1", ten_month_milk(truth, 1)},
                                              {"milk_10m_2", ten_month_milk(truth, 2)},
                                              {"milk_10m_3", ten_month_milk(truth, 3)},
                                              {"conception_mean", conc},
                                              {"heat_detection_mean", hd},
                                              {"involuntary_per_year", summary_mean("sim.csv", "cullrateinv")},
                                              {"yield_sd", truth.at("yield_sd")[0]},
                                              {"yield_corr", truth.at("yield_corr")[0]}};
        for (const auto& [key, w] : want) {
            const double got = res.summary.at(key);
            const bool relative = key.rfind("milk", 0) == 0 || key == "involuntary_per_year";
            Row& r = rows[key];
            r.err.push_back(relative ? got / w - 1 : got - w);
            auto se = res.summary_se.find(key);
            if (se != res.summary_se.end()) {
                r.with_interval++;
                r.covered += std::fabs(got - w) <= Z95 * se->second;
            }
        }
        /* the model on the calibrated file */
        if (std::system((prog + " calibrate " + example + " --records rec -o herd.bio > cal.txt 2>&1").c_str()) == 0 &&
            std::system((prog + " herd.bio > herd.txt 2>&1").c_str()) == 0) {
            rows["model cull rate"].err.push_back(res_figure("holstein.res", "cullrateall") - true_cull);
            rows["model calving interval"].err.push_back(res_figure("holstein.res", "clvinterval") - true_ci);
        }
        std::fprintf(stderr, "seed %d:", seed);
        for (const char* key : order)
            if (!rows[key].err.empty())
                std::fprintf(stderr, " %s %.4f", key, rows[key].err.back());
        std::fprintf(stderr, "\n");
    }
    std::printf("%-24s %10s %10s %10s\n", "summary", "median", "worst", "coverage");
    for (const char* key : order) {
        const Row& r = rows[key];
        double worst = 0;
        for (double e : r.err)
            worst = std::fabs(e) > std::fabs(worst) ? e : worst;
        char cover[32] = "-";
        if (r.with_interval)
            std::snprintf(cover, sizeof cover, "%d/%d", r.covered, r.with_interval);
        std::printf("%-24s %10.4f %10.4f %10s\n", key, median(r.err), worst, cover);
    }
    return 0;
}
