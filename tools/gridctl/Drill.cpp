// drill: an outage drill. Writes a file to a share through the object while the system-call table
// fails transfers with network errors, in two ways (the call fails without reaching the file; the
// call goes through but its answer is lost), then reads the file back and compares it byte for
// byte. Faults, data and the library's random extra waits all come from the seed, so a run with a
// fixed seed prints the same summary every time.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <CLI/CLI.hpp>

#include <GridApi/SystemCalls.h>

#include "Gridctl.h"

namespace gridctl {

namespace {

struct DrillOptions {
    std::string directory = "\\\\gridtest\\share";
    std::uint64_t mebibytes = 64;
    std::uint32_t chunkKiB = 64;
    double faultRate = 0.07;
    std::uint32_t seed = 1;
    std::string codes = "64,59,121,6,53";
    bool keep = false;
};

// The fault plan: which transfer calls fail, with which code, and how. Only one drill runs at a
// time, and the table's entries are process-wide, so its state is too.
struct FaultPlan {
    bool active = false;
    std::mt19937 random;
    std::uint32_t threshold = 0;  // a draw below it is a fault
    std::vector<DWORD> codes;
    std::uint64_t failedBefore = 0;
    std::uint64_t answersLost = 0;
    std::uint64_t opens = 0;
    decltype(&::WriteFile) realWrite = nullptr;
    decltype(&::ReadFile) realRead = nullptr;
    decltype(&::CreateFileA) realCreate = nullptr;

    enum Mode { none, failBefore, answerLost };
    Mode draw(DWORD& code) {
        if (!active || random() >= threshold) return none;
        code = codes[random() % codes.size()];
        return random() % 2 ? answerLost : failBefore;
    }
} plan;

// One transfer call under the plan: untouched, failed before the file, or through with its answer lost.
template <class Buffer, class Real>
BOOL transferWithFaults(Real real, HANDLE file, Buffer buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    DWORD code = 0;
    const FaultPlan::Mode mode = plan.draw(code);
    if (mode == FaultPlan::none) return real(file, buffer, size, done, overlapped);
    if (mode == FaultPlan::failBefore) {
        ++plan.failedBefore;
        if (done) *done = 0;
    } else {
        if (!real(file, buffer, size, done, overlapped)) return FALSE;
        ++plan.answersLost;
    }
    SetLastError(code);
    return FALSE;
}

BOOL WINAPI faultyWriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    return transferWithFaults(plan.realWrite, file, buffer, size, done, overlapped);
}

BOOL WINAPI faultyReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
    return transferWithFaults(plan.realRead, file, buffer, size, done, overlapped);
}

// Counts the opens during the transfers: each one is the object re-creating the handle.
HANDLE WINAPI countingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (plan.active) ++plan.opens;
    return plan.realCreate(name, access, share, security, disposition, flags, templateFile);
}

template <class Function>
void* pointerOf(Function function) {
    return reinterpret_cast<void*>(function);
}

// Installs the three entries for the drill's lifetime and puts their defaults back afterwards.
class Interposers {
  public:
    Interposers() {
        plan.realWrite = reinterpret_cast<decltype(&::WriteFile)>(GridApi::getDefaultSystemCall("WriteFile"));
        plan.realRead = reinterpret_cast<decltype(&::ReadFile)>(GridApi::getDefaultSystemCall("ReadFile"));
        plan.realCreate = reinterpret_cast<decltype(&::CreateFileA)>(GridApi::getDefaultSystemCall("CreateFileA"));
        GridApi::setSystemCall("WriteFile", pointerOf(&faultyWriteFile));
        GridApi::setSystemCall("ReadFile", pointerOf(&faultyReadFile));
        GridApi::setSystemCall("CreateFileA", pointerOf(&countingCreateFileA));
    }
    ~Interposers() {
        plan.active = false;
        for (const char* name : {"WriteFile", "ReadFile", "CreateFileA"}) GridApi::setSystemCall(name, nullptr);
    }
};

// The drill's data: a function of the seed and the offset only, so it can be made again to verify.
void fillChunk(std::vector<unsigned char>& chunk, std::uint32_t seed, std::uint64_t offset, std::size_t size) {
    chunk.resize(size);
    std::uint64_t state = (static_cast<std::uint64_t>(seed) << 32) ^ offset;
    for (std::size_t i = 0; i < size; i += 8) {
        // splitmix64
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::size_t b = 0; b < 8 && i + b < size; ++b) chunk[i + b] = static_cast<unsigned char>(z >> (8 * b));
    }
}

