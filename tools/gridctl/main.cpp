#include <cstdio>
#include <iostream>

#include "Gridctl.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    const bool terminal = _isatty(_fileno(stderr)) != 0;
#else
    const bool terminal = isatty(fileno(stderr)) != 0;
#endif
    gridctl::installInterruptHandler();
    return gridctl::run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr, terminal);
}
