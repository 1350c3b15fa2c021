// Poll period at the module: the spacing of the frames a polling window
// sends to a stand-in that answers at once. To tell the timer's share of the
// jitter from the worker's, the window's poll ticks are stamped too.
#include <QCoreApplication>
#include <QJsonObject>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
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

// Stamps the timer events of 100 ms timers on the GUI thread (the window's
// poll timer has no parent to find it by), seen before the tick runs.
class TickStamps : public QObject
{
public:
    std::vector<qint64> us;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer) {
            const auto *timer = qobject_cast<QTimer *>(watched);
            if (timer && timer->interval() == int(periodMs))
                us.push_back(PtyModule::nowUs());
        }
        return false;
    }
};

std::vector<double> spacingMs(const std::vector<qint64> &us)
{
    std::vector<double> ms;
    for (size_t i = 1; i < us.size(); ++i)
        ms.push_back((us[i] - us[i - 1]) / 1000.0);
    return ms;
}
} // namespace

void measurePollPeriod(const Options &options, Report &report)
{
    PtyModule module;
    TickStamps ticks;
    {
        MainWindow window;
        pointAt(window, module.portName());
        window.show();
        QCoreApplication::instance()->installEventFilter(&ticks);
        runEventsFor(options.pollSeconds * 1000);
        QCoreApplication::instance()->removeEventFilter(&ticks);
    }

    std::vector<double> intervalsMs, deviationsMs, replyDelaysMs, tickToFrameMs;
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
        // The tick that sent this frame: the last one before it arrived.
        const auto tick = std::lower_bound(ticks.us.begin(), ticks.us.end(), frame.receivedUs);
        if (tick != ticks.us.begin())
            tickToFrameMs.push_back((frame.receivedUs - *(tick - 1)) / 1000.0);
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
    const Stats tickIntervals = Stats::of(spacingMs(ticks.us));
    const Stats tickToFrame = Stats::of(tickToFrameMs);
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
    report.addRow(QStringLiteral("poll timer tick spacing p1 / p99"),
                  Report::ms(tickIntervals.p1) + QStringLiteral(" / ") + Report::ms(tickIntervals.p99));
    report.addRow(QStringLiteral("poll tick to frame at module p50 / p99"),
                  Report::ms(tickToFrame.p50) + QStringLiteral(" / ") + Report::ms(tickToFrame.p99));
    report.setSection(QStringLiteral("poll_period"),
                      QJsonObject{
                          {"seconds", options.pollSeconds},
                          {"interval_ms", intervals.toJson()},
                          {"deviation_from_100ms", deviations.toJson()},
                          {"lost_ticks", lostTicks},
                          {"timer_tick_interval_ms", tickIntervals.toJson()},
                          {"tick_to_frame_ms", tickToFrame.toJson()},
                          {"module_reply_delay_ms", replyDelays.toJson()},
                          {"unanswered_queries", unanswered},
                          {"target_p99_deviation_ms", toleranceMs},
                          {"met", periodMet && lostTicks == 0},
                      });
}
