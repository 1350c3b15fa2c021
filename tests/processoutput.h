#ifndef PROCESSOUTPUT_H
#define PROCESSOUTPUT_H

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

// Reads a child process's standard output line by line, waiting for lines
// that match a pattern.
class ProcessOutput
{
public:
    explicit ProcessOutput(QProcess &process)
        : process(process)
    { }

    // The first line from now on that matches `pattern`, or an empty string
    // after `timeoutMs`; the lines before it are passed over.
    QString waitForLine(const QRegularExpression &pattern, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!timer.hasExpired(timeoutMs)) {
            printed += process.readAllStandardOutput();
            int end;
            while ((end = printed.indexOf('\n')) >= 0) {
                const QString line = QString::fromUtf8(printed.left(end));
                printed.remove(0, end + 1);
                if (pattern.match(line).hasMatch())
                    return line;
            }
            process.waitForReadyRead(50);
        }
        return {};
    }

    void clear() { printed.clear(); }

private:
    QProcess &process;
    QByteArray printed; // read but not yet searched
};

// Ends a child process: SIGTERM, then SIGKILL if it has not ended in 5 s.
inline void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

#endif // PROCESSOUTPUT_H
