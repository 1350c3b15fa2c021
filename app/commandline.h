#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QStringList>

#include "brokersettings.h"

// What the command line asks of the panel. Parsed before the application
// object exists, so that --help, --version and a wrong option need no display.
struct CommandLine
{
    bool exit = false;  // true: the answer is printed; return exitCode
    int exitCode = 0;   // 0 for --help and --version, 2 for a wrong command line
    QStringList ports;  // --port paths, in the order given
    QString recordFile; // --record: the CSV log to append to; empty for none
    // false with --no-remember: the saved port is neither read nor written
    bool remember = true;
    // --broker: the modules a bridge puts on a broker, instead of a port
    bool onBroker = false;
    BrokerSettings broker;
    QString topic; // the module's base, or one with a '+' level
};

// Parses argv without changing it; the application object gets it as it came.
// The toolkit's own options (-platform, -style, -geometry, ...) are accepted
// and left to it.
CommandLine parseCommandLine(int argc, char *argv[]);

#endif // COMMANDLINE_H
