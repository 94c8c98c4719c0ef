/*
** main.cpp -- morvenda: run the herd model on one bio file.
**
**   morvenda herd.bio
**   morvenda cows herd.bio cows.csv [options]   (value the herd's own cows)
*/
#include <cstring>

#include "cows/cows_command.h"
#include "run/driver.h"

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "cows") == 0)
        return MORVENDA_COWS(argc - 1, argv + 1);
    return MORVENDA_RUN(argc, argv);
}
