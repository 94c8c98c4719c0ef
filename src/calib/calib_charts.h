/*
** calib_charts.h -- what the calibration report draws: the herd's own
** records against the calibrated herd.
**
** An adviser trusts a calibrated herd only after seeing it beside the
** records it came from, so the report carries, besides the estimates:
**   - per lactation group (1, 2, 3 and later) the mean test-day milk by
**     month in milk, with its count, against the calibrated curve;
**   - conception per service and heat detection by month in milk and by
**     calendar month, as observed (with a 95 % interval) against the
**     calibrated values weighted as the observations fall;
**   - the share of cows still in the herd by months since first calving
**     (Kaplan-Meier), against the share a herd culling at the model's
**     yearly rate keeps, when the model's run gave that rate.
*/
#ifndef MORVENDA_CALIB_CHARTS_H
#define MORVENDA_CALIB_CHARTS_H

#include <nlohmann/json.hpp>

#include "calib/calib_fit.h"
#include "calib/calib_records.h"

/* The charts' data as one JSON object (keys milk, conception,
** heat_detection, survival); `model_cull_rate` is NaN when the model's run
** gave none. */
nlohmann::json CALIB_CHARTS(const HerdRecords& rec, const BaseValues& calibrated, const CalibOptions& opt,
                            double model_cull_rate);

#endif
