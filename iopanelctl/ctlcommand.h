#ifndef CTLCOMMAND_H
#define CTLCOMMAND_H

#include <QString>
#include <QStringList>

#include "ctlcommandline.h"

// One of the commands that send a single frame, as words: "inputs",
// "outputs 10100", "set 3", "reset 3". Fills in the command and its operand
// in `request` and returns an empty string, or returns why the words are not
// such a command. The command line and serve's input lines both take these.
QString parseFrameCommand(const QStringList &words, CtlRequest &request);

// The frame a command sends: "~A", "~P10100", "~S3" or "~R3".
QString commandFrame(const CtlRequest &request);

#endif // CTLCOMMAND_H
