#pragma once

#include <functional>

class QApplication;

// The start-up sequence: the splash window, the main window and the report form, then the event loop. An error on
// the way is shown in the application's error message box and ends the program without the event loop. Returns 0 in
// every case.
int runProgram(QApplication &app, const std::function<void()> &eventLoop);
