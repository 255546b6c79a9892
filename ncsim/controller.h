// The controller's side of the file service: one request payload in, one
// answer out (a normal payload or an exception code). No transport, no
// faults: the simulator wraps it in frames and decides what reaches the wire.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ncsim/storage.h"

namespace ncsim {

struct Answer {
    enum class Kind { Normal, Exception };
    Kind kind = Kind::Normal;
    uint8_t exceptionCode = 0;
    std::vector<uint8_t> payload;
    std::string note;  // what was done, for the verbose log
};

// Exception codes, named as the program's result texts name them.
inline constexpr uint8_t kExInvalidFunction = 0x01;
inline constexpr uint8_t kExInvalidData = 0x03;
inline constexpr uint8_t kExExecuteError = 0x04;
inline constexpr uint8_t kExVerifyError = 0x08;
inline constexpr uint8_t kExOpenFileError = 0xE2;

// The state record of the state query and of every DNC block answer.
// Offsets: 0 blocks taken, 4 bytes buffered, 8 AbnormalCode, 16 bytes
// machined, 20 machining rate (all 32-bit, least significant byte first);
// 12 run active, 15 BlockTaken.
inline constexpr size_t kStateRecordSize = 32;

struct DncSettings {
    uint32_t rate = 0;           // bytes per second; 0 machines at once
    uint32_t bufferSize = 2048;  // program bytes held ahead of the machining
    uint32_t busyPerBlock = 0;
    int32_t abnormalAtBlock = 0;
    int32_t abnormalCode = 0;
    int32_t busyRecordLength = -1;  // 0-15: busy answers carry only this much of the record
    std::string captureFile;
};

// What the opening answers of reads announce (-1: the truth).
struct AnnounceSettings {
    int64_t blocks = -1;
    int64_t size = -1;
};

class Controller {
public:
    Controller(Storage &storage, DncSettings dnc, AnnounceSettings announce = {});
    ~Controller();
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // function is the request's function code (0x24 read, 0x25 write).
    Answer Handle(uint8_t function, const uint8_t *payload, size_t length);

    uint64_t DncBytesTaken() const { return dncBytesTaken_; }

private:
    Answer HandleRead(const uint8_t *payload, size_t length);
    Answer HandleWrite(const uint8_t *payload, size_t length);
    Answer HandleText(std::string_view text);
    Answer ReadBlock(uint32_t block);
    Answer OpenRead(std::vector<uint8_t> data, std::string note);
    Answer Announce(uint32_t blocks, uint32_t size, std::string_view text);
    Answer UploadBlock(uint32_t block, const uint8_t *data, size_t length);
    Answer StartDnc(uint32_t blocks, uint32_t size);
    Answer DncBlock(uint32_t block, const uint8_t *data, size_t length);
    void DrainDncBuffer();
    std::vector<uint8_t> StateRecord(bool blockTaken, int32_t abnormal) const;
    void EndDncRun();

    Storage &storage_;
    DncSettings dnc_;
    AnnounceSettings announce_;

    // The data a text request opened for block-wise reading.
    struct ReadSession {
        bool open = false;
        std::vector<uint8_t> data;
        uint32_t blocks = 0;
        uint32_t servedBlocks = 0;  // blocks the opening answer announced
    } read_;

    // An upload in progress: the data is held until its last block.
    struct Upload {
        bool open = false;
        std::string path;
        uint32_t blocks = 0;
        uint32_t size = 0;
        uint32_t nextBlock = 1;
        std::vector<uint8_t> data;
        uint32_t lastFinishedBlock = 0;  // answered again when its answer got lost
    } upload_;

    enum class WriteMode { None, Upload, Dnc } writeMode_ = WriteMode::None;

    struct DncRun {
        bool active = false;
        uint32_t blocks = 0;
        uint32_t nextBlock = 1;
        double buffered = 0;
        uint64_t machined = 0;
        uint64_t lastDrainMs = 0;
        uint32_t busyLeft = 0;
        int32_t abnormal = 0;
        FILE *capture = nullptr;
    } run_;
    uint64_t dncBytesTaken_ = 0;
};

}  // namespace ncsim
