// Widget tests: one QApplication, offscreen unless the caller chose another
// platform, and no message box that could block a test.
#include <gtest/gtest.h>

#include <QApplication>
#include <exception>

#include "zorvex/MathControls.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();  // test discovery needs no Qt
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zorvex::SetMathExceptionHandler([](QWidget*, const std::exception& error) {
        ADD_FAILURE() << "unexpected error report: " << error.what();
    });
    return RUN_ALL_TESTS();
}
