/*
** sweep_api.h -- the workbench's read-only view of sweep databases.
**
** tools/morvenda-sweep leaves its scenarios and their yearly figures in one
** SQLite file (tables `scenarios` and `results`).  The workbench lists such
** files in its sweeps folder and reads from them what a chart of one figure
** against one or two varied items needs.  A file is only ever opened
** read-only; one that is not a sweep database gets a message, never a crash.
*/
#ifndef MORVENDA_SERVE_SWEEP_API_H
#define MORVENDA_SERVE_SWEEP_API_H

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "serve/workbench.h"

namespace serve {

/* A plain file name ending in .db (no folder, no leading dot). */
bool is_sweep_name(const std::string& name);

/* Every *.db of `dir` with its size and date; a sweep database also with
** its number of scenarios, any other with the reason it is not one. */
nlohmann::json list_sweeps(const std::string& dir);

/* The varied items (their values, up to a few dozen) and the figures (plain
** names, units, groups, the years held) of one sweep database. */
nlohmann::json describe_sweep(const std::string& dir, const std::string& name,
                              std::optional<Refusal>& refused);

/* One figure of one year against the varied item `x`, and by the item `by`
** when it is not empty: the mean over the scenarios that ran to their end
** at each (x, by), with how many there were. */
nlohmann::json sweep_points(const std::string& dir, const std::string& name, const std::string& figure,
                            int year, const std::string& x, const std::string& by,
                            std::optional<Refusal>& refused);

} // namespace serve

namespace httplib {
class Server;
}

namespace serve {

/* GET /api/sweeps, /api/sweeps/NAME and /api/sweeps/NAME/points?figure=
** &year=&x=&by= on the databases of `dir`. */
void add_sweep_routes(httplib::Server& server, const std::string& dir);

} // namespace serve

#endif
