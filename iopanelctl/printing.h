#ifndef PRINTING_H
#define PRINTING_H

#include <QString>

// What iopanelctl prints goes out through a thread for each of standard
// output and standard error (StreamWriter), so that a reader that stops
// reading never blocks the program: a signal still ends watch and serve.

// Writes `line` and a line break to standard output. A reader that reads
// has it before this returns, so a pipe sees it at once and a failure is
// known here; for one that doesn't, the line waits (up to 1 MiB of lines).
// True when it was written or waits. Otherwise `exitStatus` says how the
// program ends: ExitDone when the reader has gone (a closed pipe),
// ExitWriteFailed for any other failure (a full disk, a reader 1 MiB
// behind), which is then named on standard error as "can't write <what>:
// <reason>".
bool printLine(const QString &line, const char *what, int &exitStatus);

// Queues "iopanelctl: <text>" for standard error.
void printError(const QString &text);

// True once nobody can read standard output any more (a pipe whose reader
// has gone), found without writing to it.
bool standardOutputClosed();

// At the end: waits until what waits for the readers of standard output and
// standard error is written, as any command does, but once `signalled` (when
// given) says that a signal came, for at most half a second more. Returns the
// exit status: `exitStatus`, or ExitWriteFailed when standard output failed
// without its failure having been named (it is named then).
int finishPrinting(int exitStatus, bool (*signalled)() = nullptr);

#endif // PRINTING_H
