// A simulated NC controller: it answers the program's frames from the
// controller's side and serves a folder of this computer as its storage.
// It runs on its own thread, over UDP, a fresh pseudo-terminal or a serial
// device, in the ncsim program as well as inside tests and the demo mode.
//
// Exception codes it answers with (the program's result texts name them):
//   0x01 Invalid Function Code   function code other than 0x24/0x25
//   0x03 Invalid Data            malformed request, unknown command, a path
//                                that leaves the root or uses a link, a name
//                                that does not fit a listing entry (8.3),
//                                a block number out of sequence
//   0x04 Execute Operation Error the operation failed on the storage (file
//                                where a directory is expected, directory not
//                                empty, directory exists, write failed)
//   0x08 File Data Verify Error  upload blocks that disagree with the
//                                announced size (the upload is discarded)
//   0xE2 Open File Error         the named file or directory does not exist
// A busy controller (DNC buffer full, --busy) answers normally with
// BlockTaken 0 in its state record rather than with 0x06, because the DNC
// sender resends a block only on such an answer. Any new announcement ends
// a DNC run or an upload left unfinished, so a sender that went away never
// leaves the controller stuck.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ncsim {

struct Options {
    // Folder served as the storage. Empty: a fresh copy of the sample tree in
    // a temporary folder, removed when the simulator is destroyed.
    std::string root;
    // Device IDs answered; frames to other addresses get no answer.
    std::vector<uint8_t> ids{1};
    // DNC machining rate in bytes per second; 0 machines instantly.
    uint32_t dncRate = 0;
    // Fault injection.
    double dropProbability = 0;     // a request is ignored (no answer)
    // One character of a request (anywhere: past the checksum's reach the
    // damage goes unnoticed and is stored) or one checked character of an
    // answer is damaged, each with this probability.
    double corruptProbability = 0;
    // Each answer leaves this long after its request came, plus a random
    // share of the jitter. The controller goes on reading requests
    // meanwhile (a far or slow network, not a stalled controller), so an
    // answer can arrive after the sender gave up on it and sent again.
    // Over UDP answers may overtake each other; on a line they keep order.
    uint32_t delayMs = 0;
    uint32_t jitterMs = 0;
    // An answer is sent twice, the copy a random 10 to 60 ms after it.
    double duplicateProbability = 0;
    // One bit of one character of an answer (anywhere from ':' to LF) is
    // flipped, as noise on a line does, with this probability.
    double flipProbability = 0;
    uint32_t busyPerBlock = 0;      // busy answers before each DNC block is taken
    // A controller that answers busy DNC blocks with a state record of only
    // this many bytes (0 to 15; -1: the whole record).
    int32_t busyRecordLength = -1;
    // Every opening answer of a read, listing or state query announces this
    // block count and size instead of the true ones (-1 keeps the true
    // value). Blocks beyond the data are served as 512 zero bytes, so a
    // client that believes the announcement can go on requesting.
    int64_t announcedBlocks = -1;
    int64_t announcedSize = -1;
    int32_t abnormalAtBlock = 0;    // DNC block that reports abnormalCode (0: never)
    int32_t abnormalCode = 0;
    uint32_t seed = 1;
    // Reading this remote file ("\PRG\O0002.CNC") is refused with 0x04, as a
    // controller does with a file it holds open; everything else is served.
    std::string refuseRead;
    // Receives the bytes a DNC run streamed (truncated at each run's start).
    std::string captureFile;
    // On a pseudo-terminal: answers leave at the pace of a line at this many
    // bits per second, 10 bits a character (0: at once). A real serial
    // device paces itself.
    uint32_t lineBaud = 0;
    // One line per request on stderr.
    bool verbose = false;
};

// Counters for tests; read while running or after Stop().
struct Stats {
    uint64_t framesReceived;   // complete frames, any address
    uint64_t framesAnswered;   // normal and exception answers sent
    uint64_t framesIgnored;    // other addresses, bad checksum, dropped
    uint64_t dncBytesTaken;    // program bytes the DNC run accepted
    uint64_t charactersIn;     // characters read from the line or datagrams
    uint64_t charactersOut;    // characters of answers put on the line or sent
};

class Simulator {
public:
    explicit Simulator(Options options = {});
    ~Simulator();  // stops
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // UDP on host:port; port 0 picks a free one (see UdpPort()).
    bool StartUdp(const std::string &host = "127.0.0.1", uint16_t port = 0);
    uint16_t UdpPort() const;

    // A fresh pseudo-terminal in raw mode; PtyPath() is its slave device.
    bool StartPty();
    const std::string &PtyPath() const;

    // A real serial device at the given rate in bits per second.
    bool StartSerial(const std::string &device, uint32_t baud);

    // Ends the thread and closes everything it opened. Idempotent.
    void Stop();
    bool Running() const;

    // The folder being served.
    const std::string &Root() const;
    // Why the last Start failed.
    const std::string &LastError() const;
    Stats CurrentStats() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes the built-in sample tree into an existing folder: QVT\QVTROM.BIN,
// a PRG folder with NC programs (O0001.CNC carries a GBK comment), an empty
// DATA folder. False (with errno set) when a file cannot be written.
bool WriteSampleTree(const std::string &folder);

}  // namespace ncsim
