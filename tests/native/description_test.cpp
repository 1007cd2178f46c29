// The reader description format, and the virtual reader refusing
// malformed requests before it touches a buffer.
#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "model/description.h"

namespace {

using vreader::Description;
using vreader::ParseError;

bool Parse(const std::string &text, Description *d, ParseError *e) {
    return vreader::ParseDescription(text.data(), text.size(), d, e);
}

TEST(ReaderDescription, ReadsEveryKey) {
    const std::string text =
        "# a model-4 reader\n"
        "model = 4\n"
        "identity1 = 0x20\n"
        "serial   = TV 0001   # trailing comment\n"
        "userdata = a=b\n"
        "image = synthetic:7\r\n"
        "replay = frame.bin\n"
        "fault = REQ_MEMORY_READ\n"
        "fault = READ 3\n"
        "short_read = 1000\n"
        "button = 0x12\n"
        "stream = shuffle,junk\n"
        "seed = 9\n";
    Description d;
    ParseError e;
    ASSERT_TRUE(Parse(text, &d, &e)) << e.message;
    EXPECT_EQ(d.identity[0], '4');
    EXPECT_EQ(d.identity[1], 0x20);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(d.serial)), "TV 0001");
    EXPECT_EQ(d.serial[31], 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(d.userdata)), "a=b");
    EXPECT_STREQ(d.image, "synthetic:7");
    EXPECT_STREQ(d.replay, "frame.bin");
    ASSERT_EQ(d.faultCount, 2u);
    EXPECT_EQ(d.faults[0].code, kx::REQ_MEMORY_READ);
    EXPECT_EQ(d.faults[0].nth, 0u);
    EXPECT_EQ(d.faults[1].code, vreader::kReadCode);
    EXPECT_EQ(d.faults[1].nth, 3u);
    EXPECT_EQ(d.shortRead, 1000u);
    EXPECT_EQ(d.buttonStatus, 0x12u);
    EXPECT_EQ(d.streamOptions, vreader::kStreamShuffle | vreader::kStreamJunk);
    EXPECT_EQ(d.seed, 9u);
}

TEST(ReaderDescription, AnyModelCharacterAndDefaults) {
    Description d;
    ParseError e;
    ASSERT_TRUE(Parse("model = A", &d, &e));
    EXPECT_EQ(d.identity[0], 'A');
    ASSERT_TRUE(Parse("", &d, &e));
    EXPECT_EQ(d.identity[0], '3');
    EXPECT_EQ(d.faultCount, 0u);
}

TEST(ReaderDescription, MalformedLinesAreNamed) {
    struct Case {
        const char *text;
        int line;
        const char *says;
    } cases[] = {
        {"model = 4\nbogus = 1\n", 2, "unknown key"},
        {"\n\nmodel 4\n", 3, "expected key = value"},
        {"model = 45\n", 1, "one character"},
        {"serial = 012345678901234567890123456789012\n", 1, "longer than 32"},
        {"model = 3\nmodel = 4\n", 2, "twice"},
        {"fault = REQ_NOTHING\n", 1, "unknown request"},
        {"fault = READ 0\n", 1, "number from 1"},
        {"short_read = -4\n", 1, "number"},
        {"identity1 = 256\n", 1, "0 to 255"},
        {"stream = shuffle,sideways\n", 1, "stream options"},
        {"image =\n", 1, "file name"},
    };
    for (const Case &c : cases) {
        Description d;
        ParseError e;
        EXPECT_FALSE(Parse(c.text, &d, &e)) << c.text;
        EXPECT_EQ(e.line, c.line) << c.text;
        EXPECT_NE(strstr(e.message, c.says), nullptr) << e.message;
        EXPECT_EQ(strncmp(e.message, "line ", 5), 0) << e.message;
    }
}

TEST(VirtualReader, RefusesShortBuffersAndUnknownCodes) {
    auto reader = std::make_unique<vreader::Reader>();
    Description d;
    vreader::DefaultDescription(&d);
    reader->Init(d);
    uint8_t in[64] = {0xBE, 0x1E, 0, 0, 32, 0};
    uint8_t out[64];
    uint32_t returned = 123;
    struct Case {
        uint32_t code;
        uint32_t inSize, outSize;
    } cases[] = {
        {kx::REQ_MEMORY_READ, 5, 64},    // header cut short
        {kx::REQ_MEMORY_READ, 6, 31},    // output smaller than the length asked
        {kx::REQ_MEMORY_WRITE, 8, 0},    // fewer data bytes than the header says
        {kx::REQ_SCARD_WRITE, 37, 0},    // header says 32 data bytes, 31 come
        {kx::REQ_WRITE_REGISTER, 1, 0},
        {kx::REQ_BUTTON_READ, 0, 3},
        {kx::REQ_BUTTON_EVENT, 3, 0},
        {0x222000, 0, 0},                // not a request of the interface
    };
    for (const Case &c : cases) {
        EXPECT_FALSE(reader->Control(c.code, in, c.inSize, out, c.outSize, &returned)) << std::hex << c.code;
        EXPECT_EQ(returned, 0u);
    }
    // A range beyond the memory fails instead of running past it.
    uint8_t far[6] = {0xF0, 0x1F, 0, 0, 0x20, 0};  // 8176 + 32
    EXPECT_FALSE(reader->Control(kx::REQ_MEMORY_READ, far, 6, out, 64, &returned));
    EXPECT_EQ(reader->LogCount(), 9u);
    EXPECT_EQ(reader->LogAt(0).ok, 0);
}

TEST(VirtualReader, NthFaultFailsOnceAndTheLogKeepsTheNewest) {
    auto reader = std::make_unique<vreader::Reader>();
    Description d;
    vreader::DefaultDescription(&d);
    reader->Init(d);
    reader->AddFault(kx::REQ_LED_ON, 2);
    uint32_t returned;
    bool answers[4];
    for (bool &a : answers) a = reader->Control(kx::REQ_LED_ON, nullptr, 0, nullptr, 0, &returned);
    EXPECT_TRUE(answers[0]);
    EXPECT_FALSE(answers[1]);
    EXPECT_TRUE(answers[2]);
    EXPECT_TRUE(answers[3]);
    reader->ClearLog();
    for (uint32_t i = 0; i < vreader::kLogCapacity + 5; ++i) {
        uint8_t record[2] = {static_cast<uint8_t>(i), 0};
        reader->Control(kx::REQ_WRITE_REGISTER, record, 2, nullptr, 0, &returned);
    }
    EXPECT_EQ(reader->LogCount(), vreader::kLogCapacity);
    EXPECT_EQ(reader->LogDropped(), 5u);
    EXPECT_EQ(reader->LogAt(0).input[0], 5);
    EXPECT_EQ(reader->LogAt(vreader::kLogCapacity - 1).input[0], static_cast<uint8_t>(vreader::kLogCapacity + 4));
}

}  // namespace
