// acquisition_support.h - what the image acquisition tests share: a
// virtual reader on the host backend, the request log read as a script,
// and a builder of model-3 streams.
#ifndef TESTS_NATIVE_ACQUISITION_SUPPORT_H
#define TESTS_NATIVE_ACQUISITION_SUPPORT_H

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "KX7300V20.h"
#include "model/description.h"
#include "model/reader.h"
#include "seam/host_system.h"

namespace acq {

constexpr int kRawSize = NFP_RAW_SIZE;

// The request log as short names, oldest first: "mem7870+2", "open",
// "arm", "r38=7", "start", "close"; runs of reads as "read*N" (or one
// "read" each without collapse). A request that failed carries a "!".
inline std::vector<std::string> Script(const vreader::Reader &reader, bool collapse = true) {
    std::vector<std::string> out;
    int reads = 0;
    auto flush = [&] {
        if (collapse && reads > 1)
            out.push_back("read*" + std::to_string(reads));
        else
            out.insert(out.end(), reads, "read");
        reads = 0;
    };
    for (uint32_t i = 0; i < reader.LogCount(); ++i) {
        const vreader::LogEntry &e = reader.LogAt(i);
        if (e.code == vreader::kReadCode && e.ok) {
            ++reads;
            continue;
        }
        flush();
        std::string name;
        switch (e.code) {
            case vreader::kReadCode: name = "read"; break;
            case kx::REQ_CAPTURE_OPEN: name = "open"; break;
            case kx::REQ_CAPTURE_ARM: name = "arm"; break;
            case kx::REQ_TRANSFER_START: name = "start"; break;
            case kx::REQ_CAPTURE_CLOSE: name = "close"; break;
            case kx::REQ_WRITE_REGISTER:
                name = "r" + std::to_string(e.input[0]) + "=" + std::to_string(e.input[1]);
                break;
            case kx::REQ_MEMORY_READ:
                name = "mem" + std::to_string(kx::GetWord(e.input)) + "+" +
                       std::to_string(kx::GetWord(e.input + 4));
                break;
            default: name = vreader::RequestName(e.code) ? vreader::RequestName(e.code) : "?";
        }
        out.push_back(e.ok ? name : name + "!");
    }
    flush();
    return out;
}

inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> out;
    for (const auto &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// The preamble scripts, as the reader must see them.
inline std::vector<std::string> StreamFramePreamble(int r38, int r50 = 40) {
    return {"open", "arm", "r37=0", "r38=" + std::to_string(r38 & 255), "r39=0",
            "r1=5", "r50=" + std::to_string(r50 & 255), "r2=2", "start"};
}
inline std::vector<std::string> BlockFramePreamble(int r38, int r50 = 40) {
    return {"open", "arm", "r33=4", "r37=0", "r38=" + std::to_string(r38 & 255), "r39=0",
            "r1=5", "r50=" + std::to_string(r50 & 255), "r2=2", "start"};
}
const std::vector<std::string> kIdentityRead = {"mem7870+2"};

// One virtual reader at index 0 and a handle to it.
class ReaderRig {
  public:
    explicit ReaderRig(char model = '3') {
        kx::host::Reset();
        vreader::DefaultDescription(&description);
        description.identity[0] = static_cast<uint8_t>(model);
    }
    ~ReaderRig() {
        if (device != kx::NoDevice()) NFP_Close(device);
        kx::host::Reset();
    }
    // Makes the reader from description, with picture as its image
    // (a gradient when none is given), and opens it.
    void Start(const uint8_t *picture = nullptr) {
        if (device != kx::NoDevice()) NFP_Close(device);
        reader = std::make_unique<vreader::Reader>();
        reader->Init(description);
        if (picture) {
            memcpy(reader->Image(), picture, vreader::kImageSize);
        } else {
            for (uint32_t i = 0; i < vreader::kImageSize; ++i)
                reader->Image()[i] = static_cast<uint8_t>((i % 400) * 3 + (i / 400) * 7);
        }
        if (!replay.empty()) reader->SetReplay(replay.data(), static_cast<uint32_t>(replay.size()));
        kx::host::Attach(0, reader.get());
        device = NFP_Open(0);
        ASSERT_NE(device, kx::NoDevice());
    }
    std::vector<std::string> Script() const { return acq::Script(*reader); }
    void ClearLog() { reader->ClearLog(); }

    vreader::Description description;
    std::unique_ptr<vreader::Reader> reader;
    std::vector<uint8_t> replay;
    HANDLE device = kx::NoDevice();
};

// Bytes of a model-3 stream, element by element; pixel values are given
// as the library stores them (the builder sends their complement).
class StreamBuilder {
  public:
    StreamBuilder &Byte(int b) {
        bytes.push_back(static_cast<uint8_t>(b));
        return *this;
    }
    StreamBuilder &Bytes(std::initializer_list<int> list) {
        for (int b : list) Byte(b);
        return *this;
    }
    StreamBuilder &Repeat(int b, int count) {
        for (int i = 0; i < count; ++i) Byte(b);
        return *this;
    }
    StreamBuilder &Sync(int fifteens = 4) { return Repeat(15, fifteens); }
    StreamBuilder &FirstMarker(int fifteens = 4) { return Sync(fifteens).Bytes({0, 0, 12, 7}); }
    StreamBuilder &LineMarker(int line, int fifteens = 4) {
        return Sync(fifteens).Bytes({0, 0, 11, 6, (line >> 12) & 15, (line >> 8) & 15,
                                     (line >> 4) & 15, line & 15});
    }
    StreamBuilder &Pixels(const uint8_t *stored, int count) {
        for (int i = 0; i < count; ++i) {
            uint8_t v = static_cast<uint8_t>(255 - stored[i]);
            Byte(v >> 4).Byte(v & 15);
        }
        return *this;
    }
    StreamBuilder &Pixels(uint8_t stored, int count) {
        std::vector<uint8_t> row(count, stored);
        return Pixels(row.data(), count);
    }
    // Line 0 with its 16 tail bytes.
    StreamBuilder &FirstLine(const uint8_t *row398) {
        return FirstMarker().Pixels(row398, 398).Repeat(0, 16);
    }
    // A numbered line with its 7 tail pixels and the byte after them.
    StreamBuilder &Line(int line, const uint8_t *row398) {
        return LineMarker(line).Pixels(row398, 398).Repeat(0, 15);
    }
    // A whole frame of the picture (400 x 302), lines in order.
    StreamBuilder &Frame(const uint8_t *picture) {
        FirstLine(picture);
        for (int n = 1; n < 302; ++n) Line(n, picture + 400 * n);
        return *this;
    }
    size_t size() const { return bytes.size(); }

    std::vector<uint8_t> bytes;
};

// A picture with distinct-looking rows and columns.
inline std::vector<uint8_t> TestPicture(uint32_t seed) {
    std::vector<uint8_t> p(vreader::kImageSize);
    uint32_t x = seed * 2654435761u + 1;
    for (auto &b : p) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 11);
    }
    return p;
}

// Rows [first, first + count) of a and b agree in columns [c0, c1).
inline ::testing::AssertionResult SameColumns(const uint8_t *a, const uint8_t *b, int rows,
                                              int c0, int c1) {
    for (int r = 0; r < rows; ++r)
        for (int c = c0; c < c1; ++c)
            if (a[400 * r + c] != b[400 * r + c])
                return ::testing::AssertionFailure()
                       << "pixel (" << r << ", " << c << "): " << int(a[400 * r + c])
                       << " vs " << int(b[400 * r + c]);
    return ::testing::AssertionSuccess();
}

// The source tree, from where this header lies in it.
inline std::string SourceDir() {
    std::string here = __FILE__;
    return here.substr(0, here.rfind("/tests/native/"));
}

}  // namespace acq

#endif
