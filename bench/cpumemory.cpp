// CPU and memory of the running panel: a panel process polls an answering
// stand-in; its CPU time is read from /proc over the run, after a warm-up,
// and its peak resident set (VmHWM) at the end.
#include <QJsonObject>

#include <unistd.h>

#include <chrono>
#include <thread>

#include "measurements.h"
#include "options.h"
#include "panelprocess.h"
#include "ptymodule.h"
#include "report.h"

namespace {
constexpr double targetCpuPercent = 1.0;
constexpr double targetRssMb = 40.0;
constexpr int warmUpMs = 1000;
} // namespace

void measurePanelProcess(const Options &options, Report &report)
{
    PtyModule module;
    PanelProcess panel;
    if (!panel.startPolling(module)) {
        report.addError(QStringLiteral("CPU and memory: ") + panel.failure());
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(warmUpMs));

    module.clearFrames();
    const double cpuStart = panel.cpuSeconds();
    const qint64 startUs = PtyModule::nowUs();
    std::this_thread::sleep_for(std::chrono::seconds(options.cpuSeconds));
    const double cpuEnd = panel.cpuSeconds();
    const qint64 endUs = PtyModule::nowUs();
    const qint64 peakKb = panel.peakRssKb();
    const int frames = module.frames().size();
    if (panel.close() < 0 || cpuStart < 0 || cpuEnd < 0 || peakKb < 0) {
        report.addError(
            QStringLiteral("CPU and memory: ")
            + (panel.failure().isEmpty() ? QStringLiteral("cannot read /proc") : panel.failure()));
        return;
    }

    const double cpuPercent = 100.0 * (cpuEnd - cpuStart) / ((endUs - startUs) / 1e6);
    const double peakMb = peakKb / 1024.0;
    report.addRow(QStringLiteral("panel CPU (one core, polling)"), QString::number(cpuPercent, 'f', 3) + " %",
                  QStringLiteral("< %1 %").arg(targetCpuPercent), cpuPercent < targetCpuPercent);
    report.addRow(QStringLiteral("panel peak RSS (VmHWM)"), QString::number(peakMb, 'f', 1) + " MB",
                  QStringLiteral("< %1 MB").arg(targetRssMb), peakMb < targetRssMb);
    report.setSection(
        QStringLiteral("panel_process"),
        QJsonObject{
            {"seconds", options.cpuSeconds},
            {"cpu_seconds", cpuEnd - cpuStart},
            {"cpu_percent", cpuPercent},
            {"cpu_percent_resolution", 100.0 / double(::sysconf(_SC_CLK_TCK)) / options.cpuSeconds},
            {"peak_rss_kb", peakKb},
            {"frames_polled", frames},
            {"target_cpu_percent", targetCpuPercent},
            {"target_peak_rss_mb", targetRssMb},
            {"met", cpuPercent < targetCpuPercent && peakMb < targetRssMb},
        });
}
