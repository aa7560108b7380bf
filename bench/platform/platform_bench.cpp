// Each hot Win32 call of libGridPlatform next to the POSIX call it stands for, on the same files.
// The files live on a UNC share mapped under a temporary GRIDAPI_UNC_ROOT.
#include <platform/win32.h>

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string g_root;  // the POSIX directory of the share
const std::string kShare = "\\\\bench\\share";
constexpr long kFileSize = 1 << 20;
constexpr int kEntries = 1000;

std::string posix(const std::string& name) { return g_root + "/" + name; }
std::string unc(std::string name) {
    for (char& c : name) c = c == '/' ? '\\' : c;
    return kShare + "\\" + name;
}

void setUp() {
    char tmpl[] = "/tmp/grid-bench-XXXXXX";
    const char* base = mkdtemp(tmpl);
    if (!base) std::abort();
    setenv("GRIDAPI_UNC_ROOT", base, 1);
    g_root = std::string(base) + "/bench/share";
    if (mkdir((std::string(base) + "/bench").c_str(), 0777) || mkdir(g_root.c_str(), 0777)) std::abort();
    const std::vector<char> data(kFileSize, 'x');
    int fd = open(posix("data.bin").c_str(), O_CREAT | O_WRONLY, 0666);
    if (fd < 0 || write(fd, data.data(), data.size()) != kFileSize) std::abort();
    close(fd);
    // The same file two directories down: a name whose way crosses directories that might be links.
    if (mkdir(posix("deep").c_str(), 0777) || mkdir(posix("deep/er").c_str(), 0777)) std::abort();
    if (link(posix("data.bin").c_str(), posix("deep/er/data.bin").c_str())) std::abort();
    mkdir(posix("many").c_str(), 0777);
    for (int i = 0; i < kEntries; ++i) {
        fd = open(posix("many/entry-" + std::to_string(i) + ".dat").c_str(), O_CREAT | O_WRONLY, 0666);
        close(fd);
    }
}

void tearDown() {
    std::string cmd = "rm -rf '" + g_root.substr(0, g_root.size() - std::string("/bench/share").size()) + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_root.c_str());
}

// `name` below the share, with '/' between directories.
void BM_OpenClose_Posix(benchmark::State& state, const char* name) {
    const std::string p = posix(name);
    for (auto _ : state) {
        const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
        benchmark::DoNotOptimize(fd);
        close(fd);
    }
}
BENCHMARK_CAPTURE(BM_OpenClose_Posix, share, "data.bin");
BENCHMARK_CAPTURE(BM_OpenClose_Posix, down, "deep/er/data.bin");

