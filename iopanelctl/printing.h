#ifndef PRINTING_H
#define PRINTING_H

#include <QString>

// Writes `line` and a line break to standard output and flushes it, so that
// a pipe sees it at once. True when it was written. Otherwise `exitStatus`
// says how the program ends: ExitDone when the reader has gone (a closed
// pipe), ExitWriteFailed for any other failure, which is then named on
// standard error as "can't write <what>: <reason>".
bool printLine(const QString &line, const char *what, int &exitStatus);

// True once nobody can read standard output any more (a pipe whose reader
// has gone), found without writing to it.
bool standardOutputClosed();

#endif // PRINTING_H
