// reader_fixture.h - a virtual reader at index 0 of the host backend and
// an open handle to it: the set-up most control tests start from.
#ifndef TESTS_NATIVE_READER_FIXTURE_H
#define TESTS_NATIVE_READER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "KX7300V20.h"
#include "seam/host_system.h"

class VirtualReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kx::host::Reset();
        vreader::DefaultDescription(&description_);
        Describe(&description_);
        reader_ = std::make_unique<vreader::Reader>();
        reader_->Init(description_);
        kx::host::Attach(0, reader_.get());
        device_ = NFP_Open(0);
        ASSERT_NE(device_, kx::NoDevice());
    }
    void TearDown() override {
        if (device_ != kx::NoDevice()) NFP_Close(device_);
        kx::host::Reset();
    }
    // What the reader is, before it is made.
    virtual void Describe(vreader::Description *) {}

    vreader::Description description_;
    std::unique_ptr<vreader::Reader> reader_;
    HANDLE device_ = kx::NoDevice();
};

#endif
