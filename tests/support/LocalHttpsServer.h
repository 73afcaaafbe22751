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
    const std::string& caFile() const { return caPath; }     // the authority that signed the server
    const std::string& otherCaFile() const { return otherCaPath; }  // an authority that did not
    int port() const { return listenPort; }

  private:
    void stop();

    std::string workDir;
    std::string caPath;
    std::string otherCaPath;
    pid_t serverPid = -1;
    int serverStdin = -1;  // closing it ends the server
    int listenPort = 0;
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
    int socketFd = -1;
    int listenPort = 0;
};

}  // namespace rszorvik::test
