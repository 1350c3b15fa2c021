#ifndef STATUSFIT_H
#define STATUSFIT_H

#include <QString>
#include <QStringList>

class QStatusBar;

// Shows `message` in `bar` for `timeoutMs`. Where the bar shows and the
// message would pass its width, the longest of `names` (the port names) that
// the message contains is elided in the middle, just enough for the message
// to fit: its start, the name's end and what follows the name (the error
// code) stay. A message that fits is shown as it is.
void showFittedMessage(QStatusBar *bar, const QString &message, const QStringList &names, int timeoutMs);

// The whole message behind `shown`, the text `bar` shows now: `shown` itself
// unless showFittedMessage elided it.
QString wholeStatusMessage(const QStatusBar *bar, const QString &shown);

#endif // STATUSFIT_H
