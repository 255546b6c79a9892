// The library's six exports: thin C entry points over the engine.
#define FILELINK_BUILDING
#include "filelink/filelink.h"
#include "core/request_engine.h"

static_assert(core::kFilelinkBuild, "filelink exports the library build of the engine");

extern "C" {

FILELINK_API void FILELINK_CALL SetUartReceiveFun(UartReceiveFun receive) { core::SetUartReceiveFun(receive); }

FILELINK_API void FILELINK_CALL SetUartSendFrameFun(UartSendFrameFun send) { core::SetUartSendFrameFun(send); }

FILELINK_API void FILELINK_CALL ModbusInit(uint8_t address, int32_t timeout, int32_t retries) {
    core::ModbusInit(address, timeout, retries);
}

FILELINK_API uint8_t FILELINK_CALL KORA_ModbusReadFileReq(uint8_t address, uint16_t *length, uint8_t *buffer) {
    return core::ModbusReadFileReq(address, length, buffer);
}

FILELINK_API uint8_t FILELINK_CALL KORA_ModbusWriteFileReq(uint8_t address, uint16_t *length, uint8_t *buffer) {
    return core::ModbusWriteFileReq(address, length, buffer);
}

FILELINK_API int32_t FILELINK_CALL test(int32_t value) {
    switch (value) {
        case 1: return 11;
        case 2: return 22;
        case 3: return 33;
        default: return 255;
    }
}

}  // extern "C"
