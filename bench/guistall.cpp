// GUI-thread stall: how late a 5 ms precise probe timer fires on the GUI
// thread while a window polls an answering stand-in.
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
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
} // namespace

void measureGuiStall(const Options &options, Report &report)
{
    PtyModule module;
    std::vector<double> latenessMs;
    {
        MainWindow window;
        pointAt(window, module.portName());
        window.show();

        // Lateness of a firing: how much longer than the probe period the
        // GUI thread kept it waiting since the one before.
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
        runEventsFor(options.stallSeconds * 1000);
    }

    if (latenessMs.empty() || module.frames().isEmpty()) {
        report.addError(QStringLiteral("GUI stall: the probe or the poll did not run"));
        return;
    }
    const Stats lateness = Stats::of(latenessMs);
    const bool met = lateness.max < targetMaxMs;
    report.addRow(QStringLiteral("GUI-thread stall (probe lateness) max"), Report::ms(lateness.max),
                  QStringLiteral("< %1 ms").arg(targetMaxMs), met);
    report.addRow(QStringLiteral("GUI-thread probe lateness p99"), Report::ms(lateness.p99));
    report.setSection(QStringLiteral("gui_stall"), QJsonObject{
        {"seconds", options.stallSeconds},
        {"probe_ms", probeMs},
        {"lateness_ms", lateness.toJson()},
        {"frames_polled", module.frames().size()},
        {"target_max_ms", targetMaxMs},
        {"met", met},
    });
}
