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

/* Gives each yearly figure of `results` its plain name, unit (milk in kg
** when `kg`, else lb), group, whether more is better and its help, from the
** program's table of figures; sets "kg" and whether the herd place is left
** empty (it sells no milk: no cow pays her place). */
void describe_figures(nlohmann::json& results, bool kg);

} // namespace serve

#endif
