// Test main for models and views: a real Qt application object, so event loops, queued calls,
// timers and (under QT_QPA_PLATFORM=offscreen) widgets work as in the application.
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <memory>

#ifdef ORVANTA_TEST_WITH_WIDGETS
#include <QApplication>
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    orvanta::test::setUpTestEnvironment();
    testing::UnitTest::GetInstance()->listeners().Append(new orvanta::test::FreshEnvironmentPerCase);
    int result = 0;
    {
#ifdef ORVANTA_TEST_WITH_WIDGETS
        // Widget tests draw offscreen unless told otherwise, also when CTest lists their cases.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        QApplication app(argc, argv);
#else
        QCoreApplication app(argc, argv);
#endif
        result = RUN_ALL_TESTS();
    }
    orvanta::test::tearDownTestEnvironment();
    return result;
}
