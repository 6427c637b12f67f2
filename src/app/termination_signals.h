#pragma once

#include <functional>

// Turns SIGTERM, SIGINT and SIGHUP into a call of `onRequest` on the UI
// thread (a logout or `kill` closes the window the way its close box does).
// Call once from the UI thread while a QCoreApplication exists.
void installTerminationHandler(std::function<void()> onRequest);
