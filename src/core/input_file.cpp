/*
** input_file.cpp -- reading a whole input file, bounded.
**
** The file is opened without blocking (a pipe or a device must not hang
** the open), checked on the open descriptor (no window between check and
** read), and read to its end but never past the limit, in case it grows
** while it is read.
*/
#include "core/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InputRead READ_INPUT_FILE(const std::string& name, std::size_t limit, std::string& text,
                          std::string& error)
{
    text.clear();
    error.clear();
    if (name.find('\0') != std::string::npos) {
        error = "the name holds a NUL character";
        return InputRead::refused;
    }
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return InputRead::not_opened;
    }
    struct stat st {};
    InputRead result = InputRead::read;
    if (fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        result = InputRead::refused;
    } else if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        result = InputRead::refused;
    } else if (static_cast<unsigned long long>(st.st_size) > limit) {
        error = "larger than " + std::to_string(limit) + " bytes";
        result = InputRead::refused;
    } else {
        text.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        char extra;
        for (;;) {
            char* into = got < text.size() ? &text[got] : &extra;
            const std::size_t room = got < text.size() ? text.size() - got : 1;
            const ssize_t n = ::read(fd, into, room);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = std::strerror(errno);
                result = InputRead::refused;
                break;
            }
            if (n == 0)
                break;
            if (into == &extra) {
                /* The file grew while it was read. */
                if (got + 1 > limit) {
                    error = "larger than " + std::to_string(limit) + " bytes";
                    result = InputRead::refused;
                    break;
                }
                text.push_back(extra);
                got++;
                continue;
            }
            got += static_cast<std::size_t>(n);
        }
        text.resize(got);
    }
    ::close(fd);
    if (result != InputRead::read)
        text.clear();
    return result;
}
