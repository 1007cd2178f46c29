// description.h - the reader description: a small text file of
// "key = value" lines that says what a virtual reader is.
//
//   # a model-4 reader with a serial number
//   model    = 4            identity byte 0, any single character
//   identity1 = 0x00        identity byte 1 (number)
//   serial   = TV-0001      text, zero-filled to 32 bytes
//   userdata = hello        text, zero-filled to 32 bytes
//   image    = finger.pgm   PGM or BMP file, or synthetic:SEED
//   replay   = frame.bin    exact bytes for the image reads
//   fault    = REQ_MEMORY_READ        fails always
//   fault    = READ 3                 fails its 3rd time only
//   short_read = 1000       reads deliver at most this many bytes
//   button   = 0x12         status word of REQ_BUTTON_READ
//   stream   = shuffle,repeat   image stream variations (see StreamOption)
//   seed     = 7            randomness of the variations
//
// Blank lines and text after '#' are ignored; keys may repeat only for
// fault. Needs reader.h.
#ifndef VREADER_MODEL_DESCRIPTION_H
#define VREADER_MODEL_DESCRIPTION_H

#include <stddef.h>

#include "reader.h"

namespace vreader {

struct ParseError {
    int line;             // 1-based line of the fault, 0 when none
    char message[160];
};

// Fills *description from the text (not necessarily zero-terminated).
// On a malformed line answers false with the line and a message.
bool ParseDescription(const char *text, size_t size, Description *description,
                      ParseError *error);

// Image stream variations, the bits of Description::streamOptions.
enum StreamOption : uint32_t {
    kStreamShuffle = 1u << 0,     // lines out of order
    kStreamRepeat = 1u << 1,      // some lines sent twice
    kStreamMissing = 1u << 2,     // some lines (never the last) left out
    kStreamLongSync = 1u << 3,    // sync runs longer than four 15s
    kStreamJunk = 1u << 4,        // junk bytes between lines
    kStreamUpperBits = 1u << 5,   // upper four bits of every byte set
};

// Bits of a comma-separated option list; false on an unknown name.
bool ParseStreamOptions(const char *list, uint32_t *bits);

}  // namespace vreader

#endif
