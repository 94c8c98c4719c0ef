/*
** cows_command.h -- morvenda cows: the herd's own cows valued and ranked.
**
**   morvenda cows HERD.bio COWS.csv [-o RANKED.csv] [--month JAN..DEC |
**                 --date YYYY-MM-DD] [--columns NAME=HEADER,...]
**
** Solves the policy of HERD.bio as a run does (or reads its pol file under
** USE_POL), writes none of the run's files, values every cow of COWS.csv
** and writes the ranked list.  Exit status 0 when every row was valued,
** 1 when a row was rejected or the command could not run, 2 on a usage
** error.
*/
#ifndef MORVENDA_COWS_COMMAND_H
#define MORVENDA_COWS_COMMAND_H

/* argv[0] is "cows". */
int MORVENDA_COWS(int argc, char** argv);

#endif
