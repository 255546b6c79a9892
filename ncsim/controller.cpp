#include "ncsim/controller.h"

#include <time.h>

#include <algorithm>
#include <cstring>

#include "nccmd/nc_protocol.h"

namespace ncsim {
namespace {

using nccmd::AbortBlockNumber;
using nccmd::kBlockSize;

Answer Exception(uint8_t code, std::string note) {
    Answer a;
    a.kind = Answer::Kind::Exception;
    a.exceptionCode = code;
    a.note = std::move(note);
    return a;
}

uint8_t CodeOf(StorageStatus status) {
    switch (status) {
        case StorageStatus::Ok:
            return 0;
        case StorageStatus::NotFound:
            return kExOpenFileError;
        case StorageStatus::BadPath:
        case StorageStatus::TooLarge:
            return kExInvalidData;
        default:
            return kExExecuteError;
    }
}

const char *TextOf(StorageStatus status) {
    switch (status) {
        case StorageStatus::Ok: return "ok";
        case StorageStatus::BadPath: return "path not allowed";
        case StorageStatus::NotFound: return "not found";
        case StorageStatus::IsDirectory: return "is a directory";
        case StorageStatus::NotDirectory: return "not a directory";
        case StorageStatus::NotEmpty: return "directory not empty";
        case StorageStatus::Exists: return "exists";
        case StorageStatus::TooLarge: return "too large";
        case StorageStatus::Failed: return "failed";
    }
    return "?";
}

Answer StorageAnswer(StorageStatus status, std::string note) {
    note += std::string(" -> ") + TextOf(status);
    if (status != StorageStatus::Ok) return Exception(CodeOf(status), std::move(note));
    Answer a;
    a.payload.assign(nccmd::kBlockHeaderSize, 0);
    a.note = std::move(note);
    return a;
}

void PutHeader(std::vector<uint8_t> &payload, std::initializer_list<uint32_t> numbers) {
    uint16_t position = 0;
    payload.resize(std::max(payload.size(), numbers.size() * 4));
    for (const uint32_t n : numbers) nccmd::PutBigEndian(payload.data(), n, 4, &position);
}

uint32_t HeaderAt(const uint8_t *payload, uint16_t offset) {
    uint32_t value = 0;
    nccmd::GetBigEndian(payload, &value, 4, &offset);
    return value;
}

uint64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000 + uint64_t(now.tv_nsec) / 1000000;
}

bool StartsWith(std::string_view text, std::string_view word) { return text.substr(0, word.size()) == word; }

}  // namespace

Controller::Controller(Storage &storage, DncSettings dnc, AnnounceSettings announce)
    : storage_(storage), dnc_(std::move(dnc)), announce_(announce) {}

Controller::~Controller() { EndDncRun(); }

Answer Controller::Handle(uint8_t function, const uint8_t *payload, size_t length) {
    switch (function) {
        case 0x24:
            return HandleRead(payload, length);
        case 0x25:
            return HandleWrite(payload, length);
        default:
            return Exception(kExInvalidFunction, "unknown function code");
    }
}

Answer Controller::HandleRead(const uint8_t *payload, size_t length) {
    if (length < nccmd::kBlockHeaderSize) return Exception(kExInvalidData, "short request");
    const uint32_t number = HeaderAt(payload, 0);
    if (length == nccmd::kBlockHeaderSize) return ReadBlock(number);
    if (number != 0) return Exception(kExInvalidData, "text request with a block number");
    const auto *text = reinterpret_cast<const char *>(payload + 4);
    return HandleText(std::string_view(text, length - 4));
}

