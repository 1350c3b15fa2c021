#include "stderrlog.h"

#include <unistd.h>

#include <string>

#include "streamwriter.h"

namespace {
// About a thousand debug lines of long replies, or hours of short ones.
constexpr std::size_t maxWaitingBytes = 256 * 1024;
// How long a program dying of a fatal message lets the reader take the lines
// before it; a stalled reader must not keep it from ending.
constexpr int fatalWaitMs = 500;

StreamWriter &standardError()
{
    return StreamWriter::of(STDERR_FILENO);
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    std::string text = qFormatLogMessage(type, context, message).toLocal8Bit().toStdString() + '\n';
    // Qt aborts once this returns: the lines that explain the failure (a
    // platform plugin not found) go out first, then this one.
    if (type == QtFatalMsg)
        standardError().writeLast(std::move(text), fatalWaitMs);
    else
        standardError().write(std::move(text));
}
} // namespace

namespace StderrLog {

void start(const char *program)
{
    const std::string name = program;
    standardError().setBound(maxWaitingBytes, [name](unsigned long dropped) {
        return name + ": " + std::to_string(dropped)
            + " log lines dropped: standard error's reader fell behind\n";
    });
    qInstallMessageHandler(handleMessage);
}

void line(const QString &text)
{
    standardError().write(text.toLocal8Bit().toStdString() + '\n');
}

void finish(int waitMs)
{
    standardError().drain(waitMs);
}

} // namespace StderrLog
