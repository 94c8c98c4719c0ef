/*
** calibrate_api.h -- the workbench's calibration of a herd from its records.
**
** A herd's record files (test days, inseminations, calvings, pregnancy
** checks, stays, cows) are uploaded into a record set of the herds folder;
** a calibration is `morvenda calibrate` run as a child in a run folder of
** its own, through the run queue (its cap and time limit), with the set's
** files, the base herd, the column and exit-code mapping the page chose;
** its report is the run's calibration.json, its herd is saved into the
** herds folder on request.
*/
#ifndef MORVENDA_SERVE_CALIBRATE_API_H
#define MORVENDA_SERVE_CALIBRATE_API_H

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "serve/workbench.h"

namespace httplib {
class Server;
}

namespace serve {

/* The arguments of `morvenda calibrate` for a request (its "files",
** "herd", "columns", "exit_reasons", "involuntary_share", "gestation"),
** naming the record files as they are in the run folder; empty with a
** refusal when any of it is not acceptable. */
std::vector<std::string> calibrate_arguments(const nlohmann::json& request, std::vector<std::string>& files,
                                             std::optional<Refusal>& refused);

/* The routes: /api/records (the uploaded record sets) and
** /api/calibrations (start one, save its herd). */
void add_calibrate_routes(httplib::Server& server, Workbench& bench);

} // namespace serve

#endif
