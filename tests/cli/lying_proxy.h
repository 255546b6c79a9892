// A controller that does not tell the truth: a UDP relay in front of a
// simulator that answers some requests itself. dncctl talks to the relay as
// to any controller; a rule decides, request by request, whether the
// simulator answers or the relay makes up an answer (a success for a
// deletion it never passed on, a listing of names no simulator serves).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ncsim/frames.h"
#include "nccmd/nc_protocol.h"

namespace clitest {

class LyingProxy {
public:
    // The payload to answer with, or nothing to pass the request on.
    using Rule = std::function<std::optional<std::vector<uint8_t>>(const ncsim::Request &)>;

    LyingProxy(uint16_t simulatorPort, Rule rule) : rule_(std::move(rule)) {
        front_ = Bound();
        back_ = Bound();
        sockaddr_in sim = Loopback(simulatorPort);
        if (connect(back_, reinterpret_cast<sockaddr *>(&sim), sizeof sim) != 0) throw std::runtime_error("connect");
        thread_ = std::thread([this] { Loop(); });
    }
    ~LyingProxy() {
        stop_ = true;
        thread_.join();
        close(front_);
        close(back_);
    }
    LyingProxy(const LyingProxy &) = delete;
    LyingProxy &operator=(const LyingProxy &) = delete;

    uint16_t Port() const {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        getsockname(front_, reinterpret_cast<sockaddr *>(&address), &length);
        return ntohs(address.sin_port);
    }

    // The text of a text request ("%DeleteFile%\A.NC"), "" for a block request.
    static std::string Text(const ncsim::Request &request) {
        if (request.payload.size() <= nccmd::kBlockHeaderSize) return "";
        return std::string(request.payload.begin() + nccmd::kBlockHeaderSize, request.payload.end());
    }

private:
    static sockaddr_in Loopback(uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    static int Bound() {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in any = Loopback(0);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0) throw std::runtime_error("bind");
        return fd;
    }

    void Loop() {
        sockaddr_in client{};
        socklen_t clientLength = 0;
        char buffer[8192];
        while (!stop_) {
            pollfd fds[2] = {{front_, POLLIN, 0}, {back_, POLLIN, 0}};
            if (poll(fds, 2, 20) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                clientLength = sizeof client;
                const ssize_t n = recvfrom(front_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&client),
                                           &clientLength);
                ncsim::Request request;
                if (n > 0 && ncsim::ParseRequest(buffer, size_t(n), request)) {
                    if (const auto answer = rule_(request)) {
                        const std::string frame = ncsim::NormalFrame(request.address, request.function, *answer);
                        sendto(front_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr *>(&client),
                               clientLength);
                        continue;
                    }
                }
                if (n > 0) send(back_, buffer, size_t(n), 0);
            }
            if (fds[1].revents & POLLIN) {
                const ssize_t n = recv(back_, buffer, sizeof buffer, 0);
                if (n > 0 && clientLength > 0) {
                    sendto(front_, buffer, size_t(n), 0, reinterpret_cast<sockaddr *>(&client), clientLength);
                }
            }
        }
    }

    Rule rule_;
    int front_ = -1;
    int back_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// One 20-byte listing entry; `extension` may fill its field without a
// terminating zero, as no honest controller's does.
inline void PutListingEntry(std::vector<uint8_t> &listing, bool folder, const std::string &name,
                            const std::string &extension, uint32_t size) {
    uint8_t entry[nccmd::kListingEntrySize] = {};
    entry[0] = folder ? 0x10 : 0x20;
    for (size_t i = 0; i < name.size() && i < 8; ++i) entry[1 + i] = uint8_t(name[i]);
    for (size_t i = 0; i < extension.size() && i < 6; ++i) entry[10 + i] = uint8_t(extension[i]);
    for (int i = 0; i < 4; ++i) entry[16 + i] = uint8_t(size >> (8 * i));
    listing.insert(listing.end(), entry, entry + sizeof entry);
}

// A rule that serves the listing of `folder` ("\") itself, in one block,
// and passes everything else on.
class ListingRule {
public:
    ListingRule(std::string folder, std::vector<uint8_t> listing)
        : text_(std::string(nccmd::kDirListWord) + folder), listing_(std::move(listing)) {}

    std::optional<std::vector<uint8_t>> operator()(const ncsim::Request &request) {
        if (LyingProxy::Text(request) == text_) {
            serving_ = true;
            return Header({0, 1, uint32_t(listing_.size())});
        }
        if (serving_ && request.payload.size() == nccmd::kBlockHeaderSize && request.payload[3] == 1) {
            serving_ = false;
            std::vector<uint8_t> block = Header({1});
            block.insert(block.end(), listing_.begin(), listing_.end());
            return block;
        }
        return std::nullopt;
    }

private:
    static std::vector<uint8_t> Header(std::initializer_list<uint32_t> numbers) {
        std::vector<uint8_t> bytes;
        for (const uint32_t n : numbers) {
            for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(n >> shift));
        }
        return bytes;
    }

    std::string text_;
    std::vector<uint8_t> listing_;
    bool serving_ = false;
};

}  // namespace clitest
