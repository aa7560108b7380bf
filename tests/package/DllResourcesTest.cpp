// The shipped DLL as Windows and Event Viewer read it: the version resource, and the message table
// that gives the event source's events their text (the registration that names the DLL is msi.cmake's).

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(VersionResource, CarriesTheProjectVersion) {
    const char* dll = "GridApi.dll";
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

// The library's system events all have the id 0; their one insert is the whole text.
TEST(MessageTable, GivesTheEventText) {
    HMODULE module = LoadLibraryExA("GridApi.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const char* inserts[] = {"Could not Create File on UNC", nullptr};
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, 0, 0x409,
                                        text, sizeof text, reinterpret_cast<va_list*>(const_cast<char**>(inserts)));
    FreeLibrary(module);
    ASSERT_GT(length, 0u) << "no message 0, error " << GetLastError();
    EXPECT_STREQ(text, "Could not Create File on UNC\r\n");
}

}  // namespace
