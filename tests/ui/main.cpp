// Widget tests need a QApplication; the offscreen platform keeps them off any
// real display, also when the test list is read at build time.

#include <gtest/gtest.h>

#include <QApplication>

#include "antikeylogger/keyboardbackend.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // No keystroke may reach a real keyboard queue from a test.
    SetDefaultKeyboardBackend(MakeNullKeyboardBackend());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
