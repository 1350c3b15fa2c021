#ifndef NAMEELIDE_H
#define NAMEELIDE_H

#include <QString>

class QFontMetrics;

// `name` as it fits in `width` pixels: whole if it fits, otherwise with its
// middle replaced by "…". The end gets three quarters of the room, since
// device names that differ (by-id serial numbers, "if00"/"if01") differ at
// the end; the start shows where the name comes from.
QString elideNameMiddle(const QString &name, const QFontMetrics &metrics, int width);

#endif // NAMEELIDE_H
