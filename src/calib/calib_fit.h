/*
** calib_fit.h -- the herd's biology estimated from its records.
**
** Each estimate names the bio file's value it replaces (field, row and
** column from 0), its value, the number of observations behind it and a
** 95 % interval.  An estimate whose records are too thin is not used: the
** base file's value stays, and `why` says at what count.
*/
#ifndef MORVENDA_CALIB_FIT_H
#define MORVENDA_CALIB_FIT_H

#include <map>
#include <string>
#include <vector>

#include "calib/calib_records.h"

struct Estimate {
    int item = 0;
    std::string name;  /* the field's name in the item table */
    std::string index; /* "5.JUL", "3", "" */
    int row = 0, col = 0;
    double value = 0, n = 0, lo = 0, hi = 0;
    bool used = false;
    std::string why;
};

struct CalibOptions {
    double involuntary_share = 0.5; /* of exits of kind culled */
    int gestation_min = 265, gestation_max = 295;
    int jackknife_groups = 20; /* groups of cows left out in turn for the errors; 0: none */
};

/* The base file's values by field name, row by row. */
using BaseValues = std::map<std::string, std::vector<double>>;

struct CalibResult {
    std::vector<Estimate> estimates;
    std::map<std::string, double> observed; /* the herd's own figures */
    std::map<std::string, double> summary;  /* the recovery summaries (10-month milk, means) */
    std::map<std::string, double> summary_se;
    std::string missing; /* "" or what the records lack for any calibration */
};

/* One lactation of a cow with her services judged by what follows each:
** the evidence behind the conception and heat detection estimates, which
** the report's charts show as it is. */
struct JudgedLactation {
    int cow = 0, lact = 0, calving = 0, next = -1; /* next < 0: no later calving known */
    std::vector<int> services;                      /* merged, in the record window */
    std::vector<int> outcome;                       /* per service: 1 conceived, 0 did not, -1 not known */
    std::vector<double> judged; /* per service: the share of it whose outcome is known (1, 0, or the
                                ** voluntary share of a slaughter that does not say which) */
    int conception = -1;                            /* the successful service's day; -1: none seen */
};

/* Each cow's lactations in the records, her services judged (none when the
** records hold no test day). */
std::vector<JudgedLactation> judged_lactations(const HerdRecords& rec, const CalibOptions& opt);

/* The mean conception rate (lactations 1-3, their factors applied) and
** heat detection rate over the breeding window's cells of a file's values. */
void breeding_means(const BaseValues& values, double& conception, double& heat_detection);
/* The base values with the used estimates in their place. */
BaseValues calibrated_values(const BaseValues& base, const std::vector<Estimate>& estimates);
/* The values of a bio file's text, by field name (a value that is not a
** number reads as 0). */
BaseValues bio_values(const std::string& text);

CalibResult CALIBRATE_HERD(const HerdRecords& rec, const BaseValues& base, const CalibOptions& opt);

#endif
