#include <GridApi/RetryRules.h>

namespace {

const std::uint32_t unbounded = 0xFFFFFFFFu;

struct RuleSettings {
    std::uint32_t defaultRetries;
    std::uint32_t defaultWaitSeconds;
    std::uint32_t maxRetries;
    std::uint32_t maxWaitSeconds;
    const char* retriesKey;
    const char* waitSecondsKey;
    const char* description;
};

// Sets a rule's bounds and defaults, then its keys and description, and loads its settings.
void configure(StravoStorageApi::FileOperationRetry& rule, const RuleSettings& settings) {
    rule.maxRetries = settings.maxRetries;
    rule.defaultRetries = settings.defaultRetries;
    rule.maxWaitSeconds = settings.maxWaitSeconds;
    rule.minWaitSeconds = 0;
    rule.defaultWaitSeconds = settings.defaultWaitSeconds;
    rule.retriesKey = settings.retriesKey;
    rule.waitSecondsKey = settings.waitSecondsKey;
    rule.description = settings.description;
    rule.loadSettings();
}

}  // namespace

#define GRIDAPI_DEFINE_RETRY_RULE(Namespace, Name, ...)                                           \
    Namespace::Name::Name(const std::string& operationName) : FileOperationRetry(operationName) { \
        configure(*this, RuleSettings{__VA_ARGS__});                                              \
    }

// Rule, default count, default wait (s), max count, max wait (s), count key, wait key, description.
GRIDAPI_DEFINE_RETRY_RULE(StravoStorageApi, FileSharingViolationRetry, 16, 5, unbounded, unbounded,
                          "NumRetriesOnSharingViolation", "SharingViolationWaitSeconds", "Sharing Violation")
GRIDAPI_DEFINE_RETRY_RULE(StravoStorageApi, FileAccessDeniedRetry, 5, 10, 5, 20, "NumRetriesOnAccessDenied",
                          "AccessDeniedWaitSeconds", "Access Denied")
GRIDAPI_DEFINE_RETRY_RULE(StravoStorageApi, FileAlreadyExistsRetry, 3, 3, 100, 60, "NumRetriesOnFileAlreadyExists",
                          "FileAlreadyExistsWaitSeconds", "File Already Exists")
GRIDAPI_DEFINE_RETRY_RULE(StravoStorageApi, DirectoryNotEmptyRetry, 3, 3, 100, 60, "NumRetriesOnDirectoryNotEmpty",
                          "DirectoryNotEmptyWaitSeconds", "Directory Not Empty")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileSemTimeoutRetry, 2, 1, unbounded, unbounded, "NumRetriesOnSemTimeout",
                          "SemTimeoutWaitSeconds", "Semaphore Timeout")
GRIDAPI_DEFINE_RETRY_RULE(StravoStorageApi, FileBadNetPathRetry, 16, 5, unbounded, unbounded, "NumRetriesOnBadNetPath",
                          "BadNetPathWaitSeconds", "The network path was not found")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileNetNameDelRetry, 16, 5, unbounded, unbounded, "NumRetriesNetNameDel",
                          "NetNameDelWaitSeconds", "The specified network name is no longer available")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FilePathNotFoundRetry, 16, 5, unbounded, unbounded, "NumRetriesOnPathNotFound",
                          "PathNotFoundWaitSeconds", "The system cannot find the path specified")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileFileNotFoundRetry, 16, 5, unbounded, unbounded, "NumRetriesOnFileNotFound",
                          "FileNotFoundWaitSeconds", "The system cannot find the file specified")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileUnexpectedNetErrorRetry, 10, 10, unbounded, unbounded,
                          "NumRetriesOnUnexpectedNetError", "UnexpectedNetErrorWaitSeconds",
                          "An unexpected network error occurred")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileInvalidNameRetry, 16, 5, unbounded, unbounded, "NumRetriesOnInvalidName",
                          "InvalidNameWaitSeconds", "The filename, directory name, or volume label syntax is incorrect")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileRemNotListRetry, 16, 5, unbounded, unbounded, "NumRetriesOnRemNotList",
                          "RemNotListWaitSeconds",
                          "Windows cannot find the network path. Verify that the network path is correct and the "
                          "destination computer is not busy or turned off. If Windows still cannot find the network "
                          "path, contact your network administrator.")
GRIDAPI_DEFINE_RETRY_RULE(GridApi, FileInvalidHandleRetry, 16, 5, unbounded, unbounded, "NumRetriesOnInvalidHandle",
                          "InvalidHandleWaitSeconds", "The handle is invalid")
GRIDAPI_DEFINE_RETRY_RULE(StravoStorageApi, FileBadNetNameRetry, 16, 5, unbounded, unbounded, "NumRetriesOnBadNetName",
                          "BadNetNameWaitSeconds", "The network name cannot be found")
