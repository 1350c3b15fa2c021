#ifndef STDERRLOG_H
#define STDERRLOG_H

#include <QString>

// Qt's log messages (one debug line per reply) and the panel's own lines for
// standard error, written there by a thread of their own. A reader that
// stops reading (a pager at its prompt, a stalled pipe) then stalls only
// that thread, never the window or its close. Lines wait in order up to a
// bound; past it new ones are dropped and counted, and the count is written
// once the reader takes the waiting lines.
namespace StderrLog {

// Installs the message handler; call before the application object exists.
void start();

// Queues one line of the panel's own ("iopanel: ...") for standard error.
void line(const QString &text);

// Waits up to waitMs for the waiting lines to be written; returns at once
// when there are none.
void finish(int waitMs);

} // namespace StderrLog

#endif // STDERRLOG_H
