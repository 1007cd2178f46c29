// The OK indicator: one plain request each way, its failure code, and the
// handle -1 refused before anything is sent.
#include <gtest/gtest.h>

#include <memory>

#include "KX7300V20.h"
#include "reader_fixture.h"
#include "seam/host_system.h"

namespace {

using kx::NoDevice;

class Indicator : public VirtualReaderTest {
  protected:
};

struct Switch {
    const char *name;
    int(NFP_CALL *call)(HANDLE);
    uint32_t code;
    bool lit;  // the indicator afterwards
};
const Switch kSwitches[] = {
    {"NFP_OK_LED_On", NFP_OK_LED_On, kx::REQ_LED_ON, true},
    {"NFP_OK_LED_Off", NFP_OK_LED_Off, kx::REQ_LED_OFF, false},
};

TEST_F(Indicator, SwitchesWithOnePlainRequest) {
    for (const Switch &s : kSwitches) {
        reader_->ClearLog();
        EXPECT_EQ(s.call(device_), NFP_OK) << s.name;
        EXPECT_EQ(reader_->Led(), s.lit) << s.name;
        ASSERT_EQ(reader_->LogCount(), 1u) << s.name;
        const vreader::LogEntry &e = reader_->LogAt(0);
        EXPECT_EQ(e.code, s.code) << s.name;
        EXPECT_EQ(e.inputSize, 0u) << s.name;
        EXPECT_EQ(e.outputSize, 0u) << s.name;
    }
    // On, off, on again: the state follows the latest request.
    EXPECT_EQ(NFP_OK_LED_On(device_), NFP_OK);
    EXPECT_TRUE(reader_->Led());
}

TEST_F(Indicator, FailureAndNoDevice) {
    for (const Switch &s : kSwitches) {
        bool before = !s.lit;
        reader_->ClearLog();
        EXPECT_EQ(s.call(NoDevice()), NFP_ERR_NO_DEVICE) << s.name;
        EXPECT_EQ(reader_->LogCount(), 0u) << s.name;

        // Leave the indicator in the other state, then make the switch fail.
        (before ? NFP_OK_LED_On : NFP_OK_LED_Off)(device_);
        reader_->AddFault(s.code, 0);
        EXPECT_EQ(s.call(device_), NFP_ERR_LED) << s.name;
        EXPECT_EQ(reader_->Led(), before) << s.name;
        reader_->ClearFaults();
    }
    // A closed handle is the system's refusal, reported as the failure.
    HANDLE closed = NFP_Open(0);
    NFP_Close(closed);
    EXPECT_EQ(NFP_OK_LED_On(closed), NFP_ERR_LED);
}

}  // namespace
