#pragma once

#include <sys/types.h>

#include <string>

namespace rszorvik::test {

// An HTTPS server on 127.0.0.1 for one test: a certificate authority made with openssl for this run, a
// server certificate it signed for 127.0.0.1, and tests/support/https_server.py serving a throw-away
// folder. /stall never answers; /redirect?to=URL answers 302. Stopped and removed on destruction; it ends
// by itself after two minutes or when this process goes.
class LocalHttpsServer {
  public:
    LocalHttpsServer();  // throws std::runtime_error when openssl or python3 fails
    ~LocalHttpsServer();
    LocalHttpsServer(const LocalHttpsServer&) = delete;
    LocalHttpsServer& operator=(const LocalHttpsServer&) = delete;

    void putFile(const std::string& name, const std::string& content) const;
    std::string url(const std::string& pathAndQuery) const;  // "https://127.0.0.1:PORT/" + pathAndQuery
    const std::string& caFile() const { return caFile_; }    // the authority that signed the server
    const std::string& otherCaFile() const { return otherCaFile_; }  // an authority that did not
    int port() const { return port_; }

  private:
    void stop();

    std::string dir_;
    std::string caFile_;
    std::string otherCaFile_;
    pid_t pid_ = -1;
    int stdin_ = -1;  // closing it ends the server
    int port_ = 0;
};

// A socket on 127.0.0.1 that listens and never accepts: the kernel completes the connection, nobody answers.
class SilentListener {
  public:
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    std::string url(const std::string& path) const;  // "https://127.0.0.1:PORT/" + path

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace rszorvik::test
