// Runs dncctl as a separate process, the way scripts use it: arguments in,
// exit status and the bytes of stdout and stderr out.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace clitest {

struct Outcome {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

class Process {
public:
    // Starts `program` with `args`; stdout and stderr go to temp files, or
    // stderr to `stderrFd` when one is given (e.g. a terminal).
    Process(const std::string &program, const std::vector<std::string> &args, int stderrFd = -1);
    ~Process();  // waits if still running
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal) const;
    // True once the process has ended (does not wait).
    bool Ended();
    Outcome Wait();

private:
    pid_t pid_ = -1;
    int status_ = -1;
    bool waited_ = false;
    std::string outPath_;
    std::string errPath_;
};

// Starts and waits.
Outcome Run(const std::string &program, const std::vector<std::string> &args);

// Starts and waits with stderr on a fresh terminal (a pseudo-terminal),
// draining it as the program writes; `err` holds what the terminal showed.
Outcome RunOnTerminal(const std::string &program, const std::vector<std::string> &args);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &bytes);
bool FileExists(const std::string &path);
// A fresh empty folder under the system's temp folder.
std::string MakeTempDir(const std::string &tag);
void RemoveTree(const std::string &path);
// Every file below `folder` with its bytes, by relative path ('/'-separated);
// folders as "PATH/" with no content. Hidden files included.
std::map<std::string, std::string> Tree(const std::string &folder);

}  // namespace clitest
