// What the retrying run costs on the success path: DeleteFileA through the file-services object
// against the bare platform call, on a real file and on a stand-in call that does no I/O.

#include <cstdlib>
#include <string>

#include <benchmark/benchmark.h>
#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <GridApi/SystemCalls.h>

namespace {

std::string benchFile() {
    const char* share = std::getenv("GRIDTEST_SHARE");
    return std::string(share && *share ? share : "\\\\gridtest\\share") + "\\grid-bench-delete.tmp";
}

void create(const std::string& file) {
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) std::abort();
    CloseHandle(h);
}

void BM_DeleteAndRecreate_Bare(benchmark::State& state) {
    const std::string file = benchFile();
    for (auto _ : state) {
        create(file);
        benchmark::DoNotOptimize(DeleteFileA(file.c_str()));
    }
}
BENCHMARK(BM_DeleteAndRecreate_Bare);

void BM_DeleteAndRecreate_Object(benchmark::State& state) {
    const std::string file = benchFile();
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());
    for (auto _ : state) {
        create(file);
        benchmark::DoNotOptimize(services->DeleteFileA(file.c_str()));
    }
}
BENCHMARK(BM_DeleteAndRecreate_Object);

BOOL WINAPI deleteNothing(LPCSTR fileName) {
    benchmark::DoNotOptimize(fileName);
    return TRUE;
}

// The library's own share of the cost, with a platform call that does no I/O.
void BM_Delete_StandInCall_Bare(benchmark::State& state) {
    const std::string file = benchFile();
    for (auto _ : state) benchmark::DoNotOptimize(deleteNothing(file.c_str()));
}
BENCHMARK(BM_Delete_StandInCall_Bare);

void BM_Delete_StandInCall_Object(benchmark::State& state) {
    const std::string file = benchFile();
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());
    GridApi::setSystemCall("DeleteFileA", reinterpret_cast<void*>(&deleteNothing));
    for (auto _ : state) benchmark::DoNotOptimize(services->DeleteFileA(file.c_str()));
    GridApi::restoreSystemCalls();
}
BENCHMARK(BM_Delete_StandInCall_Object);

}  // namespace

BENCHMARK_MAIN();
