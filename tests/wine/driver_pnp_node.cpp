// driver_pnp_node: device nodes for the Plug and Play test of the virtual
// reader driver, through the real SetupAPI and newdev.
//
//   driver_pnp_node add HWID      a root device node with hardware id HWID,
//                                 then the forced driver update for HWID from
//                                 kxvreader.inf beside this program
//   driver_pnp_node count HWID    prints how many device nodes have HWID
//   driver_pnp_node remove HWID   removes every device node with HWID
#include <windows.h>

#include <newdev.h>
#include <setupapi.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

namespace {

// The class of kxvreader.inf.
const GUID kClass = {0x6b9f2a41, 0x3c7d, 0x4e58, {0x9a, 0x1b, 0x2d, 0x4c, 0x8e, 0x0f, 0x7a, 0x63}};

bool HasId(HDEVINFO set, SP_DEVINFO_DATA *data, const char *id) {
    char ids[1024] = {};
    if (!SetupDiGetDeviceRegistryPropertyA(set, data, SPDRP_HARDWAREID, nullptr,
                                           reinterpret_cast<BYTE *>(ids), sizeof ids - 2, nullptr))
        return false;
    for (const char *p = ids; *p; p += strlen(p) + 1)
        if (_stricmp(p, id) == 0) return true;
    return false;
}

// Calls visit for each device node with the id; answers how many.
template <typename Visit>
int ForEach(const char *id, Visit visit) {
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &data); ++i) {
        if (!HasId(set, &data, id)) continue;
        ++count;
        visit(set, &data);
    }
    SetupDiDestroyDeviceInfoList(set);
    return count;
}

int Add(const char *id) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kClass, nullptr);
    SP_DEVINFO_DATA data = {};
    data.cbSize = sizeof data;
    if (set == INVALID_HANDLE_VALUE ||
        !SetupDiCreateDeviceInfoA(set, "TelvaVirtualReader", &kClass, nullptr, nullptr,
                                  DICD_GENERATE_ID, &data)) {
        printf("add: cannot make a device node (error %lu)\n", GetLastError());
        return 1;
    }
    char ids[256] = {};
    size_t length = strlen(id);
    memcpy(ids, id, length);  // a list of one, ending in two zeros
    if (!SetupDiSetDeviceRegistryPropertyA(set, &data, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE *>(ids),
                                           static_cast<DWORD>(length + 2)) ||
        !SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &data)) {
        printf("add: cannot register the device node (error %lu)\n", GetLastError());
        SetupDiDestroyDeviceInfoList(set);
        return 1;
    }
    SetupDiDestroyDeviceInfoList(set);

    char inf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, inf, sizeof inf);
    while (n && inf[n - 1] != '\\' && inf[n - 1] != '/') --n;
    snprintf(inf + n, sizeof inf - n, "kxvreader.inf");
    BOOL reboot = FALSE;
    BOOL updated = UpdateDriverForPlugAndPlayDevicesA(nullptr, id, inf, INSTALLFLAG_FORCE, &reboot);
    printf("add: node registered, driver update %s\n", updated ? "done" : "failed");
    return updated ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc != 3) {
        printf("usage: driver_pnp_node add|count|remove HWID\n");
        return 2;
    }
    const char *command = argv[1], *id = argv[2];
    if (!strcmp(command, "add")) return Add(id);
    if (!strcmp(command, "count")) {
        printf("%d\n", ForEach(id, [](HDEVINFO, SP_DEVINFO_DATA *) {}));
        return 0;
    }
    if (!strcmp(command, "remove")) {
        int failed = 0;
        int count = ForEach(id, [&](HDEVINFO set, SP_DEVINFO_DATA *data) {
            if (!SetupDiCallClassInstaller(DIF_REMOVE, set, data)) ++failed;
        });
        printf("remove: %d node(s), %d failed\n", count, failed);
        return count >= 0 && failed == 0 ? 0 : 1;
    }
    printf("driver_pnp_node: unknown command %s\n", command);
    return 2;
}
