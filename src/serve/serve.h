/*
** serve.h -- the workbench commands of the morvenda program.
**
**   morvenda serve [--dir DIR] [--port 8080] [--host 127.0.0.1]
**                  [--max-queued 8] [--run-seconds 3600] [--disk-mb 4096]
**   morvenda check [--json] HERD.bio
**
** `serve` runs a local web server for editing, running and comparing
** herds; `check` only reads a bio file with the program's reader and
** reports what it found wrong, or with --json every fault the item table
** finds (the server's validation lists the same).
*/
#ifndef MORVENDA_SERVE_SERVE_H
#define MORVENDA_SERVE_SERVE_H

#include <string>

/* The programs of the workbench, built into one folder. */
constexpr const char* MODEL_PROGRAM = "morvenda";
constexpr const char* SERVER_PROGRAM = "morvenda-serve";

/* argv[0] is the command word.  serve_command is morvenda-serve's own
** (the HTTP library stays out of the model program); `morvenda serve`
** hands over to it with hand_over_to_server, which returns only after a
** message when it cannot. */
int serve_command(int argc, char** argv);
int hand_over_to_server(int argc, char** argv);
int check_command(int argc, char** argv);

/* The path of program `name` in the folder of the running program; "" when
** that folder cannot be told. */
std::string program_beside(const char* name);

#endif
