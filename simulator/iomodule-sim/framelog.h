#pragma once

#include <QByteArray>
#include <QString>

// What the simulator prints: one line per event, starting with the time of
// day ("HH:mm:ss.zzz") for frames and input changes.

// Writes `line` and a newline to standard output at once.
void printLine(const QString &line);

// e.g. "12:00:01.123  ~P10001  outputs 1..5: 10001  inputs 6..10: 00100";
// bytes that fit no frame are shown quoted with escapes, marked "dropped".
QString frameLine(const QByteArray &bytes, const QString &outputs, const QString &inputs);

// e.g. "12:00:02.456  inputs 6..10: 10100"
QString inputsLine(const QString &inputs);

// `text` after the time of day, e.g. "12:00:03.789  chaos #7 silence"
QString eventLine(const QString &text);
