/* c_client: a C application linked against an import library of the DLL,
 * as a kit user builds one. Calls what needs no reader. */
#include <stdio.h>

#include "KX7300V20.h"

int main(void) {
    unsigned short version = 0;
    int ok = NFP_GetVersion(&version) == NFP_OK && version == 256 &&
             NFP_Open(7) == INVALID_HANDLE_VALUE &&
             NFP_Close(INVALID_HANDLE_VALUE) == NFP_ERR_NO_DEVICE &&
             NFP_GetDevType(INVALID_HANDLE_VALUE) == 0;
    printf("%s C client through the import library (version %u)\n", ok ? "ok  " : "FAIL", version);
    return ok ? 0 : 1;
}
