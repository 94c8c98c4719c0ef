/*
** results.h -- a finished run's figures for the page.
**
** The report holds a monthly table of 116 columns and the yearly figures;
** the rpo file a line per state and slot.  The page needs only the yearly
** figures and the series of its charts, so they are picked out once when
** the run ends and kept as results.json in the run folder: showing a
** finished run then only sends that file.
*/
#ifndef MORVENDA_SERVE_RESULTS_H
#define MORVENDA_SERVE_RESULTS_H

#include <string>

#include <nlohmann/json.hpp>

namespace serve {

/* Yearly figures and chart series of a report and (when the file exists)
** an rpo file.  Missing or malformed files give an "error" member. */
nlohmann::json build_results(const std::string& report_path, const std::string& rpo_path);

} // namespace serve

#endif
