#ifndef BENCH_PROCSTAT_H
#define BENCH_PROCSTAT_H

#include <QDir>
#include <QFile>
#include <QList>

#include <unistd.h>

// A process's use of the machine, from /proc: user+system CPU time in
// seconds, its time on a CPU in seconds, peak resident set (VmHWM) in kB;
// negative when it can't be read.
namespace ProcStat {

// utime and stime are fields 14 and 15 of /proc/PID/stat; counting starts
// after the command name, which is in parentheses and may hold spaces.
inline double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields[11].toDouble() + fields[12].toDouble(); // fields 14, 15
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

// Time on a CPU to the nanosecond, summed over the process's threads: the
// first field of /proc/PID/task/TID/schedstat. utime and stime count 10 ms
// ticks, too coarse for a process that uses a few milliseconds a second.
inline double runSeconds(qint64 pid)
{
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    double ns = 0;
    for (const QString &thread : threads) {
        QFile file(tasks + QLatin1Char('/') + thread + QStringLiteral("/schedstat"));
        if (file.open(QIODevice::ReadOnly))
            ns += file.readAll().split(' ').first().toDouble();
    }
    return threads.isEmpty() ? -1 : ns / 1e9;
}

inline qint64 peakRssKb(qint64 pid)
{
    // /proc files claim size 0: read them whole rather than testing atEnd().
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace ProcStat

#endif // BENCH_PROCSTAT_H
