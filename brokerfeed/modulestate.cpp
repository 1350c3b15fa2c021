#include "modulestate.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "modulecommand.h"

bool readStates(const QByteArray &payload, int first, ModuleState::States &states)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject object = document.object();
    ModuleState::States read;
    for (int i = 0; i < 5; ++i) {
        const QJsonValue value = object.value(QString::number(first + i));
        if (value.isBool())
            read[i] = value.toBool();
        else if (!value.isNull() && !value.isUndefined())
            return false;
    }
    states = read;
    return true;
}

QString moduleStatus(const QString &module, const ModuleState &state)
{
    switch (state.word) {
    case ModuleState::Unheard:
        return QStringLiteral("%1: no status on the broker yet").arg(module);
    case ModuleState::Offline:
        return state.offlineSince.isEmpty()
            ? QStringLiteral("%1: offline").arg(module)
            : QStringLiteral("%1: offline since %2").arg(module, state.offlineSince);
    case ModuleState::Online:
        break;
    }
    if (!state.believedOnline())
        return QStringLiteral("%1: no word from its bridge since %2").arg(module, state.heardSince);
    const ModuleState::Undelivered &command = state.undelivered;
    return command.output == 0 ? QString()
                               : QStringLiteral("%1: %2 not delivered: %3")
                                     .arg(module, switchCommandText(command.output, command.on), command.why);
}
