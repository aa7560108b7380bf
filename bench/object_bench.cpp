// What the file-services object costs on the success path: each operation through the object next
// to the bare platform call, on real files of the build's share, on one thread and on two threads
// with a handle each. Write-through: the setting is 0 here, so each case chooses it by its own flag.

#include <cstdlib>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <GridApi/SystemCalls.h>
#include <StravoHost/HostControl.h>

namespace {

std::string share() {
    const char* s = std::getenv("GRIDTEST_SHARE");
    return s && *s ? s : "\\\\gridtest\\share";
}

std::string benchFile(int thread) { return share() + "\\grid-bench-object-" + std::to_string(thread) + ".bin"; }

const DWORD fileSize = 4 * 1024 * 1024;

// A file of fileSize bytes, made with the bare calls.
void prepare(const std::string& file) {
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) std::abort();
    const std::vector<char> data(fileSize, 'x');
    DWORD written = 0;
    WriteFile(h, data.data(), fileSize, &written, nullptr);
    CloseHandle(h);
}

// The object, made once with the files of both threads.
StravoStorageApi::FileServicesIf& services() {
    static const boost::shared_ptr<StravoStorageApi::FileServicesIf> object = [] {
        StravoHostControl::setDatabaseSetting("UncCreateFileWriteThough", 0);
        for (int thread : {0, 1}) prepare(benchFile(thread));
        return boost::shared_ptr<StravoStorageApi::FileServicesIf>(createFileServices());
    }();
    return *object;
}

// The same operations on a bare HANDLE or through the object on a FileServicesHandle.
struct Bare {
    HANDLE h = INVALID_HANDLE_VALUE;
    bool open(const std::string& file, DWORD flags) {
        h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
        return h != INVALID_HANDLE_VALUE;
    }
    BOOL close() { return CloseHandle(h); }
    BOOL read(void* buffer, DWORD size, DWORD* got) { return ReadFile(h, buffer, size, got, nullptr); }
    BOOL write(const void* buffer, DWORD size, DWORD* done) { return WriteFile(h, buffer, size, done, nullptr); }
    DWORD rewind() { return SetFilePointer(h, 0, nullptr, FILE_BEGIN); }
    static DWORD attributes(const std::string& file) { return GetFileAttributesA(file.c_str()); }
};

struct Object {
    FileServicesHandle h;
    bool open(const std::string& file, DWORD flags) {
        h = services().CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags,
                                   FileServicesHandle());
        return static_cast<void*>(h) != INVALID_HANDLE_VALUE;
    }
    BOOL close() { return services().CloseHandle(h); }
    BOOL read(void* buffer, DWORD size, DWORD* got) { return services().ReadFile(h, buffer, size, got, nullptr); }
    BOOL write(const void* buffer, DWORD size, DWORD* done) {
        return services().WriteFile(h, buffer, size, done, nullptr);
    }
    DWORD rewind() { return services().SetFilePointer(h, 0, nullptr, FILE_BEGIN); }
    static DWORD attributes(const std::string& file) { return services().GetFileAttributesA(file.c_str()); }
};

template <class Api>
void BM_GetFileAttributes(benchmark::State& state) {
    const std::string file = benchFile(state.thread_index());
    services();
    for (auto _ : state) benchmark::DoNotOptimize(Api::attributes(file));
}

template <class Api>
void BM_OpenClose(benchmark::State& state) {
    const std::string file = benchFile(state.thread_index());
    services();
    Api api;
    for (auto _ : state) {
        if (!api.open(file, FILE_ATTRIBUTE_NORMAL)) state.SkipWithError("open failed");
        api.close();
    }
}

