// gridctl's command line on any arguments (one per line of the input): parsing alone, nothing run.
// It answers a usage error, a help text or "would run"; nothing may throw or crash.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Gridctl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"gridctl"};
    std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
    for (std::string arg; std::getline(lines, arg);) args.push_back(arg);

    std::ostringstream out, err;
    const int answer = gridctl::parseArguments(args, out, err);
    if (answer != gridctl::parsedToRun && answer != gridctl::exitOk && answer != gridctl::exitUsage) std::abort();
    return 0;
}
