// Test main for tests that drive dialogs: the application object first,
// gone again before the process ends.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/Dialog.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ui::Application application(argc, argv);
    return RUN_ALL_TESTS();
}
