/*
** support.cpp -- temporary directories, file helpers and the program
** runner for the tests.
*/
#include "support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "run/records.h"

ScratchDir::ScratchDir()
{
    previous_ = std::filesystem::current_path().string();
    char tmpl[] = "/tmp/morvenda-test-XXXXXX";
    char* made = mkdtemp(tmpl);
    if (made == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = made;
    std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string READ_TEXT(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WRITE_TEXT(const std::string& name, const std::string& text)
{
    std::ofstream out(name, std::ios::binary);
    out << text;
}

bool FILE_EXISTS(const std::string& name)
{
    return std::filesystem::exists(name);
}

std::string SOURCE_PATH(const std::string& relative)
{
    return std::string(MORVENDA_SOURCE_DIR) + "/" + relative;
}

void ALLOCATE_RECORDS()
{
    if (bio != nullptr && fut != nullptr && pol != nullptr && rpo != nullptr &&
        ins != nullptr && del != nullptr && mkv != nullptr)
        return;
    ScratchDir dir; /* the resets may write msg.txt */
    testing::internal::CaptureStdout();
    INIT_BIO_RECORD();
    INIT_FUT_RECORD();
    INIT_POL_RECORD();
    INIT_RPO_RECORD();
    INIT_INS_RECORD();
    INIT_DEL_RECORD();
    INIT_MKV_RECORD();
    testing::internal::GetCapturedStdout();
}

int RUN_PROGRAM(const std::string& args, const std::string& console_file)
{
    std::string cmd = std::string(MORVENDA_BINARY) + " " + args + " </dev/null >" + console_file + " 2>&1";
    int rc = std::system(cmd.c_str());
    if (rc == -1 || !WIFEXITED(rc))
        return -1;
    return WEXITSTATUS(rc);
}
