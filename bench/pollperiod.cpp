// Poll period at the module: the spacing of the frames a polling window
// sends to a stand-in that answers at once.
#include <QJsonObject>

#include <cmath>
#include <vector>

#include "mainwindow.h"
#include "measurements.h"
#include "options.h"
#include "panel.h"
#include "ptymodule.h"
#include "report.h"
#include "stats.h"

namespace {
constexpr double periodMs = 100;
constexpr double toleranceMs = 5;
constexpr double lostTickMs = 150; // a gap this long means a tick sent nothing
} // namespace

void measurePollPeriod(const Options &options, Report &report)
{
    PtyModule module;
    {
        MainWindow window;
        pointAt(window, module.portName());
        window.show();
        runEventsFor(options.pollSeconds * 1000);
    }

    std::vector<double> intervalsMs, deviationsMs, replyDelaysMs;
    qint64 previousUs = -1;
    int lostTicks = 0;
    int unanswered = 0;
    for (const PtyModule::Frame &frame : module.frames()) {
        if (!ModuleLogic::isFrame(frame.bytes))
            continue;
        if (frame.bytes.startsWith("~A")) {
            if (frame.repliedUs < 0)
                ++unanswered;
            else
                replyDelaysMs.push_back((frame.repliedUs - frame.receivedUs) / 1000.0);
        }
        if (previousUs >= 0) {
            const double ms = (frame.receivedUs - previousUs) / 1000.0;
            intervalsMs.push_back(ms);
            deviationsMs.push_back(std::abs(ms - periodMs));
            if (ms > lostTickMs)
                ++lostTicks;
        }
        previousUs = frame.receivedUs;
    }

    if (intervalsMs.size() < 2) {
        report.addError(QStringLiteral("poll period: the module received %1 frames").arg(intervalsMs.size()));
        return;
    }
    const Stats intervals = Stats::of(intervalsMs);
    const Stats deviations = Stats::of(deviationsMs);
    const Stats replyDelays = Stats::of(replyDelaysMs);
    const bool periodMet = deviations.p99 <= toleranceMs;

    report.addRow(QStringLiteral("poll period p50"), Report::ms(intervals.p50));
    report.addRow(QStringLiteral("poll period p1 / p99 / max"),
                  Report::ms(intervals.p1) + QStringLiteral(" / ") + Report::ms(intervals.p99)
                      + QStringLiteral(" / ") + Report::ms(intervals.max));
    report.addRow(QStringLiteral("poll period p99 |deviation from 100 ms|"), Report::ms(deviations.p99),
                  QStringLiteral("<= %1 ms").arg(toleranceMs), periodMet);
    report.addRow(QStringLiteral("poll ticks lost (gap > 150 ms)"),
                  QStringLiteral("%1 of %2").arg(lostTicks).arg(intervals.count), QStringLiteral("0"),
                  lostTicks == 0);
    report.setSection(QStringLiteral("poll_period"), QJsonObject{
        {"seconds", options.pollSeconds},
        {"interval_ms", intervals.toJson()},
        {"deviation_from_100ms", deviations.toJson()},
        {"lost_ticks", lostTicks},
        {"module_reply_delay_ms", replyDelays.toJson()},
        {"unanswered_queries", unanswered},
        {"target_p99_deviation_ms", toleranceMs},
        {"met", periodMet && lostTicks == 0},
    });
}
