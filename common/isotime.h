#pragma once

#include <QDateTime>
#include <QString>

// A local time in ISO 8601 with milliseconds and the UTC offset, e.g.
// "2026-12-07T16:55:01.123+01:00": sorts as text and says which zone it was.
QString isoLocalTime(const QDateTime &time = QDateTime::currentDateTime());
