#include "ctlcommand.h"

#include "frames.h"

QString parseFrameCommand(const QStringList &words, CtlRequest &request)
{
    const QString command = words.value(0);
    const QString operand = words.value(1);
    const bool takesOperand = command == QLatin1String("outputs") || command == QLatin1String("set")
        || command == QLatin1String("reset");
    if (command == QLatin1String("inputs"))
        request.command = CtlRequest::Inputs;
    else if (command == QLatin1String("outputs"))
        request.command = CtlRequest::Outputs;
    else if (command == QLatin1String("set"))
        request.command = CtlRequest::Set;
    else if (command == QLatin1String("reset"))
        request.command = CtlRequest::Reset;
    else
        return QStringLiteral("unknown command '%1'").arg(command);

    if (words.size() > (takesOperand ? 2 : 1))
        return QStringLiteral("unexpected argument '%1'").arg(words.last());
    if (takesOperand && words.size() < 2)
        return QStringLiteral("%1 needs an argument").arg(command);

    if (request.command == CtlRequest::Outputs) {
        if (!Frames::isOutputDigits(operand))
            return QStringLiteral("outputs takes exactly five digits 0 or 1 (outputs 1 to 5), not '%1'")
                .arg(operand);
        request.outputs = operand;
    }
    if (request.command == CtlRequest::Set || request.command == CtlRequest::Reset) {
        if (operand.size() != 1 || operand.at(0) < QLatin1Char('1') || operand.at(0) > QLatin1Char('5'))
            return QStringLiteral("%1 takes an output 1 to 5, not '%2'").arg(command, operand);
        request.channel = operand.at(0).digitValue();
    }
    return QString();
}

QString commandFrame(const CtlRequest &request)
{
    switch (request.command) {
    case CtlRequest::Outputs:
        return Frames::setAllOutputs(request.outputs);
    case CtlRequest::Set:
        return Frames::setOutput(request.channel);
    case CtlRequest::Reset:
        return Frames::resetOutput(request.channel);
    case CtlRequest::Inputs:
    case CtlRequest::Watch:
    case CtlRequest::Serve:
        break;
    }
    return Frames::queryInputs();
}
