/*
** programs.cpp -- finding the workbench's programs beside each other.
**
** The model program (morvenda) and the HTTP server (morvenda-serve) are
** built and installed into one folder.  `morvenda serve` replaces itself
** by the server, and the server starts model runs, checks and cow
** valuations with the model program, each found in the folder of the
** program that is running.
*/
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "serve/serve.h"

std::string program_beside(const char* name)
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    buf[n] = '\0';
    std::string path = buf;
    const std::size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + name;
}

int hand_over_to_server(int argc, char** argv)
{
    const std::string server = program_beside(SERVER_PROGRAM);
    std::vector<char*> args;
    args.push_back(const_cast<char*>(SERVER_PROGRAM));
    for (int i = 1; i < argc; i++)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    if (!server.empty())
        execv(server.c_str(), args.data());
    std::fprintf(stderr, "morvenda serve: cannot start %s: %s\n", server.empty() ? SERVER_PROGRAM : server.c_str(),
                 server.empty() ? "this program's folder is unknown" : std::strerror(errno));
    return 1;
}
