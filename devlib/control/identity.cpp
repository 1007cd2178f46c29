// identity.cpp - the identity bytes, user data, serial number and the
// library's interface version. Nothing is cached: every call asks the reader.
#include "KX7300V20.h"
#include "requests.h"

using namespace kx;

namespace {
constexpr uint16_t kIdentitySize = 2;
constexpr uint16_t kAreaSize = 32;
constexpr uint16_t kInterfaceVersion = 0x0100;
}  // namespace

extern "C" int NFP_CALL NFP_GetDevType(HANDLE device) {
    uint8_t identity[kIdentitySize];
    if (ReadParameterMemory(device, kIdentityAddress, 0, kIdentitySize,
                            identity, nullptr) != NFP_OK)
        return NFP_NO_RESULT;
    switch (identity[0]) {
        case '4': return 4;
        case '5': return 5;
        default: return 3;  // "3" and every unknown character
    }
}

extern "C" int NFP_CALL NFP_GetTelvaData(HANDLE device, unsigned char *identity2) {
    return ReadParameterMemory(device, kIdentityAddress, 0, kIdentitySize,
                               identity2, nullptr);
}

extern "C" int NFP_CALL NFP_SetTelvaData(HANDLE device,
                                         const unsigned char *identity2) {
    return WriteParameterMemory(device, kIdentityAddress, 0, kIdentitySize,
                                identity2);
}

extern "C" int NFP_CALL NFP_GetUserData(HANDLE device, unsigned char *userData32) {
    return ReadParameterMemory(device, kUserDataAddress, 0, kAreaSize,
                               userData32, nullptr);
}

extern "C" int NFP_CALL NFP_SetUserData(HANDLE device,
                                        const unsigned char *userData32) {
    return WriteParameterMemory(device, kUserDataAddress, 0, kAreaSize,
                                userData32);
}

extern "C" int NFP_CALL NFP_GetSerial(HANDLE device, unsigned char *serial32) {
    return ReadParameterMemory(device, kSerialAddress, 0, kAreaSize, serial32,
                               nullptr);
}

extern "C" int NFP_CALL NFP_SetSerial(HANDLE device, const unsigned char *serial32) {
    return WriteParameterMemory(device, kSerialAddress, 0, kAreaSize, serial32);
}

extern "C" int NFP_CALL NFP_GetVersion(unsigned short *version) {
    *version = kInterfaceVersion;
    return NFP_OK;
}
