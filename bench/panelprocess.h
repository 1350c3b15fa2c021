#ifndef BENCH_PANELPROCESS_H
#define BENCH_PANELPROCESS_H

#include <QProcess>
#include <QString>

class PtyModule;

// The parent's handle on a panel running in its own process (this program
// in --panel-child mode), so that the stand-in serving it does not count
// towards the panel's CPU time and memory.
class PanelProcess
{
public:
    ~PanelProcess();

    bool start(const QString &port);            // true once the child's event loop runs
    bool startPolling(const PtyModule &module); // start() on the module's port, then its first polls
    qint64 pid() const { return process.processId(); }

    // Asks the window to close and returns the child's close time in ms
    // (close request to end of main), or a negative value on failure.
    double close();

    QString failure() const; // what went wrong, with the end of the child's stderr

    // From /proc: user+system CPU time in seconds, peak resident set in kB.
    double cpuSeconds() const;
    qint64 peakRssKb() const;

private:
    QString readLine(int timeoutMs); // one line of the child's stdout, trimmed
    void fail(const QString &what);

    QProcess process;
    QString failureText;
};

#endif // BENCH_PANELPROCESS_H
