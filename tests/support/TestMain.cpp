#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    orvanta::test::setUpTestEnvironment();
    testing::UnitTest::GetInstance()->listeners().Append(new orvanta::test::FreshEnvironmentPerCase);
    const int result = RUN_ALL_TESTS();
    orvanta::test::tearDownTestEnvironment();
    return result;
}
