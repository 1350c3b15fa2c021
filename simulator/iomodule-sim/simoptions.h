#pragma once

#include <QByteArray>
#include <QString>

class QCoreApplication;

// What the operator asked for on the command line.
struct SimOptions
{
    QString port;               // serial port to serve; empty: a new pseudo-terminal
    QString inputs;             // inputs 6..10 at start, five '0'/'1'
    QByteArray firmware;        // firmware version reported for "~I", at most 16 bytes
    bool silentOutputs = false; // leave "~P", "~S" and "~R" unanswered
    QString link;               // symbolic link kept pointing at the pseudo-terminal
    bool chaos = false;         // answer with random replies, floods and lost lines
    quint32 chaosSeed = 0;      // the seed those are drawn from
    int chaosRepeat = 0;        // > 0: the events start over after this many
};

// Parses the command line; --help and --version print and exit. Returns
// false with a message in `error` when an option's value is wrong.
bool parseSimOptions(const QCoreApplication &app, SimOptions &options, QString &error);
