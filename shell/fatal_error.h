// The one way the program stops on a fatal error: a message box, then exit code -1.
#pragma once

// Shows `message` (ANSI) with the error icon and ends the process with exit code -1; nothing is
// released. From the call on no handler of MainWindow runs. Safe on any thread; a second fatal
// error while one is on screen waits for the first to end the process.
[[noreturn]] void ReportFatalError(const char* message);

// True from the moment a fatal error is being reported. Every handler checks it first.
bool IsReportingFatalError();

// Routes every failed request for memory, on any thread, to ReportFatalError naming its size.
void ReportOutOfMemoryAsFatal();
