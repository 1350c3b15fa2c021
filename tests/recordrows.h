#ifndef RECORDROWS_H
#define RECORDROWS_H

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

// The rows of one kind in a record file's text.

inline const QRegularExpression
    recordTime(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));

// The rows of `event` in a record, without their time, which must be ISO
// 8601 local with the offset.
inline QStringList rowsIn(const QByteArray &record, const QString &event)
{
    QStringList rows;
    for (const QString &line : QString::fromUtf8(record).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const int comma = line.indexOf(QLatin1Char(','));
        if (line.mid(comma + 1).startsWith(event + QLatin1Char(',')))
            rows << (recordTime.match(line.left(comma)).hasMatch() ? line.mid(comma + 1)
                                                                   : QStringLiteral("bad: ") + line);
    }
    return rows;
}

inline QStringList rowsOf(const QString &path, const QString &event)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? rowsIn(file.readAll(), event) : QStringList();
}

#endif // RECORDROWS_H
