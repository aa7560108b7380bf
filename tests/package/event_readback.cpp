// An event reported through the GridApi.dll that this program loaded, read back as Event Viewer
// shows it: the registered message file of the event source, loaded as data, formats the event's id
// with its insert. Wine keeps no event log to read from, so the event is taken from the host's capture.
//   grid-event-readback <name that cannot be opened>
// Exit 0 when the text matches and the message file is the DLL that reported the event.
#include <windows.h>

#include <cstdio>
#include <string>

#include <boost/shared_ptr.hpp>

#include <GridApi/GridFileServices.h>
#include <StravoHost/HostControl.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: grid-event-readback <name that cannot be opened>\n");
        return 2;
    }
    StravoHostControl::setSleepFunction([](int) { return 0; });
    const boost::shared_ptr<StravoStorageApi::FileServicesIf> services(createFileServices());
    if (!services) return 1;
    const FileServicesHandle file =
        services->CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, FileServicesHandle());
    const DWORD error = GetLastError();
    const auto events = StravoHostControl::capturedSystemEvents();
    if (static_cast<HANDLE>(file) != INVALID_HANDLE_VALUE || events.empty()) {
        std::fprintf(stderr, "no event reported (error %lu)\n", error);
        return 1;
    }
    char loaded[MAX_PATH] = {};
    GetModuleFileNameA(GetModuleHandleA("GridApi.dll"), loaded, sizeof loaded);

    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + events.back().source;
    HKEY source = nullptr;
    char raw[MAX_PATH] = {};
    DWORD type = 0;
    DWORD size = sizeof raw - 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &source) != ERROR_SUCCESS ||
        RegQueryValueExA(source, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) !=
            ERROR_SUCCESS ||
        type != REG_EXPAND_SZ) {
        std::fprintf(stderr, "event source \"%s\" has no EventMessageFile of type REG_EXPAND_SZ\n",
                     events.back().source.c_str());
        return 1;
    }
    RegCloseKey(source);
    char messageFile[MAX_PATH] = {};
    ExpandEnvironmentStringsA(raw, messageFile, sizeof messageFile);

    const HMODULE module = LoadLibraryExA(messageFile, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    const char* inserts[] = {events.back().text.c_str(), nullptr};
    char text[1024] = {};
    const DWORD length =
        module ? FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0, 0, text,
                                sizeof text, reinterpret_cast<va_list*>(const_cast<char**>(inserts)))
               : 0;
    std::printf("reported by: %s\nmessage file: %s\nevent: %s", loaded, messageFile, text);
    const bool sameFile = lstrcmpiA(loaded, messageFile) == 0;
    const bool sameText = length > 0 && events.back().text + "\r\n" == text;
    if (!sameFile) std::fprintf(stderr, "the message file is not the DLL that reported the event\n");
    if (!sameText)
        std::fprintf(stderr, "the event reads back as \"%s\", reported as \"%s\"\n", text, events.back().text.c_str());
    return sameFile && sameText ? 0 : 1;
}
