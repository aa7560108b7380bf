// drill: an outage drill. Writes a file to a share through the object while GridApi::FaultInjector
// fails transfers with network errors, in two ways (the call fails without reaching the file; the
// call goes through but its answer is lost), then reads the file back and compares it byte for
// byte. Faults, data and the library's random extra waits all come from the seed, so a run with a
// fixed seed prints the same summary every time.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <CLI/CLI.hpp>

#include <GridApi/FaultInjector.h>

#include "Gridctl.h"

namespace gridctl {

namespace {

struct DrillOptions {
    std::string directory = "\\\\gridtest\\share";
    std::uint64_t mebibytes = 64;
    std::uint32_t chunkKiB = 64;
    double faultRate = 0.07;
    std::uint32_t seed = 1;
    std::string codes = "64,59,6,53";
    bool keep = false;
};

// The drill refuses to start when more than this many transfer calls are expected to use up their
// retries: the policy could not carry it.
const double tolerableExhaustions = 1e-3;

// Per injected error: faults, retries granted, and the handle re-creations that followed them.
struct CodeCounts {
    std::uint64_t faults = 0;
    std::uint64_t retries = 0;
    std::uint64_t recreations = 0;
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
        for (const std::string& part : parts) {
            if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos || part.size() > 9)
                return s.error("drill", "bad --codes '" + o.codes + "': expected Win32 error numbers, e.g. 64,59");
            codes_.push_back(static_cast<DWORD>(std::stoul(part)));
        }
        if (!(o.faultRate >= 0 && o.faultRate < 1))
            return s.error("drill", "--fault-rate must be at least 0 and below 1");
        if (o.chunkKiB == 0 || o.chunkKiB > 65536) return s.error("drill", "--chunk must be 1 to 65536 KiB");

        file_ = o.directory + "\\gridctl-drill.bin";
        total_ = o.mebibytes * 1024 * 1024;
        chunk_ = o.chunkKiB * 1024u;
        const std::string unsurvivable = checkPolicy();
        if (!unsurvivable.empty()) return s.error("drill", unsurvivable, exitUsage, "policy");
        // Retries are counted in the summary; each is listed under -v.
        s.showWaits = false;
        s.onRetry = [this](std::uint32_t code, bool again) { retried(code, again); };
        if (!s.json && s.verbosity >= 0) {
            std::ostringstream head;
            head << "drill: " << o.mebibytes << " MiB to " << file_ << " in " << o.chunkKiB << " KiB chunks; faults "
                 << o.faultRate << " per transfer call, codes " << o.codes << ", seed " << o.seed
                 << ", waits scaled by " << s.timeScale << "\n";
            s.out << head.str();
        }

        std::uint32_t failedCode = 0;
        const bool written = write(failedCode);
        bool identical = false;
        std::uint64_t readBack = 0;
        if (written) identical = verify(failedCode, readBack);
        if (!o.keep) s.services->DeleteFileA(file_.c_str());
        return summary(written, identical, readBack, failedCode);
    }

  private:
    // Whether the policy can carry the drill: a transfer call fails for good when it meets more
    // faults in a row than the weakest injected error's rule retries (the count is per call,
    // whatever the errors).
    std::string checkPolicy() {
        if (o.faultRate == 0) return "";
        DWORD weakest = codes_.front();
        for (DWORD code : codes_) {
            if (s.retriesFor(code) < s.retriesFor(weakest)) weakest = code;
        }
        const double calls = 2.0 * std::ceil(static_cast<double>(total_) / chunk_);
        const std::uint32_t retries = s.retriesFor(weakest);
        const double expected = calls * std::pow(o.faultRate, retries + 1.0);
        if (expected <= tolerableExhaustions) return "";
        std::uint32_t needed = retries;
        while (calls * std::pow(o.faultRate, needed + 1.0) > tolerableExhaustions) ++needed;
        std::ostringstream why;
        why << "the retry policy cannot carry this drill: error " << weakest << " " << errorName(weakest)
            << " is retried " << retries << " times, and at fault rate " << o.faultRate << " over about " << calls
            << " transfer calls about " << std::setprecision(3) << expected
            << " of them would use up their retries. Raise its count to at least " << needed
            << " (gridctl settings set, or --retries " << needed << " for this run), lower --fault-rate, or leave "
            << weakest << " out of --codes; nothing was written";
        return why.str();
    }

    void retried(std::uint32_t code, bool again) {
        // The opens since the previous retry followed it.
        const std::uint64_t opens = GridApi::FaultInjector::calls("CreateFileA");
        if (lastCode_) perCode_[lastCode_].recreations += opens - opensSeen_;
        opensSeen_ = opens;
        lastCode_ = code;
        if (again) ++perCode_[code].retries;
        if (s.verbosity <= 0 || !progress_) return;
        std::ostringstream line;
        line << "  error " << code << " " << errorName(code) << " while " << phase_ << " at " << position_
             << " bytes: " << (again ? "retry " + std::to_string(s.stats.retries) : std::string("gave up"));
        progress_->line(line.str());
    }

    // Faults on both transfer calls, and a fault that never fires on CreateFileA to count the opens.
    void startFaults(std::uint32_t phaseSeed) {
        const char* const calls[] = {"WriteFile", "ReadFile", "CreateFileA"};
        for (const char* call : calls) {
            GridApi::Fault fault;
            fault.call = call;
            fault.probability = std::string(call) == "CreateFileA" ? 0.0 : o.faultRate;
            fault.seed = phaseSeed++;
            fault.errors.assign(codes_.begin(), codes_.end());
            fault.error = codes_.front();
            fault.mode = GridApi::FaultMode::eitherWay;
            GridApi::FaultInjector::add(fault);
        }
        opensSeen_ = 0;
        lastCode_ = 0;
    }

