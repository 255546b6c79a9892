// The ncsim program as scripts and other tests start it: first line on
// stdout, device IDs, clean exit on SIGINT and SIGTERM, refused arguments.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/ncsim/engine_session.h"
#include "link/link_ops.h"
#include "link/udp_link.h"

extern char **environ;

namespace {

using namespace testing_payloads;

struct Child {
    pid_t pid = -1;
    FILE *out = nullptr;

    ~Child() {
        if (out != nullptr) fclose(out);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    std::string FirstLine() {
        char line[256] = {};
        if (fgets(line, sizeof line, out) == nullptr) return {};
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }
    // Exit status after the signal, -1 if it did not exit normally.
    int StopWith(int signal) {
        kill(pid, signal);
        int status = 0;
        waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

bool Spawn(Child &child, std::vector<std::string> args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    args.insert(args.begin(), NCSIM_PROGRAM);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&child.pid, NCSIM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    child.out = fdopen(pipeFds[0], "r");
    return rc == 0;
}

TEST(NcsimProgram, PtyModePrintsTheDevicePathFirstAndEndsCleanlyOnSigterm) {
    Child child;
    ASSERT_TRUE(Spawn(child, {"--pty"}));
    const std::string path = child.FirstLine();
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0) << "first line: " << path;
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(child.StopWith(SIGTERM), 0);
}

TEST(NcsimProgram, AnswersOnlyTheDeviceIdsItIsGiven) {
    Child child;
    ASSERT_TRUE(Spawn(child, {"--udp", "127.0.0.1:0", "--ids", "2,4"}));
    const std::string endpoint = child.FirstLine();
    const size_t colon = endpoint.rfind(':');
    ASSERT_NE(colon, std::string::npos) << endpoint;

    core::ModbusInit(1, 0, 0);
    core::SetUartReceiveFun(dnclink::LinkReceive);
    core::SetUartSendFrameFun(dnclink::LinkSendFrame);
    dnclink::SelectLink(dnclink::kLinkUdp);
    ASSERT_EQ(dnclink::UdpPrepare(endpoint.substr(0, colon).c_str()), 0);
    dnclink::UdpSetDestinationPort(static_cast<uint16_t>(std::stoi(endpoint.substr(colon + 1))));
    for (const uint8_t id : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(int(id));
        Bytes search = TextRequest(nccmd::kSearchIdWord);
        EXPECT_EQ(Exchange(false, id, search), id == 2 || id == 4 ? 0 : 0xFF);
    }
    EXPECT_EQ(child.StopWith(SIGINT), 0);
}

TEST(NcsimProgram, RefusesArgumentsItCannotUse) {
    const std::vector<std::vector<std::string>> cases = {
        {"--drop", "2"}, {"--ids", "1,x"}, {"--abnormal-at", "3"}, {"--frobnicate"}, {"--udp", "127.0.0.1:99999"},
    };
    for (const auto &args : cases) {
        SCOPED_TRACE(args[0]);
        Child child;
        ASSERT_TRUE(Spawn(child, args));
        int status = 0;
        waitpid(child.pid, &status, 0);
        child.pid = -1;
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2);
    }
}

}  // namespace
