#include <string>

#include <gtest/gtest.h>

#include <GridApi/GridFileServices.h>
#include <StravoHost/Log.h>

#include "HostFixture.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

// Reads one text of the library's message catalogue the way the host does: from the loaded module.
std::string catalogueText(unsigned id) {
#ifdef _WIN32
    char buffer[256] = {};
    const int length = LoadStringA(GetModuleHandleA("GridApi.dll"), id, buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? length : 0);
#else
    void* module = dlopen("libGridApi.so.1", RTLD_NOLOAD | RTLD_LAZY);
    if (!module) return "";
    typedef const char* (*Lookup)(unsigned);
    Lookup lookup = reinterpret_cast<Lookup>(dlsym(module, "GridApiMessageText"));
    const char* text = lookup ? lookup(id) : nullptr;
    dlclose(module);
    return text ? text : "";
#endif
}

class CatalogueTest : public gridtest::HostTest {};

TEST_F(CatalogueTest, TextsAreReadBackFromTheLoadedLibrary) {
    // The library must be loaded: link a symbol from it.
    ASSERT_NE(nullptr, reinterpret_cast<void*>(&createFileServices));
    EXPECT_EQ("%s-I-0001 %s", catalogueText(4097));
    EXPECT_EQ("%s-W-0002 %s", catalogueText(4098));
    EXPECT_EQ("%s-E-0003 %s", catalogueText(4099));
    EXPECT_EQ("%s-T-1111 %s", catalogueText(16385));
    EXPECT_EQ("", catalogueText(4100));
}

TEST_F(CatalogueTest, HostFormatsLogLinesThroughTheCatalogue) {
    StravoStorageApi::nonRecursiveLogShow(1, 4097, "first");
    StravoStorageApi::nonRecursiveLogShow(1, 4098, "second");
    StravoStorageApi::nonRecursiveLogShow(1, 4099, "third");
    StravoStorageApi::nonRecursiveLogShow(1, 16385, "fourth");
    const std::vector<std::string> expected = {"GRIDAPI-I-0001 first", "GRIDAPI-W-0002 second", "GRIDAPI-E-0003 third",
                                               "GRIDAPI-T-1111 fourth"};
    EXPECT_EQ(expected, lines());
}

}  // namespace
