#include <GridApi/FileOperationRetryHandler.h>

#include <boost/bind/bind.hpp>
#include <boost/ref.hpp>

namespace StravoStorageApi {

FileOperationRetryHandler::FileOperationRetryHandler() = default;

FileOperationRetryHandler::FileOperationRetryHandler(const FileOperationRetryHandler& other) = default;

FileOperationRetryHandler::~FileOperationRetryHandler() = default;

bool FileOperationRetryHandler::shouldRetry(std::uint32_t errorCode, RetryHandlerContext& context) const {
    const Rules::const_iterator found = rules.find(errorCode);
    if (found == rules.end()) return false;
    if (context.retryWaiter.empty()) return found->second->waitForRetry(context);
    // The step holds its own reference to the rule, so the rule lives while the waiter has the step.
    const RetryStep step = boost::bind(&FileOperationRetry::waitForRetry, found->second, boost::ref(context));
    RetryWaiter waiter = context.retryWaiter;
    return waiter(step);
}

}  // namespace StravoStorageApi
