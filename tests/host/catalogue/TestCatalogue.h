#pragma once

// A message catalogue module for the host's tests, standing in for the plug-in's catalogue.

#if defined(_WIN32)
#if defined(HOSTTESTCATALOGUE_BUILD)
#define HOSTTESTCATALOGUE_API __declspec(dllexport)
#else
#define HOSTTESTCATALOGUE_API __declspec(dllimport)
#endif
#else
#define HOSTTESTCATALOGUE_API __attribute__((visibility("default")))
#endif

// Catalogue ids beyond the plug-in's four.
enum TestCatalogueId {
    kPercentEntryId = 4200,      // "%s-I-0100 100%% of %s"
    kReentrantEntryId = 4201,    // its lookup logs a line itself (Linux; a plain entry on Windows)
    kLoggedFromLookupId = 4202,  // the id that nested line uses; not in the catalogue
};

// The module name under which the host finds this catalogue.
extern "C" HOSTTESTCATALOGUE_API const char* HostTestCatalogueModule();

// The catalogue lookup the host calls on Linux (on Windows it reads the string table).
extern "C" HOSTTESTCATALOGUE_API const char* GridApiMessageText(unsigned id);
