#ifndef CTLCOMMANDLINE_H
#define CTLCOMMANDLINE_H

#include <QString>

#include "modulecommand.h"
#include "moduleexchange.h"

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
    enum Mode { Once, Watch, Serve };
    Mode mode = Once;
    ModuleCommand command; // Once: the frame to send
    QString port;          // --port, else IOPANEL_PORT
    int intervalMs = 100;  // Watch, Serve
    bool json = false;     // inputs, Watch, Serve
};

// The exit status for an exchange's outcome.
int exitStatusFor(ExchangeOutcome::Result result);

// Parses and checks the arguments of the running application. Returns false
// when the program is done: --help or --version printed (status 0), or a
// usage error explained on standard error (status 2); exitStatus says which.
bool parseCtlCommandLine(CtlRequest &request, int &exitStatus);

#endif // CTLCOMMANDLINE_H
