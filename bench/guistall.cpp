// GUI-thread stall: how late a 5 ms precise probe timer fires on the GUI
// thread while a window polls an answering stand-in. The same probe without
// a window gives the machine's own timer lateness, for comparison.
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

#include "mainwindow.h"
#include "measurements.h"
#include "options.h"
#include "panel.h"
#include "ptymodule.h"
#include "report.h"
#include "stats.h"

namespace {
constexpr int probeMs = 5;
constexpr double targetMaxMs = 5;

// Lateness of each firing: how much longer than the probe period the GUI
// thread kept it waiting since the one before. With a `port`, a window polls
// it meanwhile.
std::vector<double> probeLateness(int seconds, const QString &port)
{
    std::unique_ptr<MainWindow> window;
    if (!port.isEmpty()) {
        window = std::make_unique<MainWindow>();
        pointAt(*window, port);
        window->show();
    }

    std::vector<double> latenessMs;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    qint64 lastUs = -1;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = PtyModule::nowUs();
        if (lastUs >= 0)
            latenessMs.push_back(std::max(0.0, (now - lastUs) / 1000.0 - probeMs));
        lastUs = now;
    });
    probe.start(probeMs);
    runEventsFor(seconds * 1000);
    return latenessMs;
}
} // namespace

void measureGuiStall(const Options &options, Report &report)
{
    const Stats idle = Stats::of(probeLateness(options.stallSeconds, QString()));
    PtyModule module;
    const Stats polling = Stats::of(probeLateness(options.stallSeconds, module.portName()));
    if (idle.count == 0 || polling.count == 0 || module.frames().isEmpty()) {
        report.addError(QStringLiteral("GUI stall: the probe or the poll did not run"));
        return;
    }

    const bool met = polling.max < targetMaxMs;
    report.addRow(QStringLiteral("GUI-thread stall (probe lateness) max"), Report::ms(polling.max),
                  QStringLiteral("< %1 ms").arg(targetMaxMs), met);
    report.addRow(QStringLiteral("GUI-thread probe lateness p99"), Report::ms(polling.p99));
    report.addRow(QStringLiteral("same probe, no window: max / p99"),
                  Report::ms(idle.max) + QStringLiteral(" / ") + Report::ms(idle.p99));
    report.setSection(QStringLiteral("gui_stall"),
                      QJsonObject{
                          {"seconds", options.stallSeconds},
                          {"probe_ms", probeMs},
                          {"lateness_ms", polling.toJson()},
                          {"lateness_without_window_ms", idle.toJson()},
                          {"frames_polled", module.frames().size()},
                          {"target_max_ms", targetMaxMs},
                          {"met", met},
                      });
}
