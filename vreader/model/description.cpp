// description.cpp - reading a reader description.
#include "description.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace vreader {

namespace {

bool Fail(ParseError *error, int line, const char *message, const char *key) {
    error->line = line;
    snprintf(error->message, sizeof error->message, "line %d: %s%s%s", line,
             message, key ? ": " : "", key ? key : "");
    return false;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A number in decimal or 0x hex that fills the whole text.
bool ParseNumber(const char *text, uint32_t *value) {
    if (!*text) return false;
    char *end = nullptr;
    unsigned long long v = strtoull(text, &end, 0);
    if (*end || v > 0xFFFFFFFFull || *text == '-') return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

void CopyText(uint8_t *area, size_t areaSize, const char *text) {
    memset(area, 0, areaSize);
    memcpy(area, text, strlen(text));
}

const struct {
    const char *name;
    uint32_t bit;
} kStreamNames[] = {
    {"shuffle", kStreamShuffle}, {"repeat", kStreamRepeat},
    {"missing", kStreamMissing}, {"long-sync", kStreamLongSync},
    {"junk", kStreamJunk},       {"upper-bits", kStreamUpperBits},
};

}  // namespace

bool ParseStreamOptions(const char *list, uint32_t *bits) {
    *bits = 0;
    char word[32];
    const char *p = list;
    while (*p) {
        size_t n = strcspn(p, ",");
        if (n == 0 || n >= sizeof word) return false;
        memcpy(word, p, n);
        word[n] = 0;
        bool known = false;
        for (const auto &s : kStreamNames)
            if (strcmp(s.name, word) == 0) {
                *bits |= s.bit;
                known = true;
            }
        if (!known) return false;
        p += n;
        if (*p == ',') ++p;
    }
    return true;
}

bool ParseDescription(const char *text, size_t size, Description *d,
                      ParseError *error) {
    DefaultDescription(d);
    error->line = 0;
    error->message[0] = 0;
    const char *end = text + size;
    int lineNumber = 0;
    uint32_t seenKeys = 0;
    static const char *const kKeys[] = {"model",  "identity1", "serial",
                                        "userdata", "image",   "replay",
                                        "short_read", "button", "stream",
                                        "seed"};
    for (const char *p = text; p < end;) {
        ++lineNumber;
        const char *eol = static_cast<const char *>(memchr(p, '\n', end - p));
        if (!eol) eol = end;
        char line[512];
        size_t n = eol - p;
        if (n >= sizeof line) return Fail(error, lineNumber, "line too long", nullptr);
        memcpy(line, p, n);
        line[n] = 0;
        p = eol + 1;
        if (char *hash = strchr(line, '#')) *hash = 0;
        // Trim both ends.
        char *s = line;
        while (IsSpace(*s)) ++s;
        char *e = s + strlen(s);
        while (e > s && IsSpace(e[-1])) *--e = 0;
        if (!*s) continue;
        char *eq = strchr(s, '=');
        if (!eq) return Fail(error, lineNumber, "expected key = value", nullptr);
        char *keyEnd = eq;
        while (keyEnd > s && IsSpace(keyEnd[-1])) --keyEnd;
        *keyEnd = 0;
        char *value = eq + 1;
        while (IsSpace(*value)) ++value;
        const char *key = s;
        if (!*key) return Fail(error, lineNumber, "missing key", nullptr);

        if (strcmp(key, "fault") == 0) {
            char name[64];
            uint32_t nth = 0;
            char *space = value + strcspn(value, " \t");
            size_t nameLength = space - value;
            if (nameLength == 0 || nameLength >= sizeof name)
                return Fail(error, lineNumber, "fault needs a request name", nullptr);
            memcpy(name, value, nameLength);
            name[nameLength] = 0;
            while (IsSpace(*space)) ++space;
            if (*space && (!ParseNumber(space, &nth) || nth == 0))
                return Fail(error, lineNumber, "fault count must be a number from 1", space);
            uint32_t code = strcmp(name, "READ") == 0 ? kReadCode : RequestCode(name);
            if (code == 0 && strcmp(name, "READ") != 0)
                return Fail(error, lineNumber, "unknown request", name);
            if (d->faultCount == kMaxFaults)
                return Fail(error, lineNumber, "too many faults", nullptr);
            d->faults[d->faultCount++] = Fault{code, nth, 0};
            continue;
        }

        int index = -1;
        for (size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i)
            if (strcmp(kKeys[i], key) == 0) index = static_cast<int>(i);
        if (index < 0) return Fail(error, lineNumber, "unknown key", key);
        if (seenKeys & (1u << index)) return Fail(error, lineNumber, "key given twice", key);
        seenKeys |= 1u << index;

        uint32_t number = 0;
        switch (index) {
            case 0:  // model
                if (strlen(value) != 1)
                    return Fail(error, lineNumber, "model must be one character", value);
                d->identity[0] = static_cast<uint8_t>(value[0]);
                break;
            case 1:  // identity1
                if (!ParseNumber(value, &number) || number > 255)
                    return Fail(error, lineNumber, "identity1 must be a number 0 to 255", value);
                d->identity[1] = static_cast<uint8_t>(number);
                break;
            case 2:
            case 3:
                if (strlen(value) > 32)
                    return Fail(error, lineNumber, "text longer than 32 bytes", key);
                CopyText(index == 2 ? d->serial : d->userdata, 32, value);
                break;
            case 4:
            case 5:
                if (!*value || strlen(value) >= kPathSize)
                    return Fail(error, lineNumber, "needs a file name", key);
                strcpy(index == 4 ? d->image : d->replay, value);
                break;
            case 6:
                if (!ParseNumber(value, &d->shortRead))
                    return Fail(error, lineNumber, "short_read must be a number", value);
                break;
            case 7:
                if (!ParseNumber(value, &d->buttonStatus))
                    return Fail(error, lineNumber, "button must be a number", value);
                break;
            case 8:
                if (!ParseStreamOptions(value, &d->streamOptions))
                    return Fail(error, lineNumber,
                                "stream options are shuffle, repeat, missing, "
                                "long-sync, junk, upper-bits", value);
                break;
            case 9:
                if (!ParseNumber(value, &d->seed))
                    return Fail(error, lineNumber, "seed must be a number", value);
                break;
        }
    }
    return true;
}

}  // namespace vreader
