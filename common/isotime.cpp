#include "isotime.h"

QString isoLocalTime(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    const int offsetMinutes = local.offsetFromUtc() / 60;
    const int magnitude = qAbs(offsetMinutes);
    return local.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"))
        + QStringLiteral("%1%2:%3")
              .arg(offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(magnitude / 60, 2, 10, QLatin1Char('0'))
              .arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}
