#include "frames.h"

namespace Frames {

QString queryInputs()
{
    return QStringLiteral("~A");
}

QString setAllOutputs(const QString &on)
{
    return QStringLiteral("~P") + on;
}

QString setOutput(int channel)
{
    return QStringLiteral("~S") + QString::number(channel);
}

QString resetOutput(int channel)
{
    return QStringLiteral("~R") + QString::number(channel);
}

bool isOutputDigits(const QString &digits)
{
    if (digits.size() != 5)
        return false;
    for (const QChar c : digits) {
        if (c != QLatin1Char('0') && c != QLatin1Char('1'))
            return false;
    }
    return true;
}

QList<QPair<int, bool>> outputsCarried(const QString &frame)
{
    QList<QPair<int, bool>> carried;
    const QString operand = frame.mid(2);
    if (frame.startsWith(QLatin1String("~P")) && isOutputDigits(operand)) {
        for (int k = 0; k < 5; ++k)
            carried.append({k + 1, operand.at(k) == QLatin1Char('1')});
    } else if ((frame.startsWith(QLatin1String("~S")) || frame.startsWith(QLatin1String("~R")))
               && operand.size() == 1 && operand.at(0) >= QLatin1Char('1')
               && operand.at(0) <= QLatin1Char('5')) {
        carried.append({operand.at(0).digitValue(), frame.at(1) == QLatin1Char('S')});
    }
    return carried;
}

} // namespace Frames
