#pragma once
// Tests of the program's main window: the window built as the program builds
// it, in a throw-away game folder whose tool folder is the working directory.

#include "app/main_window.h"
#include "testkit/game_folder.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <string>

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() { build_main_window(window, token); }

    GameFolder folder;
    // The one current token that both buttons use; a test may set it.
    std::string token;
    QWidget window;
};
