/*
** input_file.h -- the bounded read of a file a user gives.
**
** The bio, pol and MKV files are read whole into memory before they are
** parsed.  A name that leads to something other than a regular file (a
** device such as /dev/zero, a pipe, a folder) or to a file larger than any
** such file can be would make that read endless or exhaust memory, so it
** is refused before a byte is read.
*/
#ifndef MORVENDA_RUN_INPUT_FILE_H
#define MORVENDA_RUN_INPUT_FILE_H

#include <cstddef>
#include <string>

enum class InputRead {
    read,       /* the whole file is in the text */
    not_opened, /* there is no such file, or it cannot be opened */
    refused,    /* not a regular file, too large, or a read error: see error */
};

/* Reads all of `name` into `text`, refusing more than `limit` bytes. */
InputRead READ_INPUT_FILE(const std::string& name, std::size_t limit, std::string& text,
                          std::string& error);

#endif
