/* filelink_ls: list a directory of an NC controller over UDP with the
 * filelink library. The library only frames requests and checks answers;
 * this program owns the socket and hands the library two callbacks for it.
 *
 *   filelink_ls HOST PORT [DIRECTORY] [DEVICE_ID]
 *
 * Prints one line per entry: "dir" or "file", the size in bytes, the name.
 * Exit status 0 on success, 1 when the controller or the link reported an
 * error (its result code on stderr), 2 for a bad command line. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <filelink.h>

/* The longest frame: ':' + 2 hex characters for each of 4 header bytes,
 * 1024 payload bytes and the checksum, then CR LF. */
#define MAX_FRAME_TEXT (1 + 2 * (4 + 1024 + 1) + 2)
#define MAX_PAYLOAD 1024
#define ENTRY_SIZE 20
#define MAX_LISTING (1024 * ENTRY_SIZE)

static int sock = -1;

/* Send callback: the frame is the text up to and including its LF. */
static void SendFrame(const char *text) {
    const char *lf = memchr(text, '\n', MAX_FRAME_TEXT);
    if (lf != NULL) send(sock, text, (size_t)(lf - text) + 1, 0);
}

/* Receive callback in block mode: one whole datagram a call, or 255 when
 * none came within the socket's wait. */
static uint8_t ReceiveFrame(uint8_t *buffer, int32_t *count) {
    char datagram[MAX_FRAME_TEXT + 1];
    ssize_t n = recv(sock, datagram, sizeof datagram, 0);
    if (n <= 0 || n > MAX_FRAME_TEXT) return 255;
    memcpy(buffer, datagram, (size_t)n);
    *count = (int32_t)n;
    return 0;
}

static void PutBigEndian(uint8_t *p, uint32_t value) {
    p[0] = (uint8_t)(value >> 24);
    p[1] = (uint8_t)(value >> 16);
    p[2] = (uint8_t)(value >> 8);
    p[3] = (uint8_t)value;
}

static uint32_t GetBigEndian(const uint8_t *p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static int OpenSocket(const char *host, const char *port) {
    struct sockaddr_in controller;
    memset(&controller, 0, sizeof controller);
    controller.sin_family = AF_INET;
    char *end = NULL;
    long number = strtol(port, &end, 10);
    if (*port == 0 || *end != 0 || number < 1 || number > 65535) return -1;
    controller.sin_port = htons((uint16_t)number);
    if (inet_pton(AF_INET, host, &controller.sin_addr) != 1) return -1;
    int s = socket(AF_INET, SOCK_DGRAM, 0);
    if (s < 0) return -1;
    /* Connected, so only the controller's datagrams are received. */
    struct timeval wait = {0, 100 * 1000};
    if (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) != 0 ||
        connect(s, (struct sockaddr *)&controller, sizeof controller) != 0) {
        close(s);
        return -1;
    }
    return s;
}

/* An answer the library accepted but that is too short for a listing or
 * echoes another block number; outside the library's codes 0..255. */
#define BAD_LISTING (-1)

/* The listing: a text request, whose answer announces the block count and
 * the size, then block requests 1..N whose data follow a 4-byte number.
 * Returns 0, a library result code, or BAD_LISTING. */
static int ListDirectory(uint8_t id, const char *path, uint8_t *listing, uint32_t *total) {
    uint8_t payload[MAX_PAYLOAD];
    const char *word = "%DirList%%";
    size_t textLength = strlen(word) + strlen(path);
    if (4 + textLength > MAX_PAYLOAD) return 3;
    memset(payload, 0, sizeof payload);
    memcpy(payload + 4, word, strlen(word));
    memcpy(payload + 4 + strlen(word), path, strlen(path));
    uint16_t length = (uint16_t)(4 + textLength);
    int code = KORA_ModbusReadFileReq(id, &length, payload);
    if (code != 0) return code;
    if (length < 12) return BAD_LISTING;
    uint32_t blocks = GetBigEndian(payload + 4);
    uint32_t size = GetBigEndian(payload + 8);

    size_t filled = 0;
    for (uint32_t k = 1; k <= blocks; ++k) {
        PutBigEndian(payload, k);
        length = 4;
        code = KORA_ModbusReadFileReq(id, &length, payload);
        if (code != 0) return code;
        if (length < 4 || GetBigEndian(payload) != k) return BAD_LISTING;
        size_t n = length - 4u;
        if (n > MAX_LISTING - filled) n = MAX_LISTING - filled;
        memcpy(listing + filled, payload + 4, n);
        filled += n;
    }
    *total = size < filled ? size : (uint32_t)filled;
    return 0;
}

/* Each 20-byte entry: attribute (up to 16 a directory), name[9] and
 * extension[6] zero-terminated, size little-endian. */
static void PrintListing(const uint8_t *listing, uint32_t total) {
    for (uint32_t at = 0; at + ENTRY_SIZE <= total; at += ENTRY_SIZE) {
        const uint8_t *e = listing + at;
        char name[9], ext[6];
        memcpy(name, e + 1, 8);
        name[8] = 0;
        memcpy(ext, e + 10, 5);
        ext[5] = 0;
        uint32_t size = e[16] | (uint32_t)e[17] << 8 | (uint32_t)e[18] << 16 | (uint32_t)e[19] << 24;
        if (e[0] <= 16)
            printf("dir  %10u %s\n", size, name);
        else
            printf("file %10u %s%s%s\n", size, name, ext[0] ? "." : "", ext);
    }
}

static const char *Meaning(int code) {
    if (code == BAD_LISTING) return "not a listing";
    if (code == 3) return "request too long";
    if (code >= 0xA0 && code <= 0xA9) return "answer failed a check";
    if (code == 0xFF) return "no answer";
    return "the controller's exception code";
}

int main(int argc, char **argv) {
    if (argc < 3 || argc > 5) {
        fprintf(stderr, "usage: %s HOST PORT [DIRECTORY] [DEVICE_ID]\n", argv[0]);
        return 2;
    }
    /* Directories are written "\" or "\PRG\": with backslashes, ending in one. */
    char path[256] = "\\";
    if (argc >= 4) {
        size_t n = 0;
        if (argv[3][0] != '\\' && argv[3][0] != '/') path[n++] = '\\';
        for (const char *c = argv[3]; *c && n < sizeof path - 2; ++c) path[n++] = *c == '/' ? '\\' : *c;
        if (path[n - 1] != '\\') path[n++] = '\\';
        path[n] = 0;
    }
    uint8_t id = (uint8_t)(argc == 5 ? atoi(argv[4]) : 1);

    sock = OpenSocket(argv[1], argv[2]);
    if (sock < 0) {
        fprintf(stderr, "filelink_ls: cannot reach %s port %s\n", argv[1], argv[2]);
        return 2;
    }

    /* The calling order: settings first (the first ModbusInit clears any
     * callbacks), then the callbacks, then requests. Time-out 0 selects
     * block mode, one datagram per receive call; 5 retries. */
    ModbusInit(id, 0, 5);
    SetUartReceiveFun(ReceiveFrame);
    SetUartSendFrameFun(SendFrame);

    static uint8_t listing[MAX_LISTING];
    uint32_t total = 0;
    int code = ListDirectory(id, path, listing, &total);
    close(sock);
    if (code == BAD_LISTING) {
        fprintf(stderr, "filelink_ls: %s\n", Meaning(code));
        return 1;
    }
    if (code != 0) {
        fprintf(stderr, "filelink_ls: result code 0x%02X (%s)\n", (unsigned)code, Meaning(code));
        return 1;
    }
    PrintListing(listing, total);
    return 0;
}
