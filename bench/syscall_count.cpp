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
    // A new file each run, directly in the share and two directories down (made beforehand).
    const std::string share = file.substr(0, file.rfind('\\'));
    CreateDirectoryA((share + "\\grid-syscalls").c_str(), nullptr);
    CreateDirectoryA((share + "\\grid-syscalls\\deep").c_str(), nullptr);
    for (const char* where : {"", "\\grid-syscalls\\deep"}) {
        std::vector<std::string> names;
        for (int i = 0; i < runs; ++i) names.push_back(share + where + "\\grid-new-" + std::to_string(i) + ".bin");
        int next = 0;
        const std::string down = *where ? ", two directories down" : "";
        measure(("CreateFileA new file+CloseHandle bare" + down).c_str(), [&] {
            CloseHandle(CreateFileA(names[next++].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        });
        measure(("GetFileAttributesA bare" + down).c_str(), [&] { GetFileAttributesA(names[0].c_str()); });
        next = 0;
        measure(("MoveFileExA to a new name bare" + down).c_str(), [&] {
            const std::string& name = names[next++];
            MoveFileExA(name.c_str(), (name + ".moved").c_str(), 0);
        });
        next = 0;
        measure(("DeleteFileA bare" + down).c_str(), [&] { DeleteFileA((names[next++] + ".moved").c_str()); });
        next = 0;
        measure(("CreateDirectoryA bare" + down).c_str(), [&] { CreateDirectoryA(names[next++].c_str(), nullptr); });
        next = 0;
        measure(("RemoveDirectoryA bare" + down).c_str(), [&] { RemoveDirectoryA(names[next++].c_str()); });
    }
    RemoveDirectoryA((share + "\\grid-syscalls\\deep").c_str());
    RemoveDirectoryA((share + "\\grid-syscalls").c_str());
    DeleteFileA(file.c_str());
    return 0;
}
