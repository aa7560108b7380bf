#include <atomic>
#include <chrono>
#include <thread>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/GridFileServices.h>

#include "HostFixture.h"

namespace {

using StravoStorageApi::FileServicesIf;
using StravoStorageApi::RetryStep;
using StravoStorageApi::RetryWaiter;

// Gives the test the interface's lock, which only the server's side of the interface may take.
class ExposedServices : public GridApi::GridFileServices {
  public:
    boost::recursive_mutex& waiterMutex() { return retryWaiterMutex; }
};

class FileServicesTest : public gridtest::HostTest {};

TEST_F(FileServicesTest, FactoryHandsOutASharedObjectOfType2) {
    boost::shared_ptr<FileServicesIf> services(createFileServices());
    ASSERT_TRUE(services);
    EXPECT_NE(nullptr, dynamic_cast<GridApi::GridFileServices*>(services.get()));
    EXPECT_EQ(2, services->getType());
    EXPECT_EQ(2, services->getType());
    // shared_from_this works once the object is held, and the object lives while any owner does.
    boost::shared_ptr<FileServicesIf> again = services->shared_from_this();
    EXPECT_EQ(services, again);
    boost::weak_ptr<FileServicesIf> watch = services;
    services.reset();
    EXPECT_FALSE(watch.expired());
    again.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(FileServicesTest, AnUnsharedObjectCannotHandOutSharedReferences) {
    FileServicesIf* services = createFileServices();
    EXPECT_THROW(services->shared_from_this(), boost::bad_weak_ptr);
    delete services;
}

TEST_F(FileServicesTest, WaitingFunctionIsHandedOutAsACopy) {
    boost::shared_ptr<FileServicesIf> services(createFileServices());
    EXPECT_TRUE(services->getRetryWaiter().empty());

    int firstCalls = 0;
    services->setRetryWaiter([&firstCalls](const RetryStep&) {
        ++firstCalls;
        return true;
    });
    RetryWaiter copy = services->getRetryWaiter();
    services->setRetryWaiter(RetryWaiter());
    ASSERT_FALSE(copy.empty());
    EXPECT_TRUE(copy(RetryStep()));
    EXPECT_EQ(1, firstCalls);
    EXPECT_TRUE(services->getRetryWaiter().empty());
}

TEST_F(FileServicesTest, WaitingFunctionIsCopiedUnderTheInterfaceLock) {
    boost::shared_ptr<ExposedServices> services = boost::make_shared<ExposedServices>();
    std::atomic<bool> copied(false);
    std::thread reader;
    {
        boost::unique_lock<boost::recursive_mutex> lock(services->waiterMutex());
        // The lock is recursive: the owner itself can still take a copy.
        EXPECT_TRUE(services->getRetryWaiter().empty());
        reader = std::thread([&] {
            services->getRetryWaiter();
            copied = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(copied) << "getRetryWaiter did not wait for the lock";
    }
    reader.join();
    EXPECT_TRUE(copied);
}

}  // namespace
