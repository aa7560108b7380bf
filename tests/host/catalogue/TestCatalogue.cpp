#include "TestCatalogue.h"

#include <StravoHost/Log.h>

extern "C" const char* HostTestCatalogueModule() {
#if defined(_WIN32)
    return "HostTestCatalogue.dll";
#else
    return "libHostTestCatalogue.so";
#endif
}

extern "C" const char* GridApiMessageText(unsigned id) {
    switch (id) {
        case 4097:
            return "%s-I-0001 %s";
        case 4098:
            return "%s-W-0002 %s";
        case 4099:
            return "%s-E-0003 %s";
        case 16385:
            return "%s-T-1111 %s";
        case kPercentEntryId:
            return "%s-I-0100 100%% of %s";
        case kReentrantEntryId:
            StravoStorageApi::nonRecursiveLogShow(0, kLoggedFromLookupId, "from inside the lookup");
            return "%s-I-0101 %s";
        default:
            return nullptr;
    }
}
