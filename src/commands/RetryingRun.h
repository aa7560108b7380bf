#pragma once

// The two runs of the commands. The retrying run, shared by every retrying command: repeat the
// command's single attempt while its retry handler allows, then report a final failure (system
// event, log line, last error) or a success after retries (trace line). The single-attempt run: one
// attempt, nothing else.

#include <cassert>
#include <string>
#include <utility>

#include <GridApi/ErrorStatus.h>
#include <GridApi/FileOperationRetryHandler.h>
#include <GridApi/GridMethod.h>

#include "retry/RetryLog.h"

namespace GridApi {

// How a command's final failure is reported. The error record's path is the run's first logged
// argument (the command's path, or the source of a copy or move), unless a wide path is given.
struct FailureReport {
    enum Kind {
        eventAndLog,   // error record -> system event -> log line -> last error
        lastErrorOnly  // only the thread's last error
    };

    Kind kind = eventAndLog;
    const char* text = nullptr;              // printf-style failure text
    const char* textArgument = nullptr;      // its one %s argument, when it has one
    const std::wstring* widePath = nullptr;  // the error record's wide path, when it has one
    int messageId = messages::error;         // id of the log line

    explicit FailureReport(const char* failureText, const char* argument = nullptr, int id = messages::error)
        : text(failureText), textArgument(argument), messageId(id) {}

    static FailureReport silent() {
        FailureReport report(nullptr);
        report.kind = lastErrorOnly;
        return report;
    }
};

// The usual success test: the attempt's status is non-zero.
struct StatusSucceeded {
    bool operator()(const ErrorStatus& result) const { return result.status != 0; }
};

// Success of an opening call: any handle but INVALID_HANDLE_VALUE.
struct HandleSucceeded {
    bool operator()(const ErrorStatus& result) const {
        return static_cast<void*>(result.handle) != INVALID_HANDLE_VALUE;
    }
};

// The usual step before a granted retry: nothing; false would end the run as a failure.
struct NothingBeforeRetry {
    bool operator()() const { return true; }
};

class RetryingRun {
  public:
    RetryingRun(const StravoStorageApi::FileOperationRetryHandler& handler, RetryWaiter& waiter) : handler_(handler) {
        context_.retryWaiter = std::move(waiter);
    }

    // Adds one argument for the log, in the order the log shows them. The text is read when the
    // first attempt fails and copied into the run's context then, so that a first-time success
    // allocates nothing for the log; it must stay valid until then.
    RetryingRun& argument(const char* text) {
        assert(argumentCount_ < sizeof arguments_ / sizeof arguments_[0]);
        arguments_[argumentCount_++] = text;
        return *this;
    }
    RetryingRun& argument(const std::string& text) { return argument(text.c_str()); }

    template <class Attempt, class Succeeded = StatusSucceeded, class BeforeRetry = NothingBeforeRetry>
    ErrorStatus execute(Attempt attempt, const FailureReport& failure, Succeeded succeeded = Succeeded(),
                        BeforeRetry beforeRetry = BeforeRetry()) {
        ErrorStatus result = attempt();
        while (!succeeded(result)) {
            if (context_.arguments.empty()) {
                for (std::size_t i = 0; i < argumentCount_; ++i)
                    context_.arguments.emplace_back(arguments_[i] ? arguments_[i] : "");
            }
            if (!handler_.shouldRetry(result.lastError, context_) || !beforeRetry()) {
                reportFailure(result, failure);
                return result;
            }
            result = attempt();
        }
        if (context_.attempts != 0) reportSuccess();
        return result;
    }

    // The waiting function back from the run's context, for a follow-up command after the run.
    RetryWaiter releaseWaiter() { return std::move(context_.retryWaiter); }

  private:
    void reportSuccess() const;
    void reportFailure(const ErrorStatus& result, const FailureReport& failure) const;

    const StravoStorageApi::FileOperationRetryHandler& handler_;
    StravoStorageApi::RetryHandlerContext context_;
    const char* arguments_[2] = {};  // a path, or a source and a destination
    std::size_t argumentCount_ = 0;
};

// The single-attempt run: one attempt; no handler, no log line, no event, no change to the thread's
// last error beyond what the attempt's call left. The waiting function is released unused.
template <class Attempt>
ErrorStatus runOnce(Attempt attempt) {
    return attempt();
}

}  // namespace GridApi
