#include "inputcommand.h"

#include <QRegularExpression>
#include <QStringList>

#include "modulelogic.h"

namespace {

InputCommand make(InputCommand::Kind kind, int channel = 0, bool on = false, const QString &text = {})
{
    InputCommand command;
    command.kind = kind;
    command.channel = channel;
    command.on = on;
    command.text = text;
    return command;
}

// An input number 6..10, or 0 when `word` is none.
int inputChannel(const QString &word)
{
    bool ok = false;
    const int channel = word.toInt(&ok);
    return ok && channel >= ModuleLogic::FirstInput && channel <= ModuleLogic::LastInput ? channel : 0;
}

} // namespace

InputCommand InputCommand::fromLine(const QString &line)
{
    const QStringList words =
        line.trimmed().toLower().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return make(None);

    const QString &first = words.at(0);
    if (words.size() == 1
        && (first == QLatin1String("quit") || first == QLatin1String("q") || first == QLatin1String("exit")))
        return make(Quit);
    if (words.size() == 1 && (first == QLatin1String("help") || first == QLatin1String("?")))
        return make(Help);
    if (words.size() == 1 && inputChannel(first))
        return make(Toggle, inputChannel(first));
    if (words.size() == 2 && first == QLatin1String("toggle") && inputChannel(words.at(1)))
        return make(Toggle, inputChannel(words.at(1)));
    if (words.size() == 2 && first == QLatin1String("inputs")
        && QRegularExpression(QStringLiteral("^[01]{5}$")).match(words.at(1)).hasMatch())
        return make(SetAll, 0, false, words.at(1));
    if (words.size() == 2 && inputChannel(first)) {
        const QString &state = words.at(1);
        if (state == QLatin1String("on") || state == QLatin1String("1"))
            return make(Set, inputChannel(first), true);
        if (state == QLatin1String("off") || state == QLatin1String("0"))
            return make(Set, inputChannel(first), false);
    }
    return make(Invalid, 0, false,
                QStringLiteral("not understood: '%1' (try 6 on, 10 off, toggle 7, inputs 10101, help, quit)")
                    .arg(line.trimmed()));
}

InputCommand InputCommand::fromKey(char key)
{
    if (key >= '6' && key <= '9')
        return make(Toggle, key - '0');
    if (key == '0')
        return make(Toggle, ModuleLogic::LastInput);
    if (key == 'q' || key == 'Q')
        return make(Quit);
    if (key == 'h' || key == '?')
        return make(Help);
    return make(None);
}