Answer Controller::OpenRead(std::vector<uint8_t> data, std::string note) {
    read_.open = true;
    read_.data = std::move(data);
    read_.blocks = static_cast<uint32_t>((read_.data.size() + kBlockSize - 1) / kBlockSize);
    read_.servedBlocks = read_.blocks;
    uint32_t size = static_cast<uint32_t>(read_.data.size());
    // A controller that announces what it does not hold (fault injection).
    if (announce_.blocks >= 0) read_.servedBlocks = static_cast<uint32_t>(announce_.blocks);
    if (announce_.size >= 0) size = static_cast<uint32_t>(announce_.size);
    Answer a;
    PutHeader(a.payload, {0, read_.servedBlocks, size});
    a.note = note + ": " + std::to_string(read_.data.size()) + " bytes in " + std::to_string(read_.blocks) + " blocks";
    return a;
}

Answer Controller::HandleText(std::string_view text) {
    using namespace nccmd;
    if (text == kSearchIdWord) {
        Answer a;
        PutHeader(a.payload, {0, 0, 0});
        a.note = "search: here";
        return a;
    }
    if (text == kSystemInfoStateWord) return OpenRead(StateRecord(false, run_.abnormal), "state");
    if (StartsWith(text, kDirListWord)) {
        const std::string_view path = text.substr(kDirListWord.size());
        std::vector<uint8_t> entries;
        const StorageStatus status = storage_.List(path, entries);
        std::string note = "list " + std::string(path);
        if (status != StorageStatus::Ok) return StorageAnswer(status, note);
        return OpenRead(std::move(entries), note);
    }
    if (StartsWith(text, kDeleteFileWord)) {
        const std::string_view path = text.substr(kDeleteFileWord.size());
        return StorageAnswer(storage_.DeleteFile(path), "delete file " + std::string(path));
    }
    if (StartsWith(text, kCreateDirWord)) {
        const std::string_view path = text.substr(kCreateDirWord.size());
        return StorageAnswer(storage_.CreateDir(path), "create dir " + std::string(path));
    }
    if (StartsWith(text, kDeleteDirWord)) {
        const std::string_view path = text.substr(kDeleteDirWord.size());
        return StorageAnswer(storage_.DeleteDir(path), "delete dir " + std::string(path));
    }
    if (StartsWith(text, "%")) return Exception(kExInvalidData, "unknown command " + std::string(text));

    std::vector<uint8_t> data;
    const StorageStatus status = storage_.ReadFile(text, data);
    std::string note = "read " + std::string(text);
    if (status != StorageStatus::Ok) return StorageAnswer(status, note);
    return OpenRead(std::move(data), note);
}

Answer Controller::ReadBlock(uint32_t block) {
    if (block == AbortBlockNumber) {
        // The reader gave up; it takes this like any block answer.
        read_.open = false;
        Answer a;
        PutHeader(a.payload, {block});
        a.note = "read aborted";
        return a;
    }
    if (!read_.open || block == 0 || block > std::max(read_.blocks, read_.servedBlocks)) {
        return Exception(kExInvalidData, "block " + std::to_string(block) + " not open for reading");
    }
    if (block > read_.blocks) {
        Answer filler;
        PutHeader(filler.payload, {block});
        filler.payload.resize(filler.payload.size() + kBlockSize, 0);
        filler.note = "block " + std::to_string(block) + " beyond the data: zeros";
        return filler;
    }
    const size_t from = size_t(block - 1) * kBlockSize;
    const size_t n = std::min<size_t>(kBlockSize, read_.data.size() - from);
    Answer a;
    PutHeader(a.payload, {block});
    a.payload.insert(a.payload.end(), read_.data.begin() + from, read_.data.begin() + from + n);
    a.note = "block " + std::to_string(block) + "/" + std::to_string(read_.blocks);
    return a;
}

Answer Controller::HandleWrite(const uint8_t *payload, size_t length) {
    if (length < nccmd::kBlockHeaderSize) return Exception(kExInvalidData, "short request");
    const uint32_t block = HeaderAt(payload, 0);
    if (block != 0) {
        // Data blocks belong to whatever the last announcement started.
        if (writeMode_ == WriteMode::Dnc) return DncBlock(block, payload + 4, length - 4);
        return UploadBlock(block, payload + 4, length - 4);
    }
    if (length < nccmd::kAnnouncementHeaderSize) return Exception(kExInvalidData, "short announcement");
    const uint32_t blocks = HeaderAt(payload, 4);
    const uint32_t size = HeaderAt(payload, 8);
    const auto *text = reinterpret_cast<const char *>(payload + 12);
    return Announce(blocks, size, std::string_view(text, length - 12));
}

