#include "recordfile.h"

#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>

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
} // namespace

RecordFile::RecordFile(const QString &path)
    : file(path)
{ }

bool RecordFile::open(QString *error)
{
    // Unbuffered: every row is written to the file as it is made, so a crash
    // or a pulled plug loses at most the row being written.
    QString reason;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        reason = file.errorString();
    else if (file.size() == 0 && !write(header, &reason))
        file.close();
    if (!reason.isEmpty()) {
        *error = QStringLiteral("can't record to %1: %2").arg(file.fileName(), reason);
        return false;
    }
    recording = true;
    return true;
}

void RecordFile::reportStopsIn(QStatusBar *statusBar)
{
    this->statusBar = statusBar;
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
    const QString row = QStringList{isoLocalTime(), event, channel, state, text}.join(QLatin1Char(','));
    QString reason;
    if (write(row.toUtf8() + '\n', &reason))
        return;
    recording = false;
    file.close();
    // Kept at the status bar's right end, where the poll's own messages do
    // not replace it: a log that stopped overnight still shows in the morning.
    if (statusBar)
        statusBar->addPermanentWidget(new QLabel(
            QCoreApplication::translate("RecordFile", "Recording stopped: %1").arg(reason), statusBar));
}

bool RecordFile::write(const QByteArray &bytes, QString *reason)
{
    // A removed file takes writes without complaint until it is closed; they
    // would be lost, so removal counts as a failure.
    struct stat status = {};
    if (::fstat(file.handle(), &status) == 0 && status.st_nlink == 0) {
        *reason = QStringLiteral("%1 was removed").arg(file.fileName());
        return false;
    }
    // Written straight to the descriptor: after a short write (a disk filling
    // up) QFile reports no reason, while the next write(2) says ENOSPC.
    const char *data = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(file.handle(), data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *reason = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : EIO));
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}
