#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    orvanta::test::setUpTestEnvironment();
    const int result = RUN_ALL_TESTS();
    orvanta::test::tearDownTestEnvironment();
    return result;
}
