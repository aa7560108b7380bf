// Runs each operation 100 times bare and 100 times through the file-services object, with a marker
// system call (getppid) around each run, so that `bench/syscalls-per-op.sh` can count under strace
// the system calls that one operation makes. Linux build only.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <StravoHost/HostControl.h>

namespace {

const int runs = 100;

void measure(const char* name, const std::function<void()>& operation) {
    std::printf("%s\n", name);
    std::fflush(stdout);
    ::getppid();
    for (int i = 0; i < runs; ++i) operation();
    ::getppid();
}

}  // namespace

int main() {
    const char* root = std::getenv("GRIDTEST_SHARE");
    const std::string file = std::string(root && *root ? root : "\\\\gridtest\\share") + "\\grid-syscalls.bin";
    StravoHostControl::setDatabaseSetting("UncCreateFileWriteThough", 0);
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());
    std::vector<char> buffer(65536, 'z');

    HANDLE bare = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    for (int i = 0; i < runs; ++i) WriteFile(bare, buffer.data(), 65536, &done, nullptr);
    CloseHandle(bare);
    // Warm up: the first call of each kind builds its retry handler (and reads its settings).
    services->GetFileAttributesA(file.c_str());
    FileServicesHandle warm = services->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                    OPEN_EXISTING, 0, FileServicesHandle());
    services->ReadFile(warm, buffer.data(), 1, &done, nullptr);
    services->WriteFile(warm, buffer.data(), 1, &done, nullptr);
    services->CloseHandle(warm);

    measure("GetFileAttributesA bare", [&] { GetFileAttributesA(file.c_str()); });
    measure("GetFileAttributesA object", [&] { services->GetFileAttributesA(file.c_str()); });
    measure("CreateFileA+CloseHandle bare", [&] {
        HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        CloseHandle(h);
    });
    measure("CreateFileA+CloseHandle object", [&] {
        FileServicesHandle h =
            services->CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
        services->CloseHandle(h);
    });
    for (DWORD size : {4096u, 65536u}) {
        const std::string kb = std::to_string(size / 1024) + " KiB";
        HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        measure(("ReadFile " + kb + " bare").c_str(), [&] { ReadFile(h, buffer.data(), size, &done, nullptr); });
        SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        measure(("WriteFile " + kb + " bare").c_str(), [&] { WriteFile(h, buffer.data(), size, &done, nullptr); });
        CloseHandle(h);
        FileServicesHandle o = services->CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                     OPEN_EXISTING, 0, FileServicesHandle());
        measure(("ReadFile " + kb + " object").c_str(),
                [&] { services->ReadFile(o, buffer.data(), size, &done, nullptr); });
        services->SetFilePointer(o, 0, nullptr, FILE_BEGIN);
        measure(("WriteFile " + kb + " object").c_str(),
                [&] { services->WriteFile(o, buffer.data(), size, &done, nullptr); });
        services->CloseHandle(o);
    }
    DeleteFileA(file.c_str());
    return 0;
}
