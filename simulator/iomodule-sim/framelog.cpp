#include "framelog.h"

#include <QTime>

#include <cstdio>

#include "escaping.h"
#include "modulelogic.h"

namespace {

QString now()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace

void printLine(const QString &line)
{
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString frameLine(const QByteArray &bytes, const QString &outputs, const QString &inputs)
{
    const QString what = ModuleLogic::isFrame(bytes)
        ? QString::fromLatin1(bytes)
        : QStringLiteral("dropped \"%1\"").arg(escaped(bytes, '"'));
    return QStringLiteral("%1  %2  outputs 1..5: %3  inputs 6..10: %4").arg(now(), what, outputs, inputs);
}

QString inputsLine(const QString &inputs)
{
    return QStringLiteral("%1  inputs 6..10: %2").arg(now(), inputs);
}

QString eventLine(const QString &text)
{
    return QStringLiteral("%1  %2").arg(now(), text);
}
