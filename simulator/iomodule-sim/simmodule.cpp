#include "simmodule.h"

#include "modulelogic.h"

QString SimModule::inputsText() const
{
    QString text;
    for (int channel = ModuleLogic::FirstInput; channel <= ModuleLogic::LastInput; ++channel)
        text += input(channel) ? QLatin1Char('1') : QLatin1Char('0');
    return text;
}

void SimModule::setInputs(const QString &bits)
{
    for (int i = 0; i < bits.size() && i <= ModuleLogic::LastInput - ModuleLogic::FirstInput; ++i)
        setInput(ModuleLogic::FirstInput + i, bits.at(i) == QLatin1Char('1'));
}
