#ifndef CTLCOMMANDLINE_H
#define CTLCOMMANDLINE_H

#include <QString>

// Exit statuses that scripts can rely on.
enum ExitStatus {
    ExitDone = 0,
    ExitWriteFailed = 1, // what the program prints could not be written (or serve its input read)
    ExitUsage = 2,
    ExitCannotOpen = 3,
    ExitNoReply = 4,
    ExitNotInputs = 5,
};

// One validated command line. Nothing in it has touched a port yet.
struct CtlRequest
{
    enum Command { Inputs, Outputs, Set, Reset, Watch, Serve };
    Command command = Inputs;
    QString port;         // --port, else IOPANEL_PORT
    QString outputs;      // Outputs: five "0"/"1" digits
    int channel = 0;      // Set, Reset: 1..5
    int intervalMs = 100; // Watch, Serve
    bool json = false;    // Inputs, Watch, Serve
};

// Parses and checks the arguments of the running application. Returns false
// when the program is done: --help or --version printed (status 0), or a
// usage error explained on standard error (status 2); exitStatus says which.
bool parseCtlCommandLine(CtlRequest &request, int &exitStatus);

#endif // CTLCOMMANDLINE_H
