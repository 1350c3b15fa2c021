#include "recordfile.h"

#include <QCoreApplication>

#include <sys/stat.h>

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

void RecordFile::onStopped(std::function<void(const QString &)> stopped)
{
    this->stopped = std::move(stopped);
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
    if (stopped)
        stopped(QCoreApplication::translate("RecordFile", "Recording stopped: %1").arg(reason));
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
    if (file.write(bytes) != bytes.size()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}