    void stopFaults() {
        if (lastCode_) perCode_[lastCode_].recreations += GridApi::FaultInjector::calls("CreateFileA") - opensSeen_;
        opens_ += GridApi::FaultInjector::calls("CreateFileA");
        for (const char* call : {"WriteFile", "ReadFile"}) {
            const GridApi::FaultCounts counts = GridApi::FaultInjector::counts(call);
            failedBefore_ += counts.failedBefore;
            answersLost_ += counts.answersLost;
            for (const auto& entry : counts.byError) perCode_[entry.first].faults += entry.second;
        }
        GridApi::FaultInjector::clear();
    }

    // One phase on a fresh handle with faults on: the loop transfers, advancing position_; Ctrl-C
    // stops it between chunks.
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
        startFaults(o.seed * 4 + (access & GENERIC_WRITE ? 0 : 2));
        const bool ok = loop(file, progress);
        stopFaults();
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
                      while (position_ < total_ && !cancelRequested()) {
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
                      return !cancelRequested();
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
                      while (!cancelRequested()) {
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
                      return false;
                  });
        readBack = position_;
        return identical;
    }

    int summary(bool written, bool identical, std::uint64_t readBack, std::uint32_t failedCode) {
        s.onRetry = nullptr;
        const bool stopped = cancelRequested();
        const std::uint64_t faults = failedBefore_ + answersLost_;
        std::string result;
        int rc = exitOk;
        if (stopped) {
            result = "cancelled by Ctrl-C";
            rc = exitCancelled;
        } else if (identical) {
            result = "verified: identical";
        } else if (!written || failedCode) {
            result = "failed: error " + std::to_string(failedCode) + " " + errorName(failedCode);
            rc = exitFailed;
        } else {
            result = "verified: different";
            rc = exitNotVerified;
        }
        nlohmann::json byCode = nlohmann::json::object(), perCode = nlohmann::json::object();
        std::ostringstream table;
        table << "  " << std::left << std::setw(34) << "error" << std::right << std::setw(8) << "faults" << std::setw(9)
              << "retries" << std::setw(14) << "re-creations"
              << "\n";
        for (const auto& entry : perCode_) {
            const std::string name = std::to_string(entry.first) + " " + errorName(entry.first);
            table << "  " << std::left << std::setw(34) << name << std::right << std::setw(8) << entry.second.faults
                  << std::setw(9) << entry.second.retries << std::setw(13) << entry.second.recreations << "\n";
            byCode[std::to_string(entry.first)] = entry.second.retries;
            perCode[std::to_string(entry.first)] = {{"name", errorName(entry.first)},
                                                    {"faults", entry.second.faults},
                                                    {"retries", entry.second.retries},
                                                    {"recreations", entry.second.recreations}};
        }
        std::ostringstream text;
        text << "summary\n"
             << "  bytes:         " << written_ << " written, " << readBack << " read back\n"
             << "  faults:        " << faults << " (" << failedBefore_ << " failed before the file, " << answersLost_
             << " answers lost), " << s.stats.retries << " retries, " << opens_ << " handle re-creations\n"
             << table.str() << "  time waited:   " << s.stats.secondsAsked << " s asked, "
             << s.stats.secondsAsked * s.timeScale << " s after scaling by " << s.timeScale << "\n"
             << "  result:        " << result << "\n";
        nlohmann::json doc = {
            {"command", "drill"},
            {"path", file_},
            {"seed", o.seed},
            {"bytesWritten", written_},
            {"bytesReadBack", readBack},
            {"faults", {{"injected", faults}, {"failedBefore", failedBefore_}, {"answersLost", answersLost_}}},
            {"retries", s.stats.retries},
            {"retriesByCode", byCode},
            {"codes", perCode},
            {"handleRecreations", opens_},
            {"secondsAsked", s.stats.secondsAsked},
            {"timeScale", s.timeScale},
            {"identical", identical},
            {"result", result}};
        if (rc != exitOk) {
            doc["bytes"] = written_;
            doc["exit"] = rc;
            doc["error"] = stopped      ? nlohmann::json{{"code", nullptr}, {"name", "cancelled"}, {"message", result}}
                           : failedCode ? errorJson(failedCode)
                                        : nlohmann::json{{"code", nullptr}, {"name", "data"}, {"message", result}};
        }
        s.emit(doc, text.str(), rc == exitOk);
        if (stopped) s.note("gridctl drill: cancelled by Ctrl-C");
        return rc;
    }

    Session& s;
    const DrillOptions& o;
    std::vector<DWORD> codes_;
    std::string file_;
    std::uint64_t total_ = 0;
    std::uint32_t chunk_ = 0;
    std::uint64_t position_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t failedBefore_ = 0;
    std::uint64_t answersLost_ = 0;
    std::uint64_t opens_ = 0;
    std::uint64_t opensSeen_ = 0;
    std::uint32_t lastCode_ = 0;
    std::map<std::uint32_t, CodeCounts> perCode_;
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
    drill->add_option("--chunk", options->chunkKiB, "KiB per WriteFile/ReadFile call")
        ->capture_default_str()
        ->check(CLI::Range(1, 65536));
    drill->add_option("--fault-rate", options->faultRate, "the share of transfer calls that fail (0 to below 1)")
        ->capture_default_str();
    drill->add_option("--seed", options->seed, "the seed of faults, data and random waits")->capture_default_str();
    drill->add_option("--codes", options->codes, "the Win32 errors injected, comma-separated")->capture_default_str();
    drill->add_flag("--keep", options->keep, "keep the file (default: removed after the check)");
    drill->callback(
        [&action, &session, options] { action = [&session, options] { return Drill(session, *options).run(); }; });
}

}  // namespace gridctl
