#ifndef STDERRLOG_H
#define STDERRLOG_H

#include <QString>

// Qt's log messages and the program's own lines for standard error, written
// there by a thread of their own (StreamWriter). A reader that stops reading
// (a pager at its prompt, a stalled pipe) then stalls only that thread, never
// the program's window, its event loop or its end. Lines wait in order up to
// a bound; past it new ones are dropped and counted, and the count is written
// once the reader takes the waiting lines. A fatal message comes after every
// line queued before it.
namespace StderrLog {

// Installs the message handler; call before the application object exists.
// `program` names the program in the line that counts dropped lines.
void start(const char *program);

// Queues one line of the program's own ("iopanel: ...") for standard error.
void line(const QString &text);

// Waits up to waitMs (negative: as long as it takes) for the waiting lines to
// be written; returns at once when there are none.
void finish(int waitMs);

} // namespace StderrLog

#endif // STDERRLOG_H
