// Writes a file through the file-services object with write-through off, says so by making
// READY_FILE, waits for GO_FILE, then closes the file and prints the close's answer and last error
// ("close: TRUE 0" or "close: FALSE 59"). share-outage.sh kills the share's server in between, so
// that the data the writes left pending can only fail at the close.
//   grid-outage-close \\server\share\file MiB READY_FILE GO_FILE
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <StravoHost/HostControl.h>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s FILE MiB READY_FILE GO_FILE\n", argv[0]);
        return 2;
    }
    StravoHostControl::setDatabaseSetting("UncCreateFileWriteThough", 0);
    const boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());
    FileServicesHandle file = services->CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
    if (static_cast<void*>(file) == INVALID_HANDLE_VALUE) {
        std::printf("open: error %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    const std::vector<char> chunk(1 << 16, 'c');
    for (long written = 0; written < std::atol(argv[2]) * (1L << 20); written += static_cast<long>(chunk.size())) {
        DWORD done = 0;
        if (!services->WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &done, nullptr)) {
            std::printf("write: error %lu\n", static_cast<unsigned long>(GetLastError()));
            return 1;
        }
    }
    std::ofstream(argv[3]) << "written\n";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::access(argv[4], F_OK) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::printf("no go within 60 s\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    SetLastError(0);
    const BOOL closed = services->CloseHandle(file);
    std::printf("close: %s %lu\n", closed ? "TRUE" : "FALSE", static_cast<unsigned long>(GetLastError()));
    return 0;
}