class Drill {
  public:
    Drill(Session& session, const DrillOptions& options) : s(session), o(options) {}

    int run() {
        if (!s.pluginIsLinkedLibrary()) {
            return s.error("drill", "the plug-in " + s.pluginPath +
                                        " is not the library gridctl was built with; its system-call table is out of "
                                        "reach, so no fault can be injected");
        }
        std::vector<std::string> parts;
        boost::algorithm::split(parts, o.codes, boost::algorithm::is_any_of(","));
        std::vector<DWORD> codes;
        for (const std::string& part : parts) {
            if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 9)
                return s.error("drill", "bad --codes '" + o.codes + "': expected Win32 error numbers, e.g. 64,59");
            codes.push_back(static_cast<DWORD>(std::stoul(part)));
        }
        if (o.faultRate < 0 || o.faultRate >= 1) return s.error("drill", "--fault-rate must be at least 0 and below 1");
        if (o.chunkKiB == 0 || o.chunkKiB > 65536) return s.error("drill", "--chunk must be 1 to 65536 KiB");

        file_ = o.directory + "\\gridctl-drill.bin";
        total_ = o.mebibytes * 1024 * 1024;
        chunk_ = o.chunkKiB * 1024u;
        plan = FaultPlan();
        plan.random.seed(o.seed);
        plan.threshold = static_cast<std::uint32_t>(o.faultRate * 4294967296.0);
        plan.codes = codes;
        s.onRetry = [this](std::uint32_t code, bool again) {
            std::ostringstream line;
            line << "  error " << code << " " << errorName(code) << " while " << phase_ << " at " << position_
                 << " bytes: " << (again ? "retry " + std::to_string(s.stats.retries) : std::string("gave up"));
            if (progress_) progress_->line(line.str());
        };
        if (!s.json) {
            std::ostringstream head;
            head << "drill: " << o.mebibytes << " MiB to " << file_ << " in " << o.chunkKiB << " KiB chunks; faults "
                 << o.faultRate << " per transfer call, codes " << o.codes << ", seed " << o.seed
                 << ", waits scaled by " << s.timeScale << "\n";
            s.out << head.str();
        }

