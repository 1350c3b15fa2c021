// iopanel-mqtt: one digital I/O module on an MQTT broker, its inputs and
// status published and its commands taken from a topic.
#include <QCoreApplication>

#include "bridge.h"
#include "bridgelog.h"
#include "bridgeoptions.h"
#include "discoveryremoval.h"
#include "quitonsignals.h"
#include "standardstreams.h"
#include "stderrlog.h"

namespace {
// How long the lines still waiting for standard error's reader get at the
// end: with the broker's 400 ms, a stop stays within a second.
constexpr int stderrWaitMs = 300;
} // namespace

int main(int argc, char *argv[])
{
    // A closed standard error costs its lines only, and the port and the
    // broker's socket never take the place of a standard stream.
    guardStandardStreams();

    // Qt's messages and the bridge's own lines, written by a thread of their own.
    StderrLog::start("iopanel-mqtt");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iopanel-mqtt"));
    QCoreApplication::setApplicationVersion(QStringLiteral(IOPANEL_VERSION));

    BridgeOptions options;
    int exitStatus = BridgeDone;
    if (!parseBridgeOptions(QCoreApplication::arguments(), options, exitStatus)) {
        StderrLog::finish(stderrWaitMs);
        return exitStatus;
    }

    // SIGTERM, SIGINT and SIGHUP end the event loop; the bridge then says offline.
    QuitOnSignals quitOnSignals;
    if (options.removeDiscovery) {
        DiscoveryRemoval removal(options);
        options.broker.password.fill('\0');
        if (const QString problem = removal.start(); !problem.isEmpty()) {
            BridgeLog::line(problem);
            StderrLog::finish(stderrWaitMs);
            return BridgeFailed;
        }
        exitStatus = QCoreApplication::exec();
        const int stopped = removal.stop();
        StderrLog::finish(stderrWaitMs);
        return exitStatus == BridgeRefused ? exitStatus : stopped;
    }
    Bridge bridge(options);
    options.broker.password.fill('\0');
    if (const QString problem = bridge.start(); !problem.isEmpty()) {
        BridgeLog::line(problem);
        StderrLog::finish(stderrWaitMs);
        return BridgeFailed;
    }
    exitStatus = QCoreApplication::exec();
    bridge.stop();
    StderrLog::finish(stderrWaitMs);
    return exitStatus;
}
