/* A host program in plain C that loads the library by file name at run time,
 * resolves its six entry points and drives requests through its own link
 * callbacks, the way a third-party host would. How it loads the library is
 * the system's (host_load.h). */
#include <stdio.h>
#include <string.h>

#include "host_load.h"

static int failures;
#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                    \
        }                                                                  \
    } while (0)

/* The host's pretend device: answers with a prepared frame. */
static char answer[64];
static size_t answerLength;
static size_t answerCursor;
static int framesSent;
static char lastFrame[2100];

static void PrepareAnswer(const char *body) {
    static const char hex[] = "0123456789ABCDEF";
    unsigned sum = 0;
    size_t n = strlen(body);
    for (size_t i = 0; i < n % 256; ++i) sum += (unsigned char)body[i];
    sum = (256 - (sum & 0xFF)) & 0xFF;
    answerLength = (size_t)snprintf(answer, sizeof answer, ":%s%c%c\r\n", body, hex[sum >> 4], hex[sum & 15]);
}

static void HostSend(const char *text) {
    const char *lf = strchr(text, '\n');
    size_t n = (size_t)(lf - text) + 1;
    memcpy(lastFrame, text, n);
    lastFrame[n] = 0;
    ++framesSent;
    answerCursor = 0;
}

static uint8_t HostReceiveBlock(uint8_t *buffer, int32_t *count) {
    memcpy(buffer, answer, answerLength);
    *count = (int32_t)answerLength;
    return 0;
}

static uint8_t HostReceiveByte(uint8_t *buffer, int32_t *count) {
    (void)buffer;
    (void)count;
    return answerCursor < answerLength ? (uint8_t)answer[answerCursor++] : 255;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    char error[512] = "";
    if (!LoadLibraryFile(argv[1], error, sizeof error)) {
        fprintf(stderr, "%s\n", error);
        return 1;
    }
    SetReceiveFn setReceive = (SetReceiveFn)EntryPoint("SetUartReceiveFun");
    SetSendFn setSend = (SetSendFn)EntryPoint("SetUartSendFrameFun");
    InitFn init = (InitFn)EntryPoint("ModbusInit");
    RequestFn readReq = (RequestFn)EntryPoint("KORA_ModbusReadFileReq");
    RequestFn writeReq = (RequestFn)EntryPoint("KORA_ModbusWriteFileReq");
    TestFn testFn = (TestFn)EntryPoint("test");
    if (!setReceive || !setSend || !init || !readReq || !writeReq || !testFn) {
        fprintf(stderr, "missing entry point\n");
        return 1;
    }

    CHECK(testFn(1) == 11 && testFn(2) == 22 && testFn(3) == 33);
    CHECK(testFn(0) == 255 && testFn(4) == 255 && testFn(-1) == 255);

    uint8_t buffer[1024];
    uint16_t length;

    /* Callbacks registered before the first ModbusInit are lost. */
    setReceive(HostReceiveBlock);
    setSend(HostSend);
    init(1, 0, 5);
    length = 0;
    CHECK(readReq(1, &length, buffer) == 0xFF);
    CHECK(framesSent == 0);

    /* Registered after it, they stay through later inits. */
    setReceive(HostReceiveBlock);
    setSend(HostSend);
    init(1, 0, 5);
    PrepareAnswer("0124000378797A"); /* payload "xyz" */
    memcpy(buffer, "abc", 3);
    length = 3;
    CHECK(readReq(1, &length, buffer) == 0);
    CHECK(strcmp(lastFrame, ":012400036162633E\r\n") == 0);
    CHECK(length == 3 && memcmp(buffer, "xyz", 3) == 0);

    /* A valid exception answer ends the request after one frame. */
    framesSent = 0;
    PrepareAnswer("01A505");
    length = 3;
    CHECK(writeReq(1, &length, buffer) == 5);
    CHECK(framesSent == 1);

    /* Too long: refused before any callback runs. */
    framesSent = 0;
    length = 1025;
    CHECK(readReq(1, &length, buffer) == 3);
    CHECK(framesSent == 0);

    /* Byte mode: one byte per receive call. */
    init(1, 20, 0);
    setReceive(HostReceiveByte);
    PrepareAnswer("0124000141");
    length = 0;
    CHECK(readReq(1, &length, buffer) == 0);
    CHECK(length == 1 && buffer[0] == 'A');

    printf("%s: %s\n", argv[0], failures ? "FAILED" : "all checks passed");
    return failures ? 1 : 0;
}
