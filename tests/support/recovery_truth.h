/*
** recovery_truth.h -- the herd whose truth is known, shared by the
** recovery test and the recovery benchmark so that both calibrate back
** the same changed biology and measure it the same way.
**
** The truth is the example herd with lower conception, a summer dip of
** heat detection and a steeper first-lactation curve; it is simulated
** with records, calibrated from the unchanged example, and its summaries
** are compared with the truth's.
*/
#ifndef MORVENDA_TEST_RECOVERY_TRUTH_H
#define MORVENDA_TEST_RECOVERY_TRUTH_H

#include <string>

#include "calib/calib_fit.h"
#include "calib/calib_records.h"

/* The example herd's text with the changed biology; "" and `error` set
** when an edit does not apply. */
std::string changed_truth(const std::string& example_text, std::string& error);

/* The command line (after the program's name) that simulates `bio` with
** records in `records_dir` and its yearly summary in `summary`. */
std::string simulate_arguments(const std::string& bio, int places, int years, int seed,
                               const std::string& records_dir, const std::string& summary);

/* The record tables `morvenda simulate --records DIR` writes. */
RecordSources simulated_records(const std::string& dir);

/* Ten months' milk (months in milk 1-10 over the 12 calendar months) of an
** open cow of lactation group `lact` (1..3). */
double ten_month_milk(const BaseValues& values, int lact);

/* The mean of a figure's yearly `cow` rows in a simulation summary (NaN
** when there are none). */
double summary_mean(const std::string& file, const std::string& figure);

/* A figure of the model's yearly block in a result file (NaN when absent). */
double res_figure(const std::string& file, const std::string& label);

#endif