Answer Controller::Announce(uint32_t blocks, uint32_t size, std::string_view text) {
    // A new announcement ends whatever was in progress; a partial upload is
    // dropped, so the file it would have replaced stays as it was.
    upload_ = Upload{};
    EndDncRun();
    run_ = DncRun{};
    writeMode_ = WriteMode::None;
    if (size > Storage::kMaxFileSize || blocks != uint32_t(nccmd::BlockCount(int32_t(size)))) {
        return Exception(kExInvalidData, "announced " + std::to_string(blocks) + " blocks for " +
                                             std::to_string(size) + " bytes");
    }
    if (text == nccmd::kNetDncRunWord) {
        writeMode_ = WriteMode::Dnc;
        return StartDnc(blocks, size);
    }

    const StorageStatus status = storage_.CheckWritable(text);
    std::string note = "write " + std::string(text) + " (" + std::to_string(size) + " bytes)";
    if (status != StorageStatus::Ok) return StorageAnswer(status, note);
    writeMode_ = WriteMode::Upload;
    upload_.open = true;
    upload_.path = std::string(text);
    upload_.blocks = blocks;
    upload_.size = size;
    upload_.data.reserve(size);
    if (blocks == 0) {
        // Nothing follows: the empty file is complete now.
        upload_.open = false;
        return StorageAnswer(storage_.WriteFile(upload_.path, upload_.data), note);
    }
    Answer a;
    PutHeader(a.payload, {0});
    a.note = note;
    return a;
}

Answer Controller::UploadBlock(uint32_t block, const uint8_t *data, size_t length) {
    Answer ok;
    PutHeader(ok.payload, {block});
    if (block == AbortBlockNumber) {
        upload_ = Upload{};
        ok.note = "upload aborted, nothing written";
        return ok;
    }
    // A repeated block whose answer got lost: it is already in.
    const bool repeated = upload_.open ? block + 1 == upload_.nextBlock : block == upload_.lastFinishedBlock;
    if (repeated && block != 0) {
        ok.note = "block " + std::to_string(block) + " again";
        return ok;
    }
    if (!upload_.open || block != upload_.nextBlock) {
        return Exception(kExInvalidData, "block " + std::to_string(block) + " out of sequence");
    }
    const size_t expected = block < upload_.blocks ? kBlockSize : upload_.size - size_t(block - 1) * kBlockSize;
    if (length != expected) {
        upload_ = Upload{};
        return Exception(kExVerifyError, "block " + std::to_string(block) + " carries " + std::to_string(length) +
                                             " bytes, expected " + std::to_string(expected) + "; upload dropped");
    }
    upload_.data.insert(upload_.data.end(), data, data + length);
    ++upload_.nextBlock;
    ok.note = "block " + std::to_string(block) + "/" + std::to_string(upload_.blocks);
    if (block < upload_.blocks) return ok;

    // The last block: only now does the file change.
    const std::string path = upload_.path;
    const StorageStatus status = storage_.WriteFile(path, upload_.data);
    upload_ = Upload{};
    if (status != StorageStatus::Ok) return StorageAnswer(status, "commit " + path);
    upload_.lastFinishedBlock = block;
    ok.note += ", committed " + path;
    return ok;
}

Answer Controller::StartDnc(uint32_t blocks, uint32_t size) {
    run_.active = true;
    run_.blocks = blocks;
    run_.lastDrainMs = NowMs();
    run_.busyLeft = dnc_.busyPerBlock;
    if (!dnc_.captureFile.empty()) run_.capture = std::fopen(dnc_.captureFile.c_str(), "wb");
    Answer a;
    PutHeader(a.payload, {0});
    const std::vector<uint8_t> record = StateRecord(false, 0);
    a.payload.insert(a.payload.end(), record.begin(), record.end());
    a.note = "DNC run: " + std::to_string(size) + " bytes in " + std::to_string(blocks) + " blocks";
    if (blocks == 0) EndDncRun();
    return a;
}

