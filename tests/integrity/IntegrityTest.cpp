// Integrity of the data under a lossy share: a seeded random workload through the file-services
// object (create, seek and write, seek and read, set end of file, flush, close, re-open; 1 byte to
// 1 MiB at offsets anywhere, beyond 4 GiB included on a sparse file), checked against a model of
// the file after every operation, while the calls that reach the share fail with network errors,
// either before the file or after it (the answer lost). The retry counts are large enough for the
// library never to give up, and the waits are recorded, never slept.
//
// GRIDTEST_SEEDS (default 200) and GRIDTEST_TRANSFER_MIB (default 8) make the same program the soak
// run (`make soak`).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/FaultInjector.h>
#include <GridApi/GridFileServices.h>

#include "HostFixture.h"
#include "Model.h"

namespace {

using GridApi::FaultInjector;
using GridApi::FaultMode;

const std::vector<DWORD> networkErrors = {ERROR_NETNAME_DELETED, ERROR_UNEXP_NET_ERR, ERROR_SEM_TIMEOUT,
                                          ERROR_INVALID_HANDLE, ERROR_BAD_NETPATH};
// The calls that make a round trip to the share, and fail; moving the file pointer stays in the
// client (Win32 keeps the position in its own file object).
const char* const sharedCalls[] = {"CreateFileA",      "ReadFile",     "WriteFile",    "CloseHandle",
                                   "FlushFileBuffers", "SetEndOfFile", "GetFileSizeEx"};
const double faultProbability = 0.03;
const std::uint64_t fourGiB = 1ull << 32;
const DWORD mebibyte = 1024 * 1024;

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

// Data that depends on (key, position) only.
void fill(std::vector<char>& data, std::uint64_t key, std::size_t size) {
    data.resize(size);
    std::uint64_t state = key * 0x9E3779B97F4A7C15ull;
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::size_t b = 0; b < 8 && i + b < size; ++b) data[i + b] = static_cast<char>(z >> (8 * b));
    }
}

struct Totals {
    std::uint64_t operations = 0;
    std::uint64_t bytesVerified = 0;
    std::uint64_t faults = 0;
    std::uint64_t mismatches = 0;
    std::string firstMismatch;

    std::string summary(const char* what) const {
        std::ostringstream text;
        text << what << ": " << operations << " operations, " << bytesVerified << " bytes verified, " << faults
             << " faults injected, " << mismatches << " mismatches";
        return text.str();
    }
};

struct Mismatch {
    std::string what;
};

class IntegrityTest : public gridtest::HostShareTest, public ::testing::WithParamInterface<FaultMode> {
  protected:
    void SetUp() override {
        HostShareTest::SetUp();
#ifdef _WIN32
        StravoHostControl::setLogFile("NUL");
#else
        StravoHostControl::setLogFile("/dev/null");
#endif
        // Before any handler is built (once per process): no rule of the injected errors runs out.
        for (const char* key : {"NumRetriesNetNameDel", "NumRetriesOnUnexpectedNetError", "NumRetriesOnSemTimeout",
                                "NumRetriesOnInvalidHandle", "NumRetriesOnBadNetPath"})
            StravoHostControl::setDatabaseSetting(key, 1000);
        // Handles without write-through: the flushes reach the share (and may fail there), and the
        // run is not bound by synchronous writes.
        StravoHostControl::setDatabaseSetting("UncCreateFileWriteThough", 0);
        services_.reset(createFileServices());
    }

    void TearDown() override {
        std::printf("%s\n", totals_.summary(name_).c_str());
        HostShareTest::TearDown();
    }

    void injectFaults(std::uint32_t seed, FaultMode mode) {
        std::uint32_t n = 0;
        // A Win32 close releases the handle whatever the share answers: it can lose its answer, but
        // never fail before the file with the handle still open.
        for (const char* call : sharedCalls) {
            GridApi::Fault fault;
            fault.call = call;
            fault.errors = networkErrors;
            const bool closeBefore = mode == FaultMode::failBefore && std::strcmp(call, "CloseHandle") == 0;
            fault.probability = closeBefore ? 0.0 : faultProbability;
            fault.seed = seed * 16 + n++;
            fault.mode = mode;
            ASSERT_TRUE(FaultInjector::add(fault));
        }
    }

