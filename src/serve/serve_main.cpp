/*
** serve_main.cpp -- morvenda-serve, the workbench's HTTP server.
**
**   morvenda-serve [--dir DIR] [--port 8080] [--host 127.0.0.1]
**
** Usually started as `morvenda serve`, which hands over to it.
*/
#include "serve/serve.h"

int main(int argc, char** argv)
{
    return serve_command(argc, argv);
}