// range(0): bytes per call; range(1): 1 = write-through.
template <class Api, bool write>
void BM_Transfer(benchmark::State& state) {
    const std::string file = benchFile(state.thread_index());
    services();
    const DWORD size = static_cast<DWORD>(state.range(0));
    const DWORD flags = state.range(1) ? FILE_FLAG_WRITE_THROUGH : FILE_ATTRIBUTE_NORMAL;
    std::vector<char> buffer(size, 'y');
    Api api;
    if (!api.open(file, flags)) state.SkipWithError("open failed");
    DWORD offset = 0;
    for (auto _ : state) {
        if (offset + size > fileSize) {
            api.rewind();
            offset = 0;
        }
        DWORD done = 0;
        const BOOL ok = write ? api.write(buffer.data(), size, &done) : api.read(buffer.data(), size, &done);
        if (!ok || done != size) state.SkipWithError("transfer failed");
        offset += size;
    }
    api.close();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void transfers(benchmark::internal::Benchmark* b) {
    for (int writeThrough : {0, 1}) {
        for (int size : {4096, 65536}) b->Args({size, writeThrough});
    }
    b->Threads(1)->Threads(2)->UseRealTime();
}

// The library's own share, with platform calls that do no I/O: what the object adds to each call.
DWORD WINAPI attributesOfNothing(LPCSTR) { return FILE_ATTRIBUTE_ARCHIVE; }
HANDLE WINAPI openNothing(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    return reinterpret_cast<HANDLE>(0x1234);
}
BOOL WINAPI closeNothing(HANDLE) { return TRUE; }
BOOL WINAPI readNothing(HANDLE, LPVOID, DWORD size, LPDWORD done, LPOVERLAPPED) {
    *done = size;
    return TRUE;
}
BOOL WINAPI writeNothing(HANDLE, LPCVOID, DWORD size, LPDWORD done, LPOVERLAPPED) {
    *done = size;
    return TRUE;
}
DWORD WINAPI seekNothing(HANDLE, LONG distance, PLONG, DWORD) { return static_cast<DWORD>(distance); }

struct StandIn {
    StandIn() {
        services();
        GridApi::setSystemCall("GetFileAttributesA", reinterpret_cast<void*>(&attributesOfNothing));
        GridApi::setSystemCall("CreateFileA", reinterpret_cast<void*>(&openNothing));
        GridApi::setSystemCall("CloseHandle", reinterpret_cast<void*>(&closeNothing));
        GridApi::setSystemCall("ReadFile", reinterpret_cast<void*>(&readNothing));
        GridApi::setSystemCall("WriteFile", reinterpret_cast<void*>(&writeNothing));
        GridApi::setSystemCall("SetFilePointer", reinterpret_cast<void*>(&seekNothing));
    }
    ~StandIn() { GridApi::restoreSystemCalls(); }
};

// range(0): 0 bare stand-in calls, 1 through the object.
void BM_StandIn_GetFileAttributes(benchmark::State& state) {
    StandIn standIn;
    const std::string file = benchFile(0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(state.range(0) ? services().GetFileAttributesA(file.c_str())
                                                : attributesOfNothing(file.c_str()));
    }
}

void BM_StandIn_OpenClose(benchmark::State& state) {
    StandIn standIn;
    const std::string file = benchFile(0);
    for (auto _ : state) {
        if (state.range(0)) {
            FileServicesHandle h =
                services().CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
            benchmark::DoNotOptimize(services().CloseHandle(h));
        } else {
            HANDLE h = openNothing(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            benchmark::DoNotOptimize(closeNothing(h));
        }
    }
}

void BM_StandIn_Read4K(benchmark::State& state) {
    StandIn standIn;
    FileServicesHandle h =
        services().CreateFileA(benchFile(0).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
    std::vector<char> buffer(4096);
    DWORD done = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(state.range(0) ? services().ReadFile(h, buffer.data(), 4096, &done, nullptr)
                                                : readNothing(h, buffer.data(), 4096, &done, nullptr));
    }
}

void BM_StandIn_Write4K(benchmark::State& state) {
    StandIn standIn;
    FileServicesHandle h =
        services().CreateFileA(benchFile(0).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
    const std::vector<char> buffer(4096);
    DWORD done = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(state.range(0) ? services().WriteFile(h, buffer.data(), 4096, &done, nullptr)
                                                : writeNothing(h, buffer.data(), 4096, &done, nullptr));
    }
}

BENCHMARK(BM_StandIn_GetFileAttributes)->Arg(0)->Arg(1);
BENCHMARK(BM_StandIn_OpenClose)->Arg(0)->Arg(1);
BENCHMARK(BM_StandIn_Read4K)->Arg(0)->Arg(1);
BENCHMARK(BM_StandIn_Write4K)->Arg(0)->Arg(1);

BENCHMARK_TEMPLATE(BM_GetFileAttributes, Bare)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_GetFileAttributes, Object)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_OpenClose, Bare)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_OpenClose, Object)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Transfer, Bare, true)->Apply(transfers);
BENCHMARK_TEMPLATE(BM_Transfer, Object, true)->Apply(transfers);
BENCHMARK_TEMPLATE(BM_Transfer, Bare, false)->Apply(transfers);
BENCHMARK_TEMPLATE(BM_Transfer, Object, false)->Apply(transfers);

}  // namespace

BENCHMARK_MAIN();
