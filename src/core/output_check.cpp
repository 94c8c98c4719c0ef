/*
** output_check.cpp -- the checks of an output name before a run writes.
**
** Only what can be known without writing is checked: the name's length,
** the folder it goes into, and what already stands under the name.  A
** full disk is still found out on writing (the file is then left as it
** was, core/output_file.h).
*/
#include "core/output_check.h"

#include <climits>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

/* ---- constants -------------------------------------------------------- */

/* Longest part of a name between slashes, and longest name, the file
** systems of a farm office computer take. */
constexpr std::size_t LONGEST_NAME_PART = NAME_MAX;
constexpr std::size_t LONGEST_NAME = PATH_MAX - 1;
/* Symbolic links followed before a name is taken as a loop. */
constexpr int LINKS_FOLLOWED = 40;
const char* const SYSTEM_FOLDERS[] = {"/dev", "/proc"};

namespace fs = std::filesystem;

bool under_system_folder_lexically(const fs::path& path)
{
    std::error_code ec;
    const fs::path whole = fs::absolute(path, ec).lexically_normal();
    if (ec)
        return false;
    const std::string text = whole.string();
    for (const char* folder : SYSTEM_FOLDERS) {
        const std::size_t n = std::strlen(folder);
        if (text.compare(0, n, folder) == 0 && (text.size() == n || text[n] == '/'))
            return true;
    }
    return false;
}

std::string folder_of(const std::string& name)
{
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return name.substr(0, slash);
}

} // namespace

bool UNDER_SYSTEM_FOLDER(const std::string& name)
{
    fs::path path = name;
    for (int hop = 0; hop <= LINKS_FOLLOWED; hop++) {
        if (under_system_folder_lexically(path))
            return true;
        /* the folders on the way may be links too */
        std::error_code ec;
        const fs::path folder = fs::weakly_canonical(fs::absolute(path, ec).parent_path(), ec);
        if (!ec && under_system_folder_lexically(folder / path.filename()))
            return true;
        if (!fs::is_symlink(fs::symlink_status(path, ec)) || ec)
            return false;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec)
            return false;
        path = target.is_absolute() ? target : fs::absolute(path, ec).parent_path() / target;
    }
    return false;
}

std::string OUTPUT_REFUSAL(const std::string& name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return "not a usable file name";
    if (name.size() > LONGEST_NAME)
        return "the name is longer than " + std::to_string(LONGEST_NAME) + " characters";
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t slash = name.find('/', start);
        if (slash == std::string::npos)
            slash = name.size();
        if (slash - start > LONGEST_NAME_PART)
            return "a part of the name is longer than " + std::to_string(LONGEST_NAME_PART) + " characters";
        start = slash + 1;
    }
    struct stat st {};
    if (stat(name.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return "not a regular file";
    } else if (errno != ENOENT) {
        return std::strerror(errno);
    } else {
        struct stat link {};
        if (lstat(name.c_str(), &link) == 0)
            return "a symbolic link that leads to no file";
    }
    if (UNDER_SYSTEM_FOLDER(name))
        return "a name under /dev or /proc, not a regular file";

    const std::string folder = folder_of(name);
    struct stat fst {};
    if (stat(folder.c_str(), &fst) != 0)
        return "the folder " + folder + " does not exist";
    if (!S_ISDIR(fst.st_mode))
        return folder + " is not a folder";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "the folder " + folder + " cannot be written (" + std::strerror(errno) + ")";
    return "";
}
