// Close time: from the window's close request to the end of main in a panel
// process, with the line idle and while the stand-in floods it.
#include <QJsonArray>
#include <QJsonObject>

#include <chrono>
#include <thread>
#include <vector>

#include "measurements.h"
#include "options.h"
#include "panelprocess.h"
#include "ptymodule.h"
#include "report.h"
#include "stats.h"

namespace {
constexpr double targetIdleMs = 150;
constexpr double targetFloodMs = 700;

// What the stand-in sends unasked while the panel closes. Well-formed
// chatter, so the panel decodes what arrives. A fast flood fills the
// worker's reply size bound within milliseconds; a trickle never leaves the
// line quiet for the quiet interval yet stays under the size bound, so each
// reply runs to its time bound: the slowest case for a close.
struct Flood
{
    const char *name;
    QByteArray chunk; // empty: no flood
    int gapMs;
    double targetMs;
};

const Flood floods[] = {
    {"idle", {}, 0, targetIdleMs},
    {"fast flood", QByteArray("~A10101").repeated(32), 0, targetFloodMs},
    {"trickle flood", QByteArray("~A10101"), 5, targetFloodMs},
};

// Close times of `runs` panel processes, each closed after polling a while;
// the delay varies over 600 ms (a 500 ms reply and the tick after it) so that
// closes land at different points of the worker's cycle.
// Returns an empty list on failure.
std::vector<double> closeTimes(int runs, const Flood &flood, Report &report)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        PtyModule module;
        PanelProcess panel;
        if (!panel.startPolling(module)) {
            report.addError(QStringLiteral("close time: ") + panel.failure());
            return {};
        }
        if (!flood.chunk.isEmpty())
            module.startFlood(flood.chunk, flood.gapMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + run * 137 % 600));
        const double ms = panel.close();
        module.stopFlood();
        if (ms < 0) {
            report.addError(QStringLiteral("close time: ") + panel.failure());
            return {};
        }
        times.push_back(ms);
    }
    return times;
}
} // namespace

void measureCloseTime(const Options &options, Report &report)
{
    QJsonObject json;
    for (const Flood &flood : floods) {
        const std::vector<double> times = closeTimes(options.closeRuns, flood, report);
        if (times.empty())
            return;
        const Stats s = Stats::of(times);
        const bool met = s.max < flood.targetMs;
        report.addRow(QStringLiteral("close time %1, median / max of %2").arg(flood.name).arg(s.count),
                      Report::ms(s.p50) + QStringLiteral(" / ") + Report::ms(s.max),
                      QStringLiteral("max < %1 ms").arg(flood.targetMs), met);
        QJsonArray runs;
        for (double t : times)
            runs.append(t);
        json.insert(QString::fromLatin1(flood.name).replace(QLatin1Char(' '), QLatin1Char('_')),
                    QJsonObject{
                        {"runs_ms", runs},
                        {"median_ms", s.p50},
                        {"max_ms", s.max},
                        {"flood_chunk_bytes", flood.chunk.size()},
                        {"flood_gap_ms", flood.gapMs},
                        {"target_max_ms", flood.targetMs},
                        {"met", met},
                    });
    }
    report.setSection(QStringLiteral("close_time"), json);
}
