/* Links against filelink::filelink and calls into it: the header came from
 * the installed include directory, the symbols from the installed library. */
#include <stdio.h>

#include <filelink.h>

int main(void) {
    uint8_t buffer[1024] = {0};
    uint16_t length = 1025;
    ModbusInit(1, 0, 0);
    /* Too long a request is refused before any callback is needed. */
    uint8_t tooLong = KORA_ModbusReadFileReq(1, &length, buffer);
    int ok = test(2) == 22 && test(0) == 255 && tooLong == 3;
    printf("test(2)=%d test(0)=%d too long=%u\n", (int)test(2), (int)test(0), (unsigned)tooLong);
    return ok ? 0 : 1;
}