        Interposers interposers;
        std::uint32_t failedCode = 0;
        const bool written = write(failedCode);
        bool identical = false;
        std::uint64_t readBack = 0;
        if (written) identical = verify(failedCode, readBack);
        plan.active = false;
        if (!o.keep) s.services->DeleteFileA(file_.c_str());
        return summary(written, identical, readBack, failedCode);
    }

  private:
    // One phase on a fresh handle with faults on: the loop transfers, advancing position_.
    template <class Loop>
    bool phase(const char* label, const char* name, DWORD access, DWORD disposition, std::uint32_t& failedCode,
               Loop loop) {
        FileServicesHandle file = s.services->CreateFileA(file_.c_str(), access, 0, nullptr, disposition,
                                                          FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
        if (static_cast<void*>(file) == INVALID_HANDLE_VALUE) {
            failedCode = static_cast<std::uint32_t>(GetLastError());
            return false;
        }
        // The library seeds its random extra waits once, with its first rule; from here on the
        // drill's seed decides them.
        std::srand(o.seed);
        Progress progress(s, label, total_);
        progress_ = &progress;
        phase_ = name;
        position_ = 0;
        plan.active = true;
        const bool ok = loop(file, progress);
        plan.active = false;
        progress.finish();
        progress_ = nullptr;
        s.services->CloseHandle(file);
        return ok;
    }

    bool write(std::uint32_t& failedCode) {
        std::vector<unsigned char> chunk;
        const bool ok =
            phase("write", "writing", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, failedCode,
                  [&](FileServicesHandle& file, Progress& progress) {
                      while (position_ < total_) {
                          const DWORD size = static_cast<DWORD>(std::min<std::uint64_t>(chunk_, total_ - position_));
                          fillChunk(chunk, o.seed, position_, size);
                          DWORD done = 0;
                          if (!s.services->WriteFile(file, chunk.data(), size, &done, nullptr) || done != size) {
                              failedCode = static_cast<std::uint32_t>(GetLastError());
                              return false;
                          }
                          position_ += size;
                          progress.update(position_);
                      }
                      return true;
                  });
        written_ = position_;
        return ok;
    }

    // Reads the file back and compares it with the data made again; false on a failed read too.
    bool verify(std::uint32_t& failedCode, std::uint64_t& readBack) {
        std::vector<unsigned char> expected;
        std::vector<unsigned char> got(chunk_);
        const bool identical =
            phase("read back", "reading back", GENERIC_READ, OPEN_EXISTING, failedCode,
                  [&](FileServicesHandle& file, Progress& progress) {
                      for (;;) {
                          DWORD done = 0;
                          if (!s.services->ReadFile(file, got.data(), chunk_, &done, nullptr)) {
                              failedCode = static_cast<std::uint32_t>(GetLastError());
                              return false;
                          }
                          if (done == 0) return position_ == total_;
                          fillChunk(expected, o.seed, position_, done);
                          if (position_ + done > total_ || std::memcmp(expected.data(), got.data(), done) != 0)
                              return false;
                          position_ += done;
                          progress.update(position_);
                      }
                  });
        readBack = position_;
        return identical;
    }

    int summary(bool written, bool identical, std::uint64_t readBack, std::uint32_t failedCode) {
        s.onRetry = nullptr;
        const std::uint64_t faults = plan.failedBefore + plan.answersLost;
        std::string result;
        if (identical) {
            result = "verified: identical";
        } else if (!written || failedCode) {
            result = "failed: error " + std::to_string(failedCode) + " " + errorName(failedCode);
        } else {
            result = "verified: different";
        }
        nlohmann::json byCode = nlohmann::json::object();
        std::ostringstream codes;
        for (const auto& entry : s.stats.byCode) {
            byCode[std::to_string(entry.first)] = entry.second;
            codes << (codes.tellp() > 0 ? ", " : "") << entry.first << " " << errorName(entry.first) << ": "
                  << entry.second;
        }
        std::ostringstream text;
        text << "summary\n"
             << "  bytes:               " << written_ << " written, " << readBack << " read back\n"
             << "  faults injected:     " << faults << " (" << plan.failedBefore << " failed before the file, "
             << plan.answersLost << " answers lost)\n"
             << "  retries:             " << s.stats.retries << (s.stats.retries ? " (" + codes.str() + ")" : "")
             << "\n"
             << "  handle re-creations: " << plan.opens << "\n"
             << "  time waited:         " << s.stats.secondsAsked << " s asked, " << s.stats.secondsAsked * s.timeScale
             << " s after scaling by " << s.timeScale << "\n"
             << "  result:              " << result << "\n";
        s.emit(
            {{"command", "drill"},
             {"file", file_},
             {"seed", o.seed},
             {"bytesWritten", written_},
             {"bytesReadBack", readBack},
             {"faults", {{"injected", faults}, {"failedBefore", plan.failedBefore}, {"answersLost", plan.answersLost}}},
             {"retries", s.stats.retries},
             {"retriesByCode", byCode},
             {"handleRecreations", plan.opens},
             {"secondsAsked", s.stats.secondsAsked},
             {"timeScale", s.timeScale},
             {"identical", identical},
             {"result", result}},
            text.str());
        if (cancelRequested()) {
            s.err << "gridctl drill: cancelled by Ctrl-C during a retry wait\n";
            return exitCancelled;
        }
        if (identical) return exitOk;
        return written && !failedCode ? exitNotVerified : exitFailed;
    }

    Session& s;
    const DrillOptions& o;
    std::string file_;
    std::uint64_t total_ = 0;
    std::uint32_t chunk_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t written_ = 0;
    const char* phase_ = "";
    Progress* progress_ = nullptr;
};

}  // namespace

void addDrillCommand(CLI::App& app, Session& session, Action& action) {
    auto options = std::make_shared<DrillOptions>();
    CLI::App* drill = app.add_subcommand(
        "drill", "Write a file to a share while network faults are injected, read it back and verify it");
    drill->footer("Example:\n  gridctl drill '\\\\gridtest\\share' --size 64 --fault-rate 0.1 --seed 7");
    drill->add_option("directory", options->directory, "the directory on the share")->capture_default_str();
    drill->add_option("--size", options->mebibytes, "MiB to write")->capture_default_str()->check(CLI::Range(1, 65536));
    drill->add_option("--chunk", options->chunkKiB, "KiB per WriteFile/ReadFile call")->capture_default_str();
    drill->add_option("--fault-rate", options->faultRate, "the share of transfer calls that fail")
        ->capture_default_str();
    drill->add_option("--seed", options->seed, "the seed of faults, data and random waits")->capture_default_str();
    drill->add_option("--codes", options->codes, "the Win32 errors injected, comma-separated")->capture_default_str();
    drill->add_flag("--keep", options->keep, "keep the file (default: removed after the check)");
    drill->callback(
        [&action, &session, options] { action = [&session, options] { return Drill(session, *options).run(); }; });
}

}  // namespace gridctl
