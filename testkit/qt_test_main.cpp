// Test entry for suites that need a GUI application: real widgets on Qt's
// offscreen platform unless a display platform was asked for, with the
// program's Turkish standard texts.

#include "ui/turkish.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // The texts the player sees, button labels included.
    if (!load_turkish_texts(app)) {
        fprintf(stderr, "Qt's Turkish texts could not be loaded\n");
        return 1;
    }
    return RUN_ALL_TESTS();
}
