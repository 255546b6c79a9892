// A simulated controller with its own storage folder and a work folder,
// and dncctl's command line pointed at it: what the end-to-end tests of the
// command-line client share.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/cli/process.h"
#include "ncsim/simulator.h"

namespace clitest {

// DNCCTL_UNDER_TEST runs another build in its place: the Windows one under
// wine, through tests/windows/dncctl-wine.sh.
inline const std::string kDncctl = std::getenv("DNCCTL_UNDER_TEST") ? std::getenv("DNCCTL_UNDER_TEST") : DNCCTL_PATH;

inline std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char &c : bytes) c = static_cast<char>(random() & 0xFF);
    return bytes;
}

enum class Transport { kUdp, kPty };

// One simulator with its own folder, and dncctl pointed at it.
class Controller {
public:
    explicit Controller(Transport transport, ncsim::Options options = {}, bool capture = false)
        : transport_(transport) {
        root_ = clitest::MakeTempDir("root");
        work_ = clitest::MakeTempDir("work");
        // dncctl appends to the journal: never the user's own.
        setenv("DNCPANEL_JOURNAL", JournalPath().c_str(), 1);
        options.root = root_;
        if (capture) options.captureFile = CapturePath();
        sim_ = std::make_unique<ncsim::Simulator>(options);
        const bool started = transport == Transport::kUdp ? sim_->StartUdp("127.0.0.1", 0) : sim_->StartPty();
        if (!started) throw std::runtime_error("simulator: " + sim_->LastError());
    }
    ~Controller() {
        sim_.reset();
        clitest::RemoveTree(root_);
        clitest::RemoveTree(work_);
    }

    std::vector<std::string> LinkArgs() const {
        if (transport_ == Transport::kUdp) return {"--udp", "127.0.0.1:" + std::to_string(sim_->UdpPort())};
        return {"--serial", sim_->PtyPath(), "--baud", "115200"};
    }

    std::vector<std::string> Args(std::vector<std::string> command) const {
        std::vector<std::string> args = LinkArgs();
        args.insert(args.end(), command.begin(), command.end());
        return args;
    }

    Outcome Run(std::vector<std::string> command) const { return clitest::Run(kDncctl, Args(std::move(command))); }

    // A local file in the work folder.
    std::string Local(const std::string &name, const std::string &bytes) const {
        const std::string path = work_ + "/" + name;
        clitest::WriteFile(path, bytes);
        return path;
    }
    std::string WorkPath(const std::string &name) const { return work_ + "/" + name; }
    std::string CapturePath() const { return WorkPath("capture.bin"); }
    std::string JournalPath() const { return WorkPath("journal.tsv"); }
    std::string RootPath(const std::string &name) const { return root_ + "/" + name; }
    ncsim::Simulator &Sim() { return *sim_; }

private:
    Transport transport_;
    std::string root_;
    std::string work_;
    std::unique_ptr<ncsim::Simulator> sim_;
};

// Compares without printing megabytes of binary on failure.
inline ::testing::AssertionResult SameBytes(const std::string &got, const std::string &want) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    return ::testing::AssertionFailure() << "sizes " << got.size() << " and " << want.size()
                                         << ", first difference at byte " << i;
}

inline std::string Describe(const Outcome &o) { return "status " + std::to_string(o.status) + "\nstderr: " + o.err; }

}  // namespace clitest