void BM_OpenClose_Win32(benchmark::State& state, const char* name) {
    const std::string p = unc(name);
    for (auto _ : state) {
        HANDLE h = CreateFileA(p.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        benchmark::DoNotOptimize(h);
        CloseHandle(h);
    }
}
BENCHMARK_CAPTURE(BM_OpenClose_Win32, share, "data.bin");
BENCHMARK_CAPTURE(BM_OpenClose_Win32, down, "deep/er/data.bin");

// Sequential reads over a 1 MiB file, starting over at its end.
void BM_Read_Posix(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    std::vector<char> buf(size);
    const int fd = open(posix("data.bin").c_str(), O_RDONLY | O_CLOEXEC);
    for (auto _ : state) {
        if (read(fd, buf.data(), size) <= 0) lseek(fd, 0, SEEK_SET);
    }
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Read_Posix)->Arg(4096)->Arg(65536);

void BM_Read_Win32(benchmark::State& state) {
    const auto size = static_cast<DWORD>(state.range(0));
    std::vector<char> buf(size);
    HANDLE h = CreateFileA(unc("data.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD n = 0;
    for (auto _ : state) {
        if (!ReadFile(h, buf.data(), size, &n, nullptr) || n == 0) SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    }
    CloseHandle(h);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Read_Win32)->Arg(4096)->Arg(65536);

void BM_Write_Posix(benchmark::State& state) {
    const auto size = static_cast<size_t>(state.range(0));
    const std::vector<char> buf(size, 'w');
    const int fd = open(posix("write.bin").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    off_t pos = 0;
    for (auto _ : state) {
        if (pos >= kFileSize) pos = lseek(fd, 0, SEEK_SET);
        pos += write(fd, buf.data(), size);
    }
    close(fd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Write_Posix)->Arg(4096)->Arg(65536);

void BM_Write_Win32(benchmark::State& state) {
    const auto size = static_cast<DWORD>(state.range(0));
    const std::vector<char> buf(size, 'w');
    HANDLE h = CreateFileA(unc("write.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    long pos = 0;
    DWORD n = 0;
    for (auto _ : state) {
        if (pos >= kFileSize) pos = SetFilePointer(h, 0, nullptr, FILE_BEGIN);
        WriteFile(h, buf.data(), size, &n, nullptr);
        pos += n;
    }
    CloseHandle(h);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Write_Win32)->Arg(4096)->Arg(65536);

void BM_Attributes_Posix(benchmark::State& state, const char* name) {
    const std::string p = posix(name);
    struct stat st;
    for (auto _ : state) benchmark::DoNotOptimize(stat(p.c_str(), &st));
}
BENCHMARK_CAPTURE(BM_Attributes_Posix, share, "data.bin");
BENCHMARK_CAPTURE(BM_Attributes_Posix, down, "deep/er/data.bin");

void BM_Attributes_Win32(benchmark::State& state, const char* name) {
    const std::string p = unc(name);
    for (auto _ : state) benchmark::DoNotOptimize(GetFileAttributesA(p.c_str()));
}
BENCHMARK_CAPTURE(BM_Attributes_Win32, share, "data.bin");
BENCHMARK_CAPTURE(BM_Attributes_Win32, down, "deep/er/data.bin");

// A new file: created, closed and removed again (the name is missing each time).
void BM_NewFile_Posix(benchmark::State& state) {
    const std::string p = posix("new.bin");
    for (auto _ : state) {
        const int fd = open(p.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        benchmark::DoNotOptimize(fd);
        close(fd);
        unlink(p.c_str());
    }
}
BENCHMARK(BM_NewFile_Posix);

void BM_NewFile_Win32(benchmark::State& state) {
    const std::string p = unc("new.bin");
    for (auto _ : state) {
        HANDLE h = CreateFileA(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        benchmark::DoNotOptimize(h);
        CloseHandle(h);
        DeleteFileA(p.c_str());
    }
}
BENCHMARK(BM_NewFile_Win32);

// Filling one directory: N files of 1 KiB made one after another (created, written, closed), as a
// server writing a batch does; the directory is emptied outside the timing. With case-insensitive
// lookups on a case-sensitive file system every new name is first looked for under another case.
const std::string kKiB(1024, 'k');

void emptyBatch(const std::string& dir, int files) {
    for (int i = 0; i < files; ++i) unlink((dir + "/f" + std::to_string(i) + ".dat").c_str());
}

void BM_FillDirectory_Posix(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string dir = posix("batch-posix");
    mkdir(dir.c_str(), 0777);
    for (auto _ : state) {
        for (int i = 0; i < files; ++i) {
            const int fd =
                open((dir + "/f" + std::to_string(i) + ".dat").c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
            if (fd < 0 || write(fd, kKiB.data(), kKiB.size()) != static_cast<ssize_t>(kKiB.size())) std::abort();
            close(fd);
        }
        state.PauseTiming();
        emptyBatch(dir, files);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_FillDirectory_Posix)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_FillDirectory_Win32(benchmark::State& state) {
    const int files = static_cast<int>(state.range(0));
    const std::string dir = posix("batch-win32");
    mkdir(dir.c_str(), 0777);
    for (auto _ : state) {
        for (int i = 0; i < files; ++i) {
            HANDLE h = CreateFileA(unc("batch-win32\\f" + std::to_string(i) + ".dat").c_str(), GENERIC_WRITE, 0,
                                   nullptr, CREATE_NEW, 0, nullptr);
            DWORD written = 0;
            if (h == INVALID_HANDLE_VALUE ||
                !WriteFile(h, kKiB.data(), static_cast<DWORD>(kKiB.size()), &written, nullptr)) {
                std::abort();
            }
            CloseHandle(h);
        }
        state.PauseTiming();
        emptyBatch(dir, files);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * files);
}
BENCHMARK(BM_FillDirectory_Win32)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// A temporary name in a folder that holds every name of the prefix under another case (TMP1.TMP ...
// TMPFFFF.TMP): the whole answer, 80 because every number is taken.
void BM_TempNameFullFolder(benchmark::State& state) {
    const std::string dir = posix("temp-full");
    if (mkdir(dir.c_str(), 0777) == 0) {
        for (unsigned n = 1; n <= 0xFFFF; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/TMP%X.TMP", n);
            close(open((dir + name).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
        }
    }
    const std::string folder = unc("temp-full");
    char made[MAX_PATH];
    for (auto _ : state) {
        if (GetTempFileNameA(folder.c_str(), "tmp", 0, made) != 0 || GetLastError() != ERROR_FILE_EXISTS) {
            state.SkipWithError("every number is taken: 80 expected");
        }
    }
}
BENCHMARK(BM_TempNameFullFolder)->Unit(benchmark::kMillisecond);

// Searches the directory `folder`, which holds the one file `name`, for `pattern`, which must not
// match it.
void searchNoMatch(benchmark::State& state, const char* folder, const std::string& name, const std::string& pattern) {
    WIN32_FIND_DATAA fd;
    const std::string dir = posix(folder);
    mkdir(dir.c_str(), 0777);
    close(open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY, 0666));
    const std::string search = unc(std::string(folder) + "\\" + pattern);
    for (auto _ : state) {
        HANDLE h = FindFirstFileA(search.c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) state.SkipWithError("the pattern must not match");
        if (GetLastError() != ERROR_FILE_NOT_FOUND) state.SkipWithError("the search must end in 2");
    }
}

// The matcher's worst case: a 200-character name against "*a*a...*a*b" with 32 stars, which never
// matches, searched in a directory that holds that one name. Backtracking made this take minutes.
void BM_MatchWorstCase(benchmark::State& state) {
    std::string pattern;
    for (int i = 0; i < 31; ++i) pattern += "*a";
    pattern += "*b";
    searchNoMatch(state, "match", std::string(200, 'a'), pattern);
}
BENCHMARK(BM_MatchWorstCase);

// The same with the DOS wildcards: a 200-character name of "a." pairs against a pattern of 181
// characters, 45 times "<a>\"" and a final "b" (the full name stays under 260), so that the pattern's
// positions stay live on every character and it never matches. Under 1 ms for one FindFirstFileA.
void BM_MatchWorstCaseDos(benchmark::State& state) {
    std::string name;
    while (name.size() < 199) name += "a.";
    name.resize(199);
    name += 'a';
    std::string pattern;
    for (int i = 0; i < 45; ++i) pattern += "<a>\"";
    pattern += "b";
    searchNoMatch(state, "match-dos", name, pattern);
}
BENCHMARK(BM_MatchWorstCaseDos)->Unit(benchmark::kMicrosecond);

// Listing 1,000 entries with what WIN32_FIND_DATAA carries: readdir() and a stat of each.
void BM_List_Posix(benchmark::State& state) {
    const std::string p = posix("many");
    for (auto _ : state) {
        DIR* d = opendir(p.c_str());
        int count = 0;
        struct stat st;
        while (struct dirent* e = readdir(d)) count += fstatat(dirfd(d), e->d_name, &st, 0) == 0;
        closedir(d);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_List_Posix);

// The same listing without the stat: the floor under any listing that reports sizes and times.
void BM_List_PosixNamesOnly(benchmark::State& state) {
    const std::string p = posix("many");
    for (auto _ : state) {
        DIR* d = opendir(p.c_str());
        int count = 0;
        while (readdir(d)) ++count;
        closedir(d);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_List_PosixNamesOnly);

void BM_List_Win32(benchmark::State& state) {
    const std::string p = unc("many\\*");
    WIN32_FIND_DATAA fd;
    for (auto _ : state) {
        int count = 0;
        HANDLE h = FindFirstFileA(p.c_str(), &fd);
        do {
            ++count;
        } while (FindNextFileA(h, &fd));
        FindClose(h);
        benchmark::DoNotOptimize(count);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kEntries));
}
BENCHMARK(BM_List_Win32);

}  // namespace

int main(int argc, char** argv) {
    setUp();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tearDown();
    return 0;
}
