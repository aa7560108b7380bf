// The shipped DLLs as Windows and Event Viewer read them: the version resource, the message table
// that gives the event source's events their text, the string table of the log catalogue, and the
// exports (the factory, and none of the statically linked libraries' symbols).

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

struct VersionRow {
    const char* dll;
};

class VersionResource : public testing::TestWithParam<VersionRow> {};

TEST_P(VersionResource, CarriesTheProjectVersion) {
    const char* dll = GetParam().dll;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(dll, &ignored);
    ASSERT_GT(size, 0u) << dll << ": no version resource, error " << GetLastError();
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(dll, 0, size, &block[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(GRID_VERSION_MINOR, GRID_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, GRID_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    for (const char* name : {"FileVersion", "ProductVersion"}) {
        char* text = nullptr;
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)) << name;
        EXPECT_STREQ(text, GRID_VERSION) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Dlls, VersionResource,
                         testing::Values(VersionRow{"GridApi.dll"}, VersionRow{"StravoHost.dll"}),
                         [](const testing::TestParamInfo<VersionRow>& info) {
                             const std::string dll = info.param.dll;
                             return dll.substr(0, dll.find('.'));
                         });

struct MessageRow {
    DWORD id;
    const char* inserts[2];
    const char* text;  // as FormatMessage gives it
};

class MessageTable : public testing::TestWithParam<MessageRow> {};

TEST_P(MessageTable, GivesTheEventText) {
    const MessageRow& row = GetParam();
    HMODULE module = LoadLibraryExA("GridApi.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, row.id, 0x409, text,
                       sizeof text, reinterpret_cast<va_list*>(const_cast<char**>(row.inserts)));
    FreeLibrary(module);
    ASSERT_GT(length, 0u) << "no message " << row.id << ", error " << GetLastError();
    EXPECT_STREQ(text, row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Events, MessageTable,
    testing::Values(MessageRow{0, {"Could not Create File on UNC", nullptr}, "Could not Create File on UNC\r\n"},
                    MessageRow{4099, {"GRIDAPI", "record"}, "GRIDAPI-E-0003 record\r\n"},
                    MessageRow{16385, {"GRIDAPI", "trace"}, "GRIDAPI-T-1111 trace\r\n"}),
    [](const testing::TestParamInfo<MessageRow>& info) { return "Id" + std::to_string(info.param.id); });

// The log catalogue stays a string table beside the message table.
TEST(StringTable, HoldsTheLogCatalogue) {
    HMODULE module = LoadLibraryA("GridApi.dll");
    ASSERT_NE(module, nullptr);
    char text[64] = {};
    ASSERT_GT(LoadStringA(module, 4097, text, sizeof text), 0);
    EXPECT_STREQ(text, "%s-I-0001 %s");
}

// The export table of a loaded DLL, read from its PE headers.
std::vector<std::string> exportedNames(HMODULE module) {
    const BYTE* base = reinterpret_cast<const BYTE*>(module);
    const IMAGE_NT_HEADERS* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const DWORD* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) result.push_back(reinterpret_cast<const char*>(base + names[i]));
    return result;
}

TEST(Exports, FactoryAndNoStaticLibraries) {
    HMODULE module = LoadLibraryA("GridApi.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "createFileServices"), nullptr);
    const std::vector<std::string> names = exportedNames(module);
    EXPECT_GT(names.size(), 1u);
    // Boost's and the C++ runtime's own definitions stay inside the DLL.
    for (const std::string& name : names) {
        for (const char* foreign : {"_ZN5boost", "_ZNK5boost", "_ZNSt", "_ZNKSt", "_ZSt"}) {
            EXPECT_NE(name.rfind(foreign, 0), 0u) << name;
        }
    }
}

}  // namespace
