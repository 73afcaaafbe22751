#include "support/LocalHttpsServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace rszorvik::test {
namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts a program found on PATH; its standard error goes to errLog. stdinFd and stdoutFd, when not -1,
// become its standard input and output.
pid_t spawn(std::vector<std::string> args, const std::string& errLog, int stdinFd = -1, int stdoutFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errLog.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

void run(const std::vector<std::string>& args, const std::string& errLog) {
    const pid_t pid = spawn(args, errLog);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(args[0] + " " + args[1] + " failed: " + readAll(errLog));
}

void makeAuthority(const std::string& dir, const std::string& name, const std::string& log) {
    run({"openssl",
         "req",
         "-x509",
         "-newkey",
         "ec",
         "-pkeyopt",
         "ec_paramgen_curve:prime256v1",
         "-nodes",
         "-keyout",
         dir + "/" + name + ".key",
         "-out",
         dir + "/" + name + ".pem",
         "-days",
         "2",
         "-subj",
         "/CN=zorvik test " + name,
         "-addext",
         "basicConstraints=critical,CA:TRUE",
         "-addext",
         "keyUsage=critical,keyCertSign,cRLSign"},
        log);
}

}  // namespace

LocalHttpsServer::LocalHttpsServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zorvik-https-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    workDir = pattern;
    const std::string log = workDir + "/openssl.log";
    makeAuthority(workDir, "ca", log);
    makeAuthority(workDir, "other-ca", log);
    caPath = workDir + "/ca.pem";
    otherCaPath = workDir + "/other-ca.pem";
    std::ofstream(workDir + "/server.ext")
        << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
           "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n";
    run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", workDir + "/server.key", "-out", workDir + "/server.csr", "-subj", "/CN=127.0.0.1"},
        log);
    run({"openssl", "x509", "-req", "-in", workDir + "/server.csr", "-CA", caPath, "-CAkey",
         workDir + "/ca.key", "-set_serial", "2", "-days", "2", "-extfile", workDir + "/server.ext", "-out",
         workDir + "/server.pem"},
        log);
    std::filesystem::create_directory(workDir + "/www");

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    serverPid = spawn({"python3", ZORVIK_TEST_SUPPORT_DIR "/https_server.py", "--cert",
                       workDir + "/server.pem", "--key", workDir + "/server.key", "--root", workDir + "/www"},
                      workDir + "/server.log", in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    serverStdin = in[1];

    std::string line;
    pollfd fd{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&fd, 1, 10000) > 0) {
        std::array<char, 64> buffer;
        const ssize_t n = ::read(out[0], buffer.data(), buffer.size());
        if (n <= 0) break;
        line.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    listenPort = std::atoi(line.c_str());
    if (listenPort <= 0) {
        const std::string why = readAll(workDir + "/server.log");
        stop();
        throw std::runtime_error("the HTTPS server did not start: " + why);
    }
}

LocalHttpsServer::~LocalHttpsServer() {
    stop();
}

void LocalHttpsServer::stop() {
    if (serverStdin >= 0) ::close(serverStdin);
    serverStdin = -1;
    if (serverPid > 0) {
        ::kill(serverPid, SIGTERM);
        ::waitpid(serverPid, nullptr, 0);
        serverPid = -1;
    }
    if (!workDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(workDir, ignored);
        workDir.clear();
    }
}

void LocalHttpsServer::putFile(const std::string& name, const std::string& content) const {
    std::ofstream(workDir + "/www/" + name, std::ios::binary) << content;
}

std::string LocalHttpsServer::url(const std::string& pathAndQuery) const {
    return "https://127.0.0.1:" + std::to_string(listenPort) + "/" + pathAndQuery;
}

SilentListener::SilentListener() {
    socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socketFd < 0 || ::bind(socketFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(socketFd, 4) != 0 ||
        ::getsockname(socketFd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    listenPort = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
    if (socketFd >= 0) ::close(socketFd);
}

std::string SilentListener::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(listenPort) + "/" + path;
}

}  // namespace rszorvik::test
