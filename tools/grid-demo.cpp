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

    // A file to work on, made with the bare platform call.
    const std::string file = share + "\\grid-demo.txt";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot create %s: error %lu\n", file.c_str(), static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    CloseHandle(h);

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