void Controller::DrainDncBuffer() {
    const uint64_t now = NowMs();
    const double drained = dnc_.rate == 0 ? run_.buffered : double(dnc_.rate) * double(now - run_.lastDrainMs) / 1000.0;
    const double taken = std::min(run_.buffered, drained);
    run_.buffered -= taken;
    run_.machined += static_cast<uint64_t>(taken);
    run_.lastDrainMs = now;
}

Answer Controller::DncBlock(uint32_t block, const uint8_t *data, size_t length) {
    auto answer = [&](bool taken, std::string note) {
        Answer a;
        PutHeader(a.payload, {block});
        std::vector<uint8_t> record = StateRecord(taken, run_.abnormal);
        // A controller whose busy answers come with a cut record.
        if (!taken && dnc_.busyRecordLength >= 0) record.resize(std::min<size_t>(record.size(), size_t(dnc_.busyRecordLength)));
        a.payload.insert(a.payload.end(), record.begin(), record.end());
        a.note = std::move(note);
        return a;
    };
    const std::string name = "DNC block " + std::to_string(block);
    if (block == AbortBlockNumber) {
        EndDncRun();
        return answer(true, "DNC run stopped");
    }
    // Taken already; its answer got lost.
    if (block + 1 == run_.nextBlock) return answer(true, name + " again");
    if (!run_.active || block != run_.nextBlock || length > kBlockSize) {
        return Exception(kExInvalidData, name + " out of sequence");
    }
    if (run_.abnormal == 0 && dnc_.abnormalAtBlock != 0 && int64_t(block) == dnc_.abnormalAtBlock) {
        run_.abnormal = dnc_.abnormalCode;
    }
    if (run_.abnormal != 0) return answer(false, name + ": abnormal " + std::to_string(run_.abnormal));

    DrainDncBuffer();
    // The sender moves on after the last block without looking at the
    // answer, so the last block is always taken.
    const bool last = block == run_.blocks;
    if (!last && run_.busyLeft > 0) {
        --run_.busyLeft;
        return answer(false, name + ": busy");
    }
    if (!last && run_.buffered + double(length) > double(dnc_.bufferSize)) return answer(false, name + ": buffer full");

    if (run_.capture != nullptr) {
        std::fwrite(data, 1, length, run_.capture);
        std::fflush(run_.capture);
    }
    run_.buffered += double(length);
    dncBytesTaken_ += length;
    ++run_.nextBlock;
    run_.busyLeft = dnc_.busyPerBlock;
    Answer a = answer(true, name + "/" + std::to_string(run_.blocks) + " taken");
    if (last) EndDncRun();
    return a;
}

void Controller::EndDncRun() {
    run_.active = false;
    if (run_.capture != nullptr) {
        std::fclose(run_.capture);
        run_.capture = nullptr;
    }
}

std::vector<uint8_t> Controller::StateRecord(bool blockTaken, int32_t abnormal) const {
    std::vector<uint8_t> r(kStateRecordSize, 0);
    nccmd::PutLittleEndian32(&r[0], run_.nextBlock > 0 ? run_.nextBlock - 1 : 0);
    nccmd::PutLittleEndian32(&r[4], static_cast<uint32_t>(run_.buffered));
    nccmd::PutLittleEndian32(&r[nccmd::kAbnormalCodeOffset], static_cast<uint32_t>(abnormal));
    r[12] = run_.active ? 1 : 0;
    r[nccmd::kBlockTakenOffset] = blockTaken ? 1 : 0;
    nccmd::PutLittleEndian32(&r[16], static_cast<uint32_t>(run_.machined));
    nccmd::PutLittleEndian32(&r[20], dnc_.rate);
    return r;
}

}  // namespace ncsim
