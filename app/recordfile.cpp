#include "recordfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLocale>
#include <QSocketNotifier>
#include <QStatusBar>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "frames.h"
#include "isotime.h"
#include "recordpath.h"

namespace {
const QByteArray header = "time,event,channel,state,text\n";

// What ends a status text cut to fit a row into one write.
const QString cutMark = QStringLiteral(" [cut]");

// A field in double quotes, its own double quotes doubled, as CSV has it.
QString quotedField(const QString &text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

// `text` as a quoted field of at most `room` bytes in UTF-8: where it is
// longer, its start and " [cut]" after it (a character is never split).
QString fittedField(const QString &text, int room)
{
    const QString whole = quotedField(text);
    if (whole.toUtf8().size() <= room)
        return whole;
    int bytes = 2 + cutMark.size(); // the quotes and the mark
    int end = 0;
    while (end < text.size()) {
        const int length = text.at(end).isHighSurrogate() && end + 1 < text.size() ? 2 : 1;
        const int size = text.mid(end, length).toUtf8().size() * (text.at(end) == QLatin1Char('"') ? 2 : 1);
        if (bytes + size > room)
            break;
        bytes += size;
        end += length;
    }
    return quotedField(text.left(end) + cutMark);
}

// The length of the whole rows at the start of `rows` that make at most
// PIPE_BUF bytes (no row is longer). A pipe or FIFO takes a write of up to
// PIPE_BUF bytes whole or not at all, so its reader never gets part of a
// row, also when the panel closes then.
int leadingRows(const QByteArray &rows)
{
    if (rows.size() <= PIPE_BUF)
        return rows.size();
    const int end = rows.lastIndexOf('\n', PIPE_BUF - 1);
    const int firstEnd = rows.indexOf('\n');
    return end >= 0 ? end + 1 : (firstEnd >= 0 ? firstEnd + 1 : rows.size());
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the last byte of the regular file open for writing as
// `descriptor`, `size` bytes long, ends a line. Read through the same file,
// opened again; one this user may not read is taken as whole.
bool endsWithLineBreak(int descriptor, qint64 size)
{
    const QByteArray same = "/proc/self/fd/" + QByteArray::number(descriptor);
    const int reader = ::open(same.constData(), O_RDONLY | O_CLOEXEC);
    char last = '\n';
    if (reader >= 0 && ::pread(reader, &last, 1, size - 1) != 1)
        last = '\n';
    if (reader >= 0)
        ::close(reader);
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
    // Non-blocking: a FIFO that no program reads fails at once instead of
    // waiting for a reader, and a write never waits for one either.
    QString reason;
    descriptor = openRecordPath(path, &reason);
    if (descriptor >= 0) {
        struct stat status = {};
        ::fstat(descriptor, &status);
        if (!S_ISREG(status.st_mode) || status.st_size == 0)
            waiting = header;
        else if (!endsWithLineBreak(descriptor, status.st_size))
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
    const QDeadlineTimer deadline(closeWaitMs);
    while (descriptor >= 0 && writeWaiting(&reason) && !waiting.isEmpty()) {
        pollfd out = {descriptor, POLLOUT, 0};
        if (::poll(&out, 1, static_cast<int>(deadline.remainingTime())) == 0)
            break;
    }
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
    writeRow(QStringLiteral("status"), QString(), QString(), message);
}

void RecordFile::recordChange(States &states, int index, const char *event, int channel, bool on)
{
    auto &last = states[static_cast<size_t>(index)];
    if (last == on)
        return;
    last = on;
    writeRow(QString::fromLatin1(event), QString::number(channel),
             on ? QStringLiteral("on") : QStringLiteral("off"), std::nullopt);
}

void RecordFile::writeRow(const QString &event, const QString &channel, const QString &state,
                          const std::optional<QString> &message)
{
    if (!recording)
        return;
    QByteArray row =
        QStringList{isoLocalTime(), event, channel, state, QString()}.join(QLatin1Char(',')).toUtf8();
    // Written whole or not at all, in one write of at most PIPE_BUF bytes.
    if (message)
        row += fittedField(*message, PIPE_BUF - row.size() - 1).toUtf8();
    row += '\n';
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
        const ssize_t written =
            ::write(descriptor, waiting.constData(), static_cast<size_t>(leadingRows(waiting)));
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
