#pragma once

// Runs a piece of a test under a time limit, so that a call that hangs fails at once instead of
// holding the test until CTest's timeout. The limit is an upper bound only: a piece that returns in
// time passes, however fast. The piece runs on a thread of its own; a thread that is stuck cannot be
// stopped, so at the limit the failure is printed and the test program ends.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace gridtest {

using Seconds = std::chrono::duration<double>;

inline void runWithin(Seconds limit, const std::function<void()>& piece, const std::string& what) {
    std::packaged_task<void()> task([&piece, &what] {
        try {
            piece();
        } catch (const std::exception& error) {
            ADD_FAILURE() << what << ": unexpected exception: " << error.what();
        } catch (...) {
            ADD_FAILURE() << what << ": unexpected exception";
        }
    });
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not return within %.1f s\n", what.c_str(), limit.count());
        std::fflush(stderr);
        std::_Exit(EXIT_FAILURE);
    }
    runner.join();
}

}  // namespace gridtest
