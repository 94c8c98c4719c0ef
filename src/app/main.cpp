/*
** main.cpp -- morvenda: run the herd model on one bio file.
**
**   morvenda herd.bio
**   morvenda cows herd.bio cows.csv [options]   (value the herd's own cows)
**   morvenda simulate herd.bio [options]         (herds of real cows under the policy)
**   morvenda calibrate base.bio --records DIR -o herd.bio   (a herd's bio file from its records)
**   morvenda serve [--dir DIR] [--port 8080] [--host 127.0.0.1]
**   morvenda check [--json] herd.bio
**   morvenda items [--json]                     (the bio file's item table)
**   morvenda set herd.bio CHANGE... [-o OUT]    (a variant of a bio file)
**   morvenda figures [--json|--markdown]   (the report's yearly figures)
*/
#include <cstring>

#include "cows/cows_command.h"
#include "calib/calib_command.h"
#include "items/items_command.h"
#include "app/driver.h"
#include "serve/serve.h"
#include "sim/simulate_command.h"
#include "stats/figures.h"

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "cows") == 0)
        return MORVENDA_COWS(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "simulate") == 0)
        return MORVENDA_SIMULATE(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "serve") == 0)
        return hand_over_to_server(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "check") == 0)
        return check_command(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "items") == 0)
        return items_command(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "set") == 0)
        return set_command(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "calibrate") == 0)
        return calibrate_command(argc - 1, argv + 1);
    if (argc >= 2 && std::strcmp(argv[1], "figures") == 0)
        return figures_command(argc - 1, argv + 1);
    return MORVENDA_RUN(argc, argv);
}
