/*
** serve_main.cpp -- morvenda-serve, the workbench's HTTP server.
**
**   morvenda-serve [--dir DIR] [--port 8080] [--host 127.0.0.1]
**                  [--max-queued 8] [--run-seconds 3600] [--disk-mb 4096]
**
** Usually started as `morvenda serve`, which hands over to it.
*/
#include "serve/serve.h"

int main(int argc, char** argv)
{
    return serve_command(argc, argv);
}
