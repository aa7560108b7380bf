#pragma once

// A test with the host stand-in in a known state: default settings, log lines and system events
// captured, the retry sleep replaced by a recorder, no injected faults.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <StravoHost/HostControl.h>

#include "TestShare.h"

namespace gridtest {

inline void resetHost() {
    GridApi::FaultInjector::clear();
    StravoHostControl::resetToDefaults();
    StravoHostControl::enableLogCapture(true);
    StravoHostControl::clearCapturedLogLines();
    StravoHostControl::clearCapturedSystemEvents();
    StravoHostControl::recordSleeps();
}

class HostTest : public ::testing::Test {
  protected:
    void SetUp() override { resetHost(); }
    void TearDown() override {
        GridApi::FaultInjector::clear();
        StravoHostControl::resetToDefaults();
    }
    static std::vector<std::string> lines() { return StravoHostControl::capturedLogLines(); }
};

class HostShareTest : public TestShare {
  protected:
    void SetUp() override {
        TestShare::SetUp();
        resetHost();
    }
    void TearDown() override {
        GridApi::FaultInjector::clear();
        StravoHostControl::resetToDefaults();
        TestShare::TearDown();
    }
    static std::vector<std::string> lines() { return StravoHostControl::capturedLogLines(); }
};

}  // namespace gridtest
