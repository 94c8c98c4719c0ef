/*
** file_faults.h -- faults of the file system, made on purpose in a test.
**
** A full disk is stood for by a limit on the size of the files the process
** writes (the write fails with EFBIG instead of the process being killed).
*/
#ifndef MORVENDA_TEST_FILE_FAULTS_H
#define MORVENDA_TEST_FILE_FAULTS_H

#include <string>
#include <vector>

/* While it lives, no file of this process grows past `bytes`. */
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long previous_;
    void (*previous_handler_)(int);
};

/* Names in a folder (hidden ones too), sorted. */
std::vector<std::string> files_in(const std::string& folder);

#endif
