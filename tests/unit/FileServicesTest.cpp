#include <boost/shared_ptr.hpp>
#include <gtest/gtest.h>

#include <GridApi/GridFileServices.h>

#include "HostFixture.h"

namespace {

using StravoStorageApi::FileServicesIf;

class FileServicesTest : public gridtest::HostTest {};

TEST_F(FileServicesTest, FactoryHandsOutTheLibrarysObjectOfType2) {
    boost::shared_ptr<FileServicesIf> services(createFileServices());
    ASSERT_TRUE(services);
    EXPECT_NE(nullptr, dynamic_cast<GridApi::GridFileServices*>(services.get()));
    EXPECT_EQ(2, services->getType());
}

}  // namespace
