// save_file.h - what the Wine check programs hand to the native side:
// bytes written to DIR\NAME. Needs windows.h first.
#ifndef TESTS_WINE_SAVE_FILE_H
#define TESTS_WINE_SAVE_FILE_H

#include <stdio.h>

inline bool Save(const char *dir, const char *name, const unsigned char *bytes, size_t size) {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\%s", dir, name);
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    bool ok = fwrite(bytes, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

#endif
