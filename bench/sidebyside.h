#ifndef BENCH_SIDEBYSIDE_H
#define BENCH_SIDEBYSIDE_H

#include <QProcess>

#include <chrono>
#include <thread>
#include <vector>

#include "procstat.h"

// Programs the bench starts, measured beside each other over the same seconds.
namespace SideBySide {

// CPU seconds a second of each process (time on a CPU, to the nanosecond)
// over the same `seconds`, after a warm-up of `warmUpMs`; -1 for one that
// could not be read.
inline std::vector<double> cpuOver(const std::vector<const QProcess *> &processes, int seconds, int warmUpMs)
{
    const auto cpu = ProcStat::runSeconds;
    std::this_thread::sleep_for(std::chrono::milliseconds(warmUpMs));
    std::vector<double> start, used;
    for (const QProcess *process : processes)
        start.push_back(cpu(process->processId()));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (size_t k = 0; k < processes.size(); ++k) {
        const double end = cpu(processes[k]->processId());
        used.push_back(start[k] < 0 || end < 0 ? -1 : (end - start[k]) / seconds);
    }
    return used;
}

// Ends a program the bench started: asked first, killed if it does not end.
inline void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

} // namespace SideBySide

#endif // BENCH_SIDEBYSIDE_H
