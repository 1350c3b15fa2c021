#include "recordfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QSocketNotifier>
#include <QStatusBar>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "frames.h"
#include "isotime.h"

namespace {
const QByteArray header = "time,event,channel,state,text\n";

// A field in double quotes, its own double quotes doubled, as CSV has it.
QString quotedField(const QString &text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the last byte of the regular file at `path`, `size` bytes long,
// ends a line. A file this user may not read is taken as whole.
bool endsWithLineBreak(const QString &path, qint64 size)
{
    QFile file(path);
    char last = '\n';
    if (file.open(QIODevice::ReadOnly) && file.seek(size - 1))
        file.getChar(&last);
    return last == '\n';
}
} // namespace

RecordFile::RecordFile(const QString &path, int waitingBound)
    : path(path)
    , waitingBound(waitingBound)
{ }

RecordFile::~RecordFile()
{
    closeFile();
}

bool RecordFile::open(QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking: a FIFO that no program reads fails at once instead of
    // waiting for a reader, and a write never waits for one either.
    descriptor = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    struct stat status = {};
    QString reason;
    if (descriptor < 0) {
        const int openError = errno;
        const bool fifo = ::stat(name.constData(), &status) == 0 && S_ISFIFO(status.st_mode);
        reason = openError == ENXIO && fifo ? QStringLiteral("no program reads from this FIFO")
                                            : systemError(openError);
    } else {
        ::fstat(descriptor, &status);
        if (!S_ISREG(status.st_mode) || status.st_size == 0)
            waiting = header;
        else if (!endsWithLineBreak(path, status.st_size))
            // A row torn by an earlier failure (a full disk) stays alone on
            // its line, so a CSV reader sees one bad row, not two merged.
            waiting = "\n";
        if (!writeWaiting(&reason))
            closeFile();
    }
    if (!reason.isEmpty()) {
        *error = QStringLiteral("can't record to %1: %2").arg(path, reason);
        return false;
    }
    recording = true;
    return true;
}

void RecordFile::reportStopsIn(QStatusBar *statusBar)
{
    this->statusBar = statusBar;
}

bool RecordFile::finish(QString *error)
{
    QString reason = QStringLiteral("its reader took no more");
    if (descriptor >= 0)
        writeWaiting(&reason);
    const int rows = waiting.count('\n');
    recording = false;
    closeFile();
    if (rows == 0)
        return true;
    *error =
        QStringLiteral("%1 not written to %2: %3")
            .arg(rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows), path, reason);
    return false;
}

void RecordFile::lampSet(int channel, bool on)
{
    if (channel >= 6 && channel <= 10)
        recordChange(inputs, channel - 6, "input", channel, on);
}

void RecordFile::frameSent(const QString &frame)
{
    for (const auto &output : Frames::outputsCarried(frame))
        recordChange(outputs, output.first - 1, "output", output.first, output.second);
}

void RecordFile::statusMessageShown(const QString &message)
{
    writeRow(QStringLiteral("status"), QString(), QString(), quotedField(message));
}

void RecordFile::recordChange(States &states, int index, const char *event, int channel, bool on)
{
    auto &last = states[static_cast<size_t>(index)];
    if (last == on)
        return;
    last = on;
    writeRow(QString::fromLatin1(event), QString::number(channel),
             on ? QStringLiteral("on") : QStringLiteral("off"), QString());
}

void RecordFile::writeRow(const QString &event, const QString &channel, const QString &state,
                          const QString &text)
{
    if (!recording)
        return;
    const QByteArray row =
        QStringList{isoLocalTime(), event, channel, state, text}.join(QLatin1Char(',')).toUtf8() + '\n';
    if (waiting.size() + row.size() > waitingBound) {
        // The rows waiting now are still written if the reader comes back;
        // the record then ends with the last of them.
        stopRecording(QStringLiteral("the reader of %1 fell %2 behind")
                          .arg(path, QLocale::c().formattedDataSize(waitingBound, 0)));
        return;
    }
    waiting += row;
    QString reason;
    if (!writeWaiting(&reason)) {
        stopRecording(reason);
        closeFile();
    }
}

// Writes waiting rows until the file takes no more without waiting; then,
// while rows still wait, lets the event loop say when the reader has read.
// Returns false with the reason when a write fails.
bool RecordFile::writeWaiting(QString *reason)
{
    // A removed file takes writes without complaint until it is closed; they
    // would be lost, so removal counts as a failure.
    struct stat status = {};
    if (::fstat(descriptor, &status) == 0 && status.st_nlink == 0) {
        *reason = QStringLiteral("%1 was removed").arg(path);
        return false;
    }
    // Written straight to the descriptor: after a short write (a disk filling
    // up) QFile reports no reason, while the next write(2) says ENOSPC.
    while (!waiting.isEmpty()) {
        const ssize_t written = ::write(descriptor, waiting.constData(), static_cast<size_t>(waiting.size()));
        if (written > 0) {
            waiting.remove(0, static_cast<int>(written));
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else if (written == 0 || errno != EINTR) {
            *reason = systemError(written < 0 ? errno : EIO);
            return false;
        }
    }
    if (!waiting.isEmpty() && !writable) {
        writable = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
        QObject::connect(writable.get(), &QSocketNotifier::activated, writable.get(),
                         [this] { readerReady(); });
    }
    if (writable)
        writable->setEnabled(!waiting.isEmpty());
    return true;
}

void RecordFile::readerReady()
{
    QString reason;
    if (!writeWaiting(&reason)) {
        stopRecording(reason);
        closeFile();
    } else if (!recording && waiting.isEmpty()) {
        closeFile(); // stopped at the bound, and every row before it is written
    }
}

void RecordFile::stopRecording(const QString &reason)
{
    if (!recording)
        return;
    recording = false;
    // Kept at the status bar's right end, where the poll's own messages do
    // not replace it: a log that stopped overnight still shows in the morning.
    if (statusBar)
        statusBar->addPermanentWidget(new QLabel(
            QCoreApplication::translate("RecordFile", "Recording stopped: %1").arg(reason), statusBar));
}

void RecordFile::closeFile()
{
    // The notifier may be the caller (readerReady); it is only switched off
    // here and goes with the record.
    if (writable)
        writable->setEnabled(false);
    if (descriptor >= 0)
        ::close(descriptor);
    descriptor = -1;
    waiting.clear();
}
