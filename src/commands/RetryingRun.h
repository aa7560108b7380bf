#pragma once

// The retrying run shared by every retrying command: repeat the command's single attempt while its
// retry handler allows, then report a final failure (system event, log line, last error) or a
// success after retries (trace line).

#include <cassert>
#include <string>
#include <utility>

#include <GridApi/ErrorStatus.h>
#include <GridApi/FileOperationRetryHandler.h>
#include <GridApi/GridMethod.h>

#include "retry/RetryLog.h"

namespace GridApi {

// How a command's final failure is reported.
struct FailureReport {
    enum Kind {
        eventAndLog,   // error record -> system event -> log line -> last error
        lastErrorOnly  // only the thread's last error
    };

    Kind kind = eventAndLog;
    const std::string* path = nullptr;       // the error record's path...
    const std::wstring* widePath = nullptr;  // ...or its wide path
    const char* text = nullptr;              // printf-style failure text
    const char* textArgument = nullptr;      // its one %s argument, when it has one
    int messageId = messages::error;         // id of the log line

    static FailureReport of(const std::string& path, const char* text, const char* textArgument = nullptr) {
        FailureReport report;
        report.path = &path;
        report.text = text;
        report.textArgument = textArgument;
        return report;
    }
};

// The usual success test: the attempt's status is non-zero.
struct StatusSucceeded {
    bool operator()(const ErrorStatus& result) const { return result.status != 0; }
};

// The usual step before a granted retry: nothing; false would end the run as a failure.
struct NothingBeforeRetry {
    bool operator()(ErrorStatus&) const { return true; }
};

class RetryingRun {
  public:
    RetryingRun(const StravoStorageApi::FileOperationRetryHandler& handler, RetryWaiter& waiter) : handler_(handler) {
        context_.retryWaiter = std::move(waiter);
    }

    // Adds one argument for the log, in the order the log shows them. The text must live until
    // execute() returns: it is copied into the run's context only when an attempt fails, so a
    // first-time success allocates nothing for the log.
    RetryingRun& argument(const std::string& text) {
        assert(argumentCount_ < sizeof arguments_ / sizeof arguments_[0]);
        arguments_[argumentCount_++] = &text;
        return *this;
    }

    template <class Attempt, class Succeeded = StatusSucceeded, class BeforeRetry = NothingBeforeRetry>
    ErrorStatus execute(Attempt attempt, const FailureReport& failure, Succeeded succeeded = Succeeded(),
                        BeforeRetry beforeRetry = BeforeRetry()) {
        ErrorStatus result;
        for (;;) {
            result = attempt();
            if (succeeded(result)) {
                if (context_.attempts != 0) reportSuccess();
                return result;
            }
            if (context_.arguments.empty()) {
                for (std::size_t i = 0; i < argumentCount_; ++i) context_.arguments.push_back(*arguments_[i]);
            }
            if (!handler_.shouldRetry(result.lastError, context_) || !beforeRetry(result)) break;
        }
        reportFailure(result, failure);
        return result;
    }

  private:
    void reportSuccess() const;
    static void reportFailure(const ErrorStatus& result, const FailureReport& failure);

    const StravoStorageApi::FileOperationRetryHandler& handler_;
    StravoStorageApi::RetryHandlerContext context_;
    const std::string* arguments_[2] = {};  // a path, or a source and a destination
    std::size_t argumentCount_ = 0;
};

}  // namespace GridApi
