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
    dir_ = pattern;
    const std::string log = dir_ + "/openssl.log";
    makeAuthority(dir_, "ca", log);
    makeAuthority(dir_, "other-ca", log);
    caFile_ = dir_ + "/ca.pem";
    otherCaFile_ = dir_ + "/other-ca.pem";
    std::ofstream(dir_ + "/server.ext")
        << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
           "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n";
    run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", dir_ + "/server.key", "-out", dir_ + "/server.csr", "-subj", "/CN=127.0.0.1"},
        log);
    run({"openssl", "x509", "-req", "-in", dir_ + "/server.csr", "-CA", caFile_, "-CAkey", dir_ + "/ca.key",
         "-set_serial", "2", "-days", "2", "-extfile", dir_ + "/server.ext", "-out", dir_ + "/server.pem"},
        log);
    std::filesystem::create_directory(dir_ + "/www");

    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = spawn({"python3", ZORVIK_TEST_SUPPORT_DIR "/https_server.py", "--cert", dir_ + "/server.pem",
                  "--key", dir_ + "/server.key", "--root", dir_ + "/www"},
                 dir_ + "/server.log", in[0], out[1]);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];

    std::string line;
    pollfd fd{out[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&fd, 1, 10000) > 0) {
        std::array<char, 64> buffer;
        const ssize_t n = ::read(out[0], buffer.data(), buffer.size());
        if (n <= 0) break;
        line.append(buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        const std::string why = readAll(dir_ + "/server.log");
        stop();
        throw std::runtime_error("the HTTPS server did not start: " + why);
    }
}

LocalHttpsServer::~LocalHttpsServer() {
    stop();
}

void LocalHttpsServer::stop() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        dir_.clear();
    }
}

void LocalHttpsServer::putFile(const std::string& name, const std::string& content) const {
    std::ofstream(dir_ + "/www/" + name, std::ios::binary) << content;
}

std::string LocalHttpsServer::url(const std::string& pathAndQuery) const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/" + pathAndQuery;
}

SilentListener::SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot listen on 127.0.0.1");
    port_ = ntohs(address.sin_port);
}

SilentListener::~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
}

std::string SilentListener::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

}  // namespace rszorvik::test
