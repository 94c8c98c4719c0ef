#include "support/file_faults.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

FileSizeLimit::FileSizeLimit(unsigned long bytes)
{
    rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    previous_ = lim.rlim_cur;
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    lim.rlim_cur = previous_;
    setrlimit(RLIMIT_FSIZE, &lim);
    std::signal(SIGXFSZ, previous_handler_);
}

std::vector<std::string> files_in(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
