#include "modulecommand.h"

#include "escaping.h"
#include "frames.h"

QString parseModuleCommand(const QStringList &words, ModuleCommand &request)
{
    const QString command = words.value(0);
    const QString operand = words.value(1);
    const bool takesOperand = command == QLatin1String("outputs") || command == QLatin1String("set")
        || command == QLatin1String("reset");
    if (command == QLatin1String("inputs"))
        request.kind = ModuleCommand::Inputs;
    else if (command == QLatin1String("outputs"))
        request.kind = ModuleCommand::Outputs;
    else if (command == QLatin1String("set"))
        request.kind = ModuleCommand::Set;
    else if (command == QLatin1String("reset"))
        request.kind = ModuleCommand::Reset;
    else
        return QStringLiteral("unknown command '%1'").arg(escaped(command, '\''));

    if (words.size() > (takesOperand ? 2 : 1))
        return QStringLiteral("unexpected argument '%1'").arg(escaped(words.last(), '\''));
    if (takesOperand && words.size() < 2)
        return QStringLiteral("%1 needs an argument").arg(escaped(command, '\''));

    if (request.kind == ModuleCommand::Outputs) {
        if (!Frames::isOutputDigits(operand))
            return QStringLiteral("outputs takes exactly five digits 0 or 1 (outputs 1 to 5), not '%1'")
                .arg(escaped(operand, '\''));
        request.outputs = operand;
    }
    if (request.kind == ModuleCommand::Set || request.kind == ModuleCommand::Reset) {
        if (operand.size() != 1 || operand.at(0) < QLatin1Char('1') || operand.at(0) > QLatin1Char('5'))
            return QStringLiteral("%1 takes an output 1 to 5, not '%2'").arg(command, escaped(operand, '\''));
        request.channel = operand.at(0).digitValue();
    }
    return QString();
}

QString switchCommandText(int channel, bool on)
{
    return QStringLiteral("%1 %2").arg(on ? "set" : "reset").arg(channel);
}

QString commandFrame(const ModuleCommand &request)
{
    switch (request.kind) {
    case ModuleCommand::Outputs:
        return Frames::setAllOutputs(request.outputs);
    case ModuleCommand::Set:
        return Frames::setOutput(request.channel);
    case ModuleCommand::Reset:
        return Frames::resetOutput(request.channel);
    case ModuleCommand::Inputs:
        break;
    }
    return Frames::queryInputs();
}
