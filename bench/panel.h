#ifndef BENCH_PANEL_H
#define BENCH_PANEL_H

#include <QString>

#include <functional>

class MainWindow;

// Points the window's port list at `port` only. Call it before any event
// loop runs, so the first poll tick never reaches a real serial port.
void pointAt(MainWindow &window, const QString &port);

// Runs the calling thread's event loop for `ms` milliseconds.
void runEventsFor(int ms);

// Runs the calling thread's event loop until `done` returns true (asked
// every 2 ms) or `timeoutMs` have passed; whether it did.
bool runEventsUntil(const std::function<bool()> &done, int timeoutMs);

// Debug output of the panel (it logs every reply) would bury the table.
void silenceDebugOutput();

#endif // BENCH_PANEL_H
