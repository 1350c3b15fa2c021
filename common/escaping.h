#ifndef ESCAPING_H
#define ESCAPING_H

#include <QByteArray>
#include <QString>

// Text from outside (a command read from a pipe or a broker, a port's name,
// a module's reply) made safe to print on a terminal, where it would
// otherwise retitle the window, clear the screen or hide what follows it.
// Printable UTF-8 stays as it is. Line breaks and tabs become \n, \r and \t;
// every other C0 control, DEL and each byte that is not valid UTF-8 become
// \xNN; C1 controls and the other characters a terminal shows as nothing or
// as a break (format characters, line and paragraph separators,
// noncharacters, unassigned code points) become \uNNNN. A backslash becomes
// \\, so that no text looks like an escape; where `quote` is given (' or "),
// that quote becomes \' or \", for text printed between two of them.
QString escaped(const QByteArray &text, char quote = '\0');
// The same for text already decoded, from its UTF-8.
QString escaped(const QString &text, char quote = '\0');

// The first `limit` bytes of `text` escaped between two `quote`s, with "..."
// after them when `text` is longer: enough to recognise it in a message.
QString quoted(const QByteArray &text, char quote, int limit);

#endif // ESCAPING_H
