/*
** recovery_truth.cpp -- the herd whose truth is known (recovery_truth.h).
*/
#include "support/recovery_truth.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

#include "bio/bio_edit.h"

namespace {

/* ---- constants ----
** DAYS_PER_MONTH   the model's month, for the ten months' milk
** TEN_MONTHS       months in milk of the ten months' milk
** CAL_MONTHS       calendar months of a curve's row
** LOWER_CONCEPTION, SUMMER_HEATS  the changed conception (months in milk
**                  2-15) and heat detection in July and August
** EARLY_MILK, MID_MILK, LATE_MILK  the steeper first-lactation curve:
**                  months 1-3, 4-10 and 11-24 scaled by these
** SUMMARY_VALUE    the column of a figure's value in a simulation summary */
constexpr double DAYS_PER_MONTH = 30.4;
constexpr int TEN_MONTHS = 10, CAL_MONTHS = 12;
constexpr const char* LOWER_CONCEPTION = "*=0.85";
constexpr const char* SUMMER_HEATS = "*=0.7";
constexpr const char *EARLY_MILK = "*=0.85", *MID_MILK = "*=1.05", *LATE_MILK = "*=0.95";
constexpr std::size_t SUMMARY_VALUE = 3;

} // namespace

std::string changed_truth(const std::string& example_text, std::string& error)
{
    std::vector<std::string> words;
    for (int r = 2; r <= 15; r++) {
        words.push_back("conception." + std::to_string(r) + LOWER_CONCEPTION);
        for (const char* m : {"JUL", "AUG"})
            words.push_back("heat_detection." + std::to_string(r) + "." + m + SUMMER_HEATS);
    }
    for (int r = 1; r <= 24; r++)
        words.push_back("milk_curve1." + std::to_string(r) + (r <= 3 ? EARLY_MILK : r <= 10 ? MID_MILK : LATE_MILK));
    std::vector<BioChange> changes;
    for (const std::string& w : words) {
        BioChange c;
        error = parse_bio_change(w, c);
        if (!error.empty())
            return "";
        changes.push_back(c);
    }
    std::string text = example_text;
    error = apply_bio_changes(text, changes);
    return error.empty() ? text : "";
}

std::string simulate_arguments(const std::string& bio, int places, int years, int seed,
                               const std::string& records_dir, const std::string& summary)
{
    return "simulate " + bio + " --cows " + std::to_string(places) + " --years " + std::to_string(years) +
           " --replicates 1 --seed " + std::to_string(seed) + " --records " + records_dir + " -o " + summary;
}

RecordSources simulated_records(const std::string& dir)
{
    RecordSources src;
    src.tests = dir + "/tests.csv";
    src.inseminations = dir + "/inseminations.csv";
    src.calvings = dir + "/calvings.csv";
    src.checks = dir + "/pregnancy_checks.csv";
    src.exits = dir + "/exits.csv";
    src.cows = dir + "/cows.csv";
    return src;
}

double ten_month_milk(const BaseValues& values, int lact)
{
    const std::vector<double>& curve = values.at("milk_curve" + std::to_string(lact));
    double sum = 0;
    for (int m = 0; m < TEN_MONTHS; m++)
        for (int s = 0; s < CAL_MONTHS; s++)
            sum += curve.at(static_cast<std::size_t>(m * CAL_MONTHS + s)) * DAYS_PER_MONTH / CAL_MONTHS;
    return sum;
}

double summary_mean(const std::string& file, const std::string& figure)
{
    std::ifstream in(file);
    std::string line;
    double sum = 0;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind(figure + ",", 0) == 0 && line.find(",cow,") != std::string::npos) {
            std::vector<std::string> f;
            std::stringstream ls(line);
            std::string cell;
            while (std::getline(ls, cell, ','))
                f.push_back(cell);
            if (f.size() > SUMMARY_VALUE)
                sum += std::stod(f[SUMMARY_VALUE]), n++;
        }
    return n ? sum / n : NAN;
}

double res_figure(const std::string& file, const std::string& label)
{
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        double a, b, c;
        std::string l;
        if (ls >> a >> b >> c >> l && l == label)
            return a;
    }
    return NAN;
}
