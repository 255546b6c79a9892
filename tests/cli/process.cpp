#include "tests/cli/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace clitest {

namespace {

std::string TempFile(const std::string &tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("dncctl-" + tag + "-XXXXXX")).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    return pattern;
}

}  // namespace

Process::Process(const std::string &program, const std::vector<std::string> &args, int stderrFd)
    : outPath_(TempFile("out")), errPath_(TempFile("err")) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    if (stderrFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_TRUNC, 0);
    }
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
}

Process::~Process() {
    Wait();
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

void Process::Signal(int signal) const { kill(pid_, signal); }

bool Process::Ended() {
    if (waited_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    status_ = status;
    waited_ = true;
    return true;
}

Outcome Process::Wait() {
    if (!waited_) {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
        waited_ = true;
    }
    Outcome outcome;
    outcome.status = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    outcome.out = ReadFile(outPath_);
    outcome.err = ReadFile(errPath_);
    return outcome;
}

Outcome Run(const std::string &program, const std::vector<std::string> &args) {
    Process process(program, args);
    return process.Wait();
}

Outcome RunOnTerminal(const std::string &program, const std::vector<std::string> &args) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("no pseudo-terminal");
    Process process(program, args, slave);
    close(slave);
    // Drained while the program runs, so it never blocks on a full terminal.
    std::string terminal;
    char chunk[512];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            const ssize_t n = read(master, chunk, sizeof chunk);
            if (n <= 0) break;  // EIO once the program has closed its side
            terminal.append(chunk, size_t(n));
        } else if (process.Ended()) {
            break;
        }
    }
    close(master);
    Outcome outcome = process.Wait();
    outcome.err = terminal;
    return outcome;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string &path) { return std::filesystem::exists(path); }

std::map<std::string, std::string> Tree(const std::string &folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    for (const auto &e : fs::recursive_directory_iterator(folder)) {
        const std::string relative = e.path().lexically_relative(folder).generic_string();
        if (e.is_directory()) tree[relative + "/"] = "";
        else tree[relative] = ReadFile(e.path().string());
    }
    return tree;
}

std::string MakeTempDir(const std::string &tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("dncctl-" + tag + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void RemoveTree(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace clitest
