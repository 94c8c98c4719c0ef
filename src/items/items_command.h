/*
** items_command.h -- the bio file's item table on the command line.
**
**   morvenda items [--json]                 lists every value of the file
**   morvenda set BIO CHANGE... [-o OUT]     writes a variant of BIO
**
** argv[0] is the command word.  Exit status 0 when done, 1 on a fault of
** the file or a change (a value outside its range), 2 on a usage error.
*/
#ifndef MORVENDA_ITEMS_ITEMS_COMMAND_H
#define MORVENDA_ITEMS_ITEMS_COMMAND_H

int items_command(int argc, char** argv);
int set_command(int argc, char** argv);

#endif
