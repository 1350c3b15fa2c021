#include "linereader.h"

#include <QSocketNotifier>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "printing.h"

namespace {
void nameTooLong(int lineNumber)
{
    printError(QStringLiteral("input line %1: longer than %2 bytes, skipped")
                   .arg(lineNumber)
                   .arg(LineReader::maxLineBytes));
}
} // namespace

LineReader::LineReader(QObject *parent)
    : QObject(parent)
{ }

void LineReader::start()
{
    notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    notifier->setEnabled(!paused);
    connect(notifier, &QSocketNotifier::activated, this, &LineReader::readAvailable);
}

void LineReader::pause()
{
    paused = true;
    if (notifier)
        notifier->setEnabled(false);
}

void LineReader::resume()
{
    if (!paused)
        return;
    paused = false;
    passLines();
    if (notifier && !paused && !atEnd)
        notifier->setEnabled(true);
}

void LineReader::readAvailable()
{
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        const int error = errno;
        notifier->setEnabled(false);
        if (count < 0)
            printError(QStringLiteral("can't read standard input: %1")
                           .arg(QString::fromLocal8Bit(std::strerror(error))));
        atEnd = true;
        endOk = count == 0;
    } else {
        pending.append(buffer, static_cast<int>(count));
    }
    passLines();
}

void LineReader::passLines()
{
    int end;
    while (!paused && (end = pending.indexOf('\n')) >= 0) {
        const QByteArray line = pending.left(end);
        pending.remove(0, end + 1);
        if (skipping) {
            ++lineNumber;
            skipping = false;
        } else {
            take(line);
        }
    }
    if (paused)
        return;
    // Whatever comes, a line longer than this is no command: memory stays bounded.
    if (pending.size() > maxLineBytes && !skipping) {
        nameTooLong(lineNumber + 1);
        skipping = true;
    }
    if (skipping)
        pending.clear();
    if (atEnd) {
        if (!pending.isEmpty())
            take(pending);
        pending.clear();
        atEnd = false;
        emit ended(endOk);
    }
}

void LineReader::take(const QByteArray &line)
{
    ++lineNumber;
    if (line.size() > maxLineBytes)
        nameTooLong(lineNumber);
    else
        emit lineRead(lineNumber, line);
}
