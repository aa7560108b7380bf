#include <GridApi/RetryRules.h>

namespace {

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

#define GRIDAPI_DEFINE_RETRY_RULE(Namespace, Name, code, ...)                                     \
    Namespace::Name::Name(const std::string& operationName) : FileOperationRetry(operationName) { \
        configure(*this, RuleSettings{__VA_ARGS__});                                              \
    }
GRIDAPI_RETRY_RULES(GRIDAPI_DEFINE_RETRY_RULE)
#undef GRIDAPI_DEFINE_RETRY_RULE
