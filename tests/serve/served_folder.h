/*
** served_folder.h -- a `morvenda serve` child on a temporary herds folder.
**
** The server is the real program, started on a free port; the tests talk
** to it over HTTP as the page does.
*/
#ifndef MORVENDA_TEST_SERVED_FOLDER_H
#define MORVENDA_TEST_SERVED_FOLDER_H

#include <string>
#include <sys/types.h>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

class ServedFolder {
public:
    /* `options` are more options of `morvenda serve` (limits). */
    explicit ServedFolder(const std::string& host = "127.0.0.1", const std::vector<std::string>& options = {});
    ~ServedFolder();
    ServedFolder(const ServedFolder&) = delete;
    ServedFolder& operator=(const ServedFolder&) = delete;

    const std::string& dir() const { return dir_; }
    const std::string& token() const { return token_; }
    const std::string& banner() const { return banner_; }
    int port() const { return port_; }
    /* A client as the server's own page: its requests carry the page's
    ** Origin (and the token, where one is needed). */
    httplib::Client client() const;
    /* The page's Origin, http://HOST:PORT. */
    std::string origin() const;

    /* A herd made from the example herd in pounds. */
    void add_example(const std::string& name);
    /* Polls the run until it has ended (or the time is up); its last state. */
    nlohmann::json wait_run(const std::string& id, int seconds = 300);
    std::string start_run(const std::string& herd);

private:
    std::string dir_;
    std::string host_;
    std::string token_;
    std::string banner_;
    int port_ = 0;
    pid_t pid_ = 0;
};

nlohmann::json json_of(const httplib::Result& res);

#endif
