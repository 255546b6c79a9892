// One journal entry with every field filled, for the journal's tests.
#pragma once

#include <string>

#include "journal/journal.h"
#include "journal/sha256.h"

namespace journaltest {

inline journal::Entry Sample(const std::string &remote) {
    journal::Entry e;
    e.program = "dncctl";
    e.operation = journal::kPut;
    e.deviceId = "7";
    e.link = "udp";
    e.address = "10.0.0.7:2232";
    e.remotePath = remote;
    e.localFile = "/home/op/O0001.NC";
    e.bytes = "3";
    e.sha256 = journal::Sha256Hex("abc", 3);
    e.result = "Operation Successful";
    return e;
}

}  // namespace journaltest
