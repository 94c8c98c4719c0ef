/*
** serve.h -- the workbench commands of the morvenda program.
**
**   morvenda serve [--dir DIR] [--port 8080] [--host 127.0.0.1]
**   morvenda check HERD.bio
**
** `serve` runs a local web server for editing, running and comparing
** herds; `check` only reads a bio file with the program's reader and
** reports what it found wrong (the server's validation runs it as a child).
*/
#ifndef MORVENDA_SERVE_SERVE_H
#define MORVENDA_SERVE_SERVE_H

/* argv[0] is the command word. */
int serve_command(int argc, char** argv);
int check_command(int argc, char** argv);

#endif
