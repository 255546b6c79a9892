/* A Windows host program linked against filelink.dll through its import
 * library and header: it must bind to the undecorated __stdcall exports. */
#include <stdio.h>

#include "filelink.h"

static uint8_t __cdecl Receive(uint8_t *buffer, int32_t *count) {
    (void)buffer;
    (void)count;
    return 255;
}

static void __cdecl Send(const char *text) { (void)text; }

int main(void) {
    uint8_t buffer[1024] = {0};
    uint16_t length = 0;
    if (test(2) != 22) return 1;
    ModbusInit(1, 0, 5);
    SetUartReceiveFun(Receive);
    SetUartSendFrameFun(Send);
    printf("%d %d\n", KORA_ModbusReadFileReq(1, &length, buffer), KORA_ModbusWriteFileReq(1, &length, buffer));
    return 0;
}
