#include <GridApi/UncFileOperationRetryHandler.h>

#include <GridApi/RetryRules.h>

#include <initializer_list>

namespace GridApi {

namespace {

template <class Rule>
void registerRule(StravoStorageApi::FileOperationRetryHandler::Rules& rules, std::uint32_t errorCode,
                  const std::string& operationName) {
    rules[errorCode] = boost::shared_ptr<StravoStorageApi::FileOperationRetry>(new Rule(operationName));
}

void removeRules(StravoStorageApi::FileOperationRetryHandler::Rules& rules,
                 std::initializer_list<std::uint32_t> errorCodes) {
    for (std::uint32_t code : errorCodes) rules.erase(code);
}

}  // namespace

UncFileOperationRetryHandler::UncFileOperationRetryHandler(const std::string& name) {
    operationName = name;
    setup();
}

UncFileOperationRetryHandler::UncFileOperationRetryHandler(const UncFileOperationRetryHandler& other) = default;

UncFileOperationRetryHandler& UncFileOperationRetryHandler::operator=(const UncFileOperationRetryHandler& other) {
    if (this != &other) {
        rules.clear();
        rules.insert(other.rules.begin(), other.rules.end());
        operationName = other.operationName;
    }
    return *this;
}

UncFileOperationRetryHandler::~UncFileOperationRetryHandler() = default;

void UncFileOperationRetryHandler::setup() {
    // Registration order is the order in which the settings are read and bounding is logged.
#define GRIDAPI_REGISTER_RETRY_RULE(Namespace, Name, code, ...) \
    registerRule<Namespace::Name>(rules, code, operationName);
    GRIDAPI_RETRY_RULES(GRIDAPI_REGISTER_RETRY_RULE)
#undef GRIDAPI_REGISTER_RETRY_RULE
}

PathFileExistsRetryHandler::PathFileExistsRetryHandler() : UncFileOperationRetryHandler("PathFileExists") {
    removeRules(rules, {ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND});
}

PathFileExistsRetryHandler::~PathFileExistsRetryHandler() = default;

PathIsDirectoryRetryHandler::PathIsDirectoryRetryHandler() : UncFileOperationRetryHandler("PathIsDirectory") {
    // Built twice: the second set of rules (and of settings reads) replaces the first.
    setup();
    removeRules(rules, {ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND, ERROR_ALREADY_EXISTS});
}

PathIsDirectoryRetryHandler::~PathIsDirectoryRetryHandler() = default;

PathIsDirectoryEmptyRetryHandler::PathIsDirectoryEmptyRetryHandler()
    : UncFileOperationRetryHandler("PathIsDirectoryEmpty") {
    removeRules(rules, {ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND, ERROR_ALREADY_EXISTS, ERROR_INVALID_NAME});
}

PathIsDirectoryEmptyRetryHandler::~PathIsDirectoryEmptyRetryHandler() = default;

}  // namespace GridApi
