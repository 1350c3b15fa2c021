#ifndef MODULECOMMAND_H
#define MODULECOMMAND_H

#include <QString>
#include <QStringList>

// One of the commands that send a single frame: "inputs", "outputs 10100",
// "set 3", "reset 3".
struct ModuleCommand
{
    enum Kind { Inputs, Outputs, Set, Reset };
    Kind kind = Inputs;
    QString outputs; // Outputs: five "0"/"1" digits
    int channel = 0; // Set, Reset: 1..5
};

// Reads such a command from its words. Fills in `command` and returns an
// empty string, or returns why the words are not such a command.
// iopanelctl's command line, serve's input lines and the MQTT bridge's set
// messages all take these.
QString parseModuleCommand(const QStringList &words, ModuleCommand &command);

// The frame a command sends: "~A", "~P10100", "~S3" or "~R3".
QString commandFrame(const ModuleCommand &command);

// The words of the command that switches output `channel` on or off: "set 3"
// or "reset 3".
QString switchCommandText(int channel, bool on);

#endif // MODULECOMMAND_H
