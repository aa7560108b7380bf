#pragma once

// A test with the host stand-in in a known state: default settings, log lines and system events
// captured, the retry sleep replaced by a recorder, no injected faults.

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/GridFileServices.h>
#include <GridApi/SystemCalls.h>
#include <StravoHost/HostControl.h>

#include "TestShare.h"

namespace gridtest {

// Fails the named platform call with `error`: from its `fromCall`-th call on, `count` calls
// (0: every call), each with the given probability (seeded, so the same calls fail every run).
inline void failCalls(const std::string& call, DWORD error, std::uint64_t count = 0, double probability = 1.0,
                      std::uint64_t fromCall = 1) {
    GridApi::Fault fault;
    fault.call = call;
    fault.error = error;
    fault.count = count;
    fault.probability = probability;
    fault.seed = 7;
    fault.fromCall = fromCall;
    ASSERT_TRUE(GridApi::FaultInjector::add(fault)) << call;
}

inline void resetHost() {
    GridApi::FaultInjector::clear();
    StravoHostControl::resetToDefaults();
    StravoHostControl::enableLogCapture(true);
    StravoHostControl::clearCapturedLogLines();
    StravoHostControl::clearCapturedSystemEvents();
    StravoHostControl::recordSleeps();
}

// The host in that state around a test of the base's kind: a plain test, or one with a share.
template <class Base>
class HostBase : public Base {
  protected:
    void SetUp() override {
        Base::SetUp();
        resetHost();
    }
    void TearDown() override {
        GridApi::FaultInjector::clear();
        GridApi::restoreSystemCalls();
        StravoHostControl::resetToDefaults();
        Base::TearDown();
    }
    static std::vector<std::string> lines() { return StravoHostControl::capturedLogLines(); }
};
class HostTest : public HostBase<::testing::Test> {};
class HostShareTest : public HostBase<TestShare> {};

// The share test with a file-services object as the server holds it (the file system past the
// library: the Win32 helpers of TestShare.h).
class ServicesTest : public HostShareTest {
  protected:
    void SetUp() override {
        HostShareTest::SetUp();
        services_.reset(createFileServices());
    }
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services_;
};

// A platform open that records the creation disposition and flags it was given, then opens for real.
struct OpenRecord {
    DWORD disposition;
    DWORD flags;
};
inline std::vector<OpenRecord>& recordedOpens() {
    static std::vector<OpenRecord> opens;
    return opens;
}
inline HANDLE WINAPI recordingOpen(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templateFile) {
    recordedOpens().push_back({disposition, flags});
    return reinterpret_cast<decltype(&::CreateFileA)>(GridApi::getDefaultSystemCall("CreateFileA"))(
        name, access, share, security, disposition, flags, templateFile);
}
inline void recordOpens() {
    recordedOpens().clear();
    GridApi::setSystemCall("CreateFileA", reinterpret_cast<void*>(&recordingOpen));
}

}  // namespace gridtest
