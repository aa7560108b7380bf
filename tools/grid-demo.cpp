// The smallest real demonstration of the plug-in: load it as a server would (dlopen / LoadLibrary),
// take the file-services object from its factory into a boost::shared_ptr, and run the operations
// that exist on a UNC path.
//
//   grid-demo [\\server\share]      (default \\gridtest\share)

#include <cstdio>
#include <string>

#include <boost/shared_ptr.hpp>

#include <platform/win32.h>
#include <StravoHost/FileServicesIf.h>

#ifdef _WIN32
const char* const pluginName = "GridApi.dll";
#else
#include <dlfcn.h>
const char* const pluginName = "libGridApi.so";
#endif

typedef StravoStorageApi::FileServicesIf* (*Factory)();

static Factory loadFactory() {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(pluginName);
    if (!module) return nullptr;
    return reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(module, "createFileServices")));
#else
    void* module = dlopen(pluginName, RTLD_NOW);
    if (!module) {
        std::fprintf(stderr, "%s\n", dlerror());
        return nullptr;
    }
    return reinterpret_cast<Factory>(dlsym(module, "createFileServices"));
#endif
}

namespace {

unsigned long lastError() { return static_cast<unsigned long>(GetLastError()); }

// Writes a file through the object and reads it back.
bool fileRound(StravoStorageApi::FileServicesIf& services, const std::string& file) {
    const std::string text = "written and read back through the plug-in\n";
    FileServicesHandle h = services.CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                FILE_ATTRIBUTE_NORMAL, FileServicesHandle());
    if (static_cast<void*>(h) == INVALID_HANDLE_VALUE) {
        std::printf("CreateFileA(%s) failed, last error %lu\n", file.c_str(), lastError());
        return false;
    }
    DWORD written = 0;
    const BOOL wrote = services.WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    std::printf("CreateFileA + WriteFile(%s) = %d, %lu bytes, kept position %ld, write-through %s\n", file.c_str(),
                wrote, static_cast<unsigned long>(written),
                static_cast<long>(h.getHandleRecreationInfo().currFilePointerLow),
                (h.getHandleRecreationInfo().flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) ? "on" : "off");
    services.SetFilePointer(h, 0, nullptr, FILE_BEGIN);
    char buffer[128] = {};
    DWORD got = 0;
    const BOOL read = services.ReadFile(h, buffer, sizeof buffer - 1, &got, nullptr);
    std::printf("ReadFile = %d, %lu bytes: %s", read, static_cast<unsigned long>(got), buffer);
    std::printf("CloseHandle = %d\n", services.CloseHandle(h));
    return wrote && read && text == buffer;
}

// Copies a file into a small tree, moves it, and removes the tree with everything in it.
bool treeRound(StravoStorageApi::FileServicesIf& services, const std::string& share, const std::string& file) {
    const std::string tree = share + "\\grid-demo-tree";
    const std::string copy = tree + "\\copy.txt";
    const std::string moved = tree + "\\sub\\moved.txt";
    bool ok = services.CreateDirectoryA(tree.c_str(), nullptr) &&
              services.CreateDirectoryA((tree + "\\sub").c_str(), nullptr);
    std::printf("CreateDirectoryA(%s and \\sub) = %d\n", tree.c_str(), ok);
    ok = services.CopyFileA(file.c_str(), copy.c_str(), TRUE) && ok;
    std::printf("CopyFileA(-> %s) = %d\n", copy.c_str(), ok);
    ok = services.MoveFileA(copy.c_str(), moved.c_str(), 0) && ok;
    std::printf("MoveFileA(-> %s) = %d, PathFileExistsA = %d\n", moved.c_str(), ok,
                services.PathFileExistsA(moved.c_str()));
    ok = services.RemoveDirectoryA(tree.c_str(), 1) && ok;
    const BOOL stillThere = services.PathFileExistsA(tree.c_str());
    std::printf("RemoveDirectoryA(%s, recursive) = %d, PathFileExistsA = %d (last error %lu)\n", tree.c_str(), ok,
                stillThere, lastError());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // The library's log lines go to stderr; keep this program's own lines in step with them.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string share = argc > 1 ? argv[1] : "\\\\gridtest\\share";
    Factory factory = loadFactory();
    if (!factory) {
        std::fprintf(stderr, "could not load %s\n", pluginName);
        return 1;
    }
    boost::shared_ptr<StravoStorageApi::FileServicesIf> services(factory());
    std::printf("loaded %s: getType() = %d\n", pluginName, services->getType());

    const std::string file = share + "\\grid-demo.txt";
    if (!fileRound(*services, file) || !treeRound(*services, share, file)) return 1;

    BOOL ok = services->DeleteFileA(file.c_str());
    std::printf("DeleteFileA(%s) = %d\n", file.c_str(), ok);

    // The file is gone now: the library's retry rule for "file not found" would wait it out. This
    // server's waiting function declines to wait, so the library gives up at once and reports.
    services->setRetryWaiter([](const StravoStorageApi::RetryStep&) {
        std::printf("server's waiting function: declining to wait\n");
        return false;
    });
    ok = services->DeleteFileA(file.c_str());
    std::printf("DeleteFileA(%s) again = %d, last error %lu\n", file.c_str(), ok,
                static_cast<unsigned long>(GetLastError()));
    return 0;
}
