// image_stream.cpp - the image data a reader sends after TransferStart.
#include <string.h>

#include "reader.h"

namespace vreader {

void Reader::StartTransfer() {
    transferring_ = true;
    streamPosition_ = 0;
}

uint32_t Reader::Produce(uint8_t *buffer, uint32_t size) {
    // Until image data exists the reader sends an empty frame.
    memset(buffer, 0, size);
    streamPosition_ += size;
    return size;
}

}  // namespace vreader
