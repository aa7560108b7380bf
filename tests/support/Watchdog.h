#pragma once

// Runs a piece of a test under a time limit, so that a call that hangs fails the test instead of
// hanging it. The limit is an upper bound only: a call that returns in time passes, however fast.
//
// On Linux the piece runs in a forked child, which is killed at the limit; the child's assertion
// failures are reported in the test. The child's effects (log lines, settings, handlers built) stay
// in the child, so each piece starts from the test's state as it was, and a handler built there is
// a first build. Elsewhere the piece runs on a thread; a thread that is stuck cannot be stopped, so
// at the limit the failure is printed and the test program ends.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <future>
#else
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#endif

namespace gridtest {

using Seconds = std::chrono::duration<double>;

namespace watchdog {

inline void runCatching(const std::function<void()>& piece) {
    try {
        piece();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected exception: " << error.what();
    } catch (...) {
        ADD_FAILURE() << "unexpected exception";
    }
}

}  // namespace watchdog

#if defined(_WIN32)

// Returns how long the piece took.
inline Seconds runWithin(Seconds limit, const std::function<void()>& piece, const std::string& what) {
    const auto start = std::chrono::steady_clock::now();
    std::packaged_task<void()> task([&piece] { watchdog::runCatching(piece); });
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not return within %.1f s\n", what.c_str(), limit.count());
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    runner.join();
    return std::chrono::steady_clock::now() - start;
}

#else

namespace watchdog {

// One line per failure the child saw ("file\tline\tmessage", tabs and newlines in the message
// escaped), then "took\t<seconds>".
inline std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out;
}

inline void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

[[noreturn]] inline void runChild(int fd, const std::function<void()>& piece) {
    ::testing::TestPartResultArray failures;
    const auto start = std::chrono::steady_clock::now();
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
        runCatching(piece);
    }
    const Seconds took = std::chrono::steady_clock::now() - start;
    std::ostringstream report;
    for (int i = 0; i < failures.size(); ++i) {
        const ::testing::TestPartResult& failure = failures.GetTestPartResult(i);
        if (!failure.failed()) continue;
        report << escape(failure.file_name() ? failure.file_name() : "") << '\t' << failure.line_number() << '\t'
               << escape(failure.message()) << '\n';
    }
    report << "took\t" << took.count() << '\n';
    writeAll(fd, report.str());
    // No exit handlers: they belong to the test (its temporary stores, for one).
    ::_exit(0);
}

inline std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 't')) {
            out += text[++i] == 'n' ? '\n' : '\t';
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace watchdog

// Returns how long the piece took in the child (0 when it did not finish).
inline Seconds runWithin(Seconds limit, const std::function<void()>& piece, const std::string& what) {
    int channel[2];
    if (::pipe(channel) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return Seconds(0);
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return Seconds(0);
    }
    if (child == 0) {
        ::close(channel[0]);
        watchdog::runChild(channel[1], piece);
    }
    ::close(channel[1]);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string report;
    bool finished = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd entry{channel[0], POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char buffer[4096];
        const ssize_t got = ::read(channel[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            finished = true;  // the child wrote its report and ended
            break;
        }
        report.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(channel[0]);
    if (!finished) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!finished) {
        ADD_FAILURE() << what << " did not return within " << limit.count() << " s";
        return Seconds(0);
    }
    Seconds took(0);
    std::istringstream lines(report);
    std::string line;
    bool reported = false;
    while (std::getline(lines, line)) {
        const std::size_t first = line.find('\t');
        const std::size_t second = line.find('\t', first + 1);
        if (line.compare(0, first, "took") == 0) {
            took = Seconds(std::stod(line.substr(first + 1)));
            reported = true;
        } else if (second != std::string::npos) {
            const std::string file = watchdog::unescape(line.substr(0, first));
            const int number = std::stoi(line.substr(first + 1, second - first - 1));
            ADD_FAILURE_AT(file.c_str(), number) << "[" << what << "] " << watchdog::unescape(line.substr(second + 1));
        }
    }
    if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << what << " ended abnormally (status " << status << ")";
    }
    return took;
}

#endif

}  // namespace gridtest
