// What a failed request's result code means and what the user can check,
// in words, for the message log. The status bar keeps the code's own text.
#pragma once

#include <QString>
#include <cstdint>

// The link a request went over when it failed.
struct LinkContext {
    bool network = true;
    int deviceId = 0;
    QString where;    // "192.168.1.10:2232" or "/dev/ttyUSB0 at 115200 baud"
    int tries = 0;    // the first try and its repeats
    int waitMs = 0;   // how long each try waited for its answer
};

// One sentence or two: what happened and what to check next.
QString FailureAdvice(uint8_t code, const LinkContext &link);