    // A careful caller's answer to an operation that makes one attempt: repeat it while the failure
    // was a network error. True when it finally succeeded.
    template <class Call>
    static bool repeated(Call call) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::uint64_t before = FaultInjector::injectedTotal();
            if (call()) return true;
            if (FaultInjector::injectedTotal() == before) return false;
        }
        return false;
    }

    static void check(bool ok, const std::string& what) {
        if (!ok) throw Mismatch{what};
    }

    // Runs `work` with the faults of the seed injected, and adds what it met to the totals: a
    // mismatch it throws is counted (the first one kept), the run goes on.
    template <class Work>
    void underFaults(std::uint32_t seed, FaultMode mode, const std::string& what, Work work) {
        const std::uint64_t faultsBefore = FaultInjector::injectedTotal();
        injectFaults(seed, mode);
        StravoHostControl::clearCapturedLogLines();
        try {
            work();
        } catch (const Mismatch& mismatch) {
            ++totals_.mismatches;
            if (totals_.firstMismatch.empty()) totals_.firstMismatch = what + ": " + mismatch.what;
        }
        FaultInjector::clear();
        totals_.faults += FaultInjector::injectedTotal() - faultsBefore;
    }

    // Runs the seed's workload, checking the file against the model after every operation.
    void runSeed(std::uint32_t seed, FaultMode mode, int operations) {
        const std::string file = path("seed-" + std::to_string(seed) + ".bin");
        std::mt19937_64 random(seed);
        gridtest::FileModel model;
        std::uint64_t position = 0;
        std::vector<char> data;
        FileServicesHandle h;
        underFaults(seed, mode, "seed " + std::to_string(seed), [&] {
            try {
                h = open(file, CREATE_ALWAYS);
                for (int op = 0; op < operations; ++op) {
                    const unsigned kind = random() % 100;
                    ++totals_.operations;
                    if (kind < 35) {
                        const DWORD size = randomSize(random);
                        const std::uint64_t offset = randomOffset(random, model, position, size);
                        seek(h, offset);
                        fill(data, (std::uint64_t(seed) << 20) ^ op, size);
                        DWORD written = 0;
                        const BOOL wrote = services_->WriteFile(h, data.data(), size, &written, nullptr);
                        const DWORD error = GetLastError();
                        check(wrote && written == size, "the write failed or was short: " + std::to_string(written) +
                                                            ", error " + std::to_string(error));
                        model.write(offset, data.data(), size);
                        position = offset + size;
                    } else if (kind < 60) {
                        const DWORD size = randomSize(random);
                        const std::uint64_t offset = randomOffset(random, model, position, size);
                        position = offset + compare(h, model, offset, size);
                    } else if (kind < 75) {
                        const std::uint64_t end = randomOffset(random, model, position, 0);
                        seek(h, end);
                        check(repeated([&] { return services_->SetEndOfFile(h); }), "SetEndOfFile failed");
                        model.resize(end);
                        position = end;
                    } else if (kind < 85) {
                        check(repeated([&] { return services_->FlushFileBuffers(h); }), "the flush failed");
                    } else {
                        close(h);
                        verify(file, model);
                        h = open(file, OPEN_EXISTING);
                        position = 0;
                    }
                    checkState(h, model, position);
                }
                close(h);
                verify(file, model);
            } catch (const Mismatch&) {
                services_->CloseHandle(h);
                throw;
            }
        });
        DeleteFileA(file.c_str());
    }

    static DWORD randomSize(std::mt19937_64& random) {
        const unsigned bits = random() % 21;  // 1 byte to 1 MiB, each power of two as likely
        return static_cast<DWORD>(std::min<std::uint64_t>(mebibyte, (1ull << bits) + random() % (1ull << bits)));
    }

    // Where the next operation starts: mostly near the data, sometimes beyond 4 GiB, sometimes so
    // that the transfer ends where the low 32 bits of the position are all ones.
    static std::uint64_t randomOffset(std::mt19937_64& random, const gridtest::FileModel& model, std::uint64_t position,
                                      DWORD size) {
        const unsigned where = random() % 100;
        if (where < 40) return position;
        if (where < 80) return random() % (model.size() + mebibyte);
        if (where < 95) return fourGiB + random() % (64ull * mebibyte);
        return 2 * fourGiB - 1 - size;
    }

    FileServicesHandle open(const std::string& file, DWORD disposition) {
        FileServicesHandle h =
            services_->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
        const DWORD error = GetLastError();
        check(static_cast<void*>(h) != INVALID_HANDLE_VALUE, "the open failed: " + std::to_string(error));
        return h;
    }

    // Closes; a repeat after a lost answer meets the handle closed already (6), which is the end too.
    void close(FileServicesHandle& h) {
        repeated([&] { return services_->CloseHandle(h); });
    }

    void seek(FileServicesHandle& h, std::uint64_t offset) {
        LARGE_INTEGER to;
        to.QuadPart = static_cast<LONGLONG>(offset);
        LARGE_INTEGER now;
        check(repeated([&] { return services_->SetFilePointerEx(h, to, &now, FILE_BEGIN); }) &&
                  static_cast<std::uint64_t>(now.QuadPart) == offset,
              "the seek failed");
    }

    void checkState(FileServicesHandle& h, const gridtest::FileModel& model, std::uint64_t position) {
        LARGE_INTEGER size;
        check(repeated([&] { return services_->GetFileSizeEx(h, &size); }), "GetFileSizeEx failed");
        check(static_cast<std::uint64_t>(size.QuadPart) == model.size(),
              "the size is " + std::to_string(size.QuadPart) + ", not " + std::to_string(model.size()));
        LARGE_INTEGER zero;
        zero.QuadPart = 0;
        LARGE_INTEGER now;
        check(services_->SetFilePointerEx(h, zero, &now, FILE_CURRENT) &&
                  static_cast<std::uint64_t>(now.QuadPart) == position,
              "the position is " + std::to_string(now.QuadPart) + ", not " + std::to_string(position));
    }

    // The whole file through the object: every extent and the start of every gap between them.
    void verify(const std::string& file, const gridtest::FileModel& model) {
        FileServicesHandle h = open(file, OPEN_EXISTING);
        std::uint64_t at = 0;
        for (const auto& extent : model.extents()) {
            if (extent.first > at) compare(h, model, at, std::min<std::uint64_t>(extent.first - at, 4096));
            compare(h, model, extent.first, extent.second.size());
            at = extent.first + extent.second.size();
        }
        if (model.size() > at) compare(h, model, at, std::min<std::uint64_t>(model.size() - at, 4096));
        checkState(h, model, std::min<std::uint64_t>(model.size(), at + 4096));
        close(h);
    }

    // Reads `size` bytes at `offset` (seeking there first) and checks them against the model, which
    // clips the read at the end of the file; answers the bytes read.
    DWORD compare(FileServicesHandle& h, const gridtest::FileModel& model, std::uint64_t offset, std::uint64_t size) {
        seek(h, offset);
        const std::vector<char> expected = model.read(offset, size);
        std::vector<char> got(size);
        DWORD done = 0;
        check(services_->ReadFile(h, got.data(), static_cast<DWORD>(size), &done, nullptr) && done == expected.size() &&
                  std::equal(expected.begin(), expected.end(), got.begin()),
              "the file differs from the model at " + std::to_string(offset) + " (" + std::to_string(done) + " of " +
                  std::to_string(expected.size()) + " bytes read)");
        totals_.bytesVerified += done;
        return done;
    }

    void runSeeds(FaultMode mode) {
        const std::uint64_t seeds = fromEnvironment("GRIDTEST_SEEDS", 200);
        for (std::uint32_t seed = 1; seed <= seeds; ++seed) runSeed(seed, mode, 30);
        EXPECT_EQ(0u, totals_.mismatches) << totals_.firstMismatch;
        EXPECT_GT(totals_.faults, 0u) << "no fault was injected";
    }

    // One file written in 64 KiB pieces and read back in order, both under faults, without a seek:
    // the position a re-created handle resumes at is the one its record kept.
    void runTransfer(FaultMode mode) {
        const std::uint64_t total = fromEnvironment("GRIDTEST_TRANSFER_MIB", 8) * mebibyte;
        const std::string file = path("transfer.bin");
        const DWORD piece = 64 * 1024;
        std::vector<char> data, got(piece);
        underFaults(0x7FFF, mode, "transfer", [&] {
            for (const bool writing : {true, false}) {
                FileServicesHandle h = open(file, writing ? CREATE_ALWAYS : OPEN_EXISTING);
                for (std::uint64_t offset = 0; offset < total; offset += piece) {
                    fill(data, offset, piece);
                    DWORD done = 0;
                    check(writing ? services_->WriteFile(h, data.data(), piece, &done, nullptr) && done == piece
                                  : services_->ReadFile(h, got.data(), piece, &done, nullptr) && done == piece &&
                                        got == data,
                          std::string(writing ? "the write" : "the read") + " at " + std::to_string(offset) +
                              " failed or differs");
                    totals_.bytesVerified += writing ? 0 : piece;
                    ++totals_.operations;
                }
                close(h);
            }
        });
        EXPECT_EQ(0u, totals_.mismatches) << totals_.firstMismatch;
    }

    boost::shared_ptr<StravoStorageApi::FileServicesIf> services_;
    Totals totals_;
    const char* name_ = "";
};

TEST_P(IntegrityTest, Seeds) {
    name_ = GetParam() == FaultMode::failBefore ? "seeds, failures before the file" : "seeds, lost answers";
    runSeeds(GetParam());
}

TEST_P(IntegrityTest, Transfer) {
    name_ = GetParam() == FaultMode::failBefore ? "transfer, failures before the file" : "transfer, lost answers";
    runTransfer(GetParam());
}

INSTANTIATE_TEST_SUITE_P(FaultModes, IntegrityTest, ::testing::Values(FaultMode::failBefore, FaultMode::lostAnswer),
                         [](const ::testing::TestParamInfo<FaultMode>& info) {
                             return info.param == FaultMode::failBefore ? "FailBefore" : "LostAnswer";
                         });

}  // namespace
