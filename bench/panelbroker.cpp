// The panel on the broker, through the bridge (iopanel-mqtt, as built, on
// the module stand-in) and a mosquitto of the bench's own. A window of this
// process watching a ModuleFeed, offscreen, is timed from an input switched
// at the module to its lamp drawn (told by the window as it draws it), and
// from a click on an output box to its frame at the module with the bridge
// otherwise idle. Then the panel program idle on the broker beside the same
// program polling a port (panelidle.cpp).
#include <QCheckBox>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>

#include <vector>

#include "mainwindow.h"
#include "measurements.h"
#include "modulefeed.h"
#include "mqttprobe.h"
#include "options.h"
#include "panel.h"
#include "panelevents.h"
#include "panelidle.h"
#include "ptymodule.h"
#include "report.h"
#include "sidebyside.h"
#include "stats.h"

namespace {
constexpr int bridgeIntervalMs = 100;
constexpr double targetLampMs = bridgeIntervalMs + 100;
constexpr double clickAllowanceMs = 100; // plus the bridge's own turn
constexpr double targetIdleRatio = 1.0;
constexpr int waitMs = 2000;
constexpr int startMs = 10000;

QString topic()
{
    return QStringLiteral("bench/p");
}

// As the bridge's rows: spread over the poll cycle, so that changes and
// clicks land at any point of it.
int changeSpacingMs()
{
    return 150 + QRandomGenerator::global()->bounded(100);
}

// Lamp 6 as the window draws it, stamped on the GUI thread right then.
class LampStamps : public PanelEvents
{
public:
    struct Drawn
    {
        qint64 us;
        bool on;
    };
    std::vector<Drawn> drawn;

    void lampSet(int channel, bool on) override
    {
        if (channel == 6)
            drawn.push_back({PtyModule::nowUs(), on});
    }
    void frameSent(const QString &) override { }
    void statusMessageShown(const QString &) override { }
};

struct Trials
{
    std::vector<double> ms;
    int lost = 0;
};

Trials inputsToLamps(PtyModule &module, const LampStamps &lamps, int changes)
{
    Trials trials;
    for (int n = 0; n < changes; ++n) {
        runEventsFor(changeSpacingMs());
        const bool on = n % 2 == 0;
        size_t at = lamps.drawn.size();
        const qint64 switchedUs = PtyModule::nowUs();
        module.setInput(6, on);
        const auto drawn = [&] {
            for (; at < lamps.drawn.size(); ++at)
                if (lamps.drawn[at].on == on)
                    return true;
            return false;
        };
        if (runEventsUntil(drawn, waitMs))
            trials.ms.push_back((lamps.drawn[at].us - switchedUs) / 1000.0);
        else
            ++trials.lost;
    }
    return trials;
}

Trials clicksToFrames(PtyModule &module, QCheckBox *box, int clicks)
{
    Trials trials;
    for (int n = 0; n < clicks; ++n) {
        runEventsFor(changeSpacingMs());
        const bool on = !box->isChecked();
        const QByteArray frame = on ? "~S3" : "~R3";
        module.clearFrames();
        const qint64 clickedUs = PtyModule::nowUs();
        box->click();
        qint64 reachedUs = -1;
        const auto reached = [&] {
            for (const PtyModule::Frame &f : module.frames())
                if (f.bytes == frame) {
                    reachedUs = f.receivedUs;
                    return true;
                }
            return false;
        };
        if (runEventsUntil(reached, waitMs))
            trials.ms.push_back((reachedUs - clickedUs) / 1000.0);
        else
            ++trials.lost;
    }
    return trials;
}

// The window on the broker, in this process: both kinds of trial. Errors go
// to the report; an empty result where the window never showed the module.
bool timeWindow(const Options &options, int brokerPort, PtyModule &module, Trials &lamps, Trials &clicks,
                Report &report)
{
    BrokerSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = brokerPort;
    settings.clientId = QStringLiteral("iopanel-bench-window");
    // Connected before the window exists, as the panel program does it: no
    // event loop runs while the window could still poll a port.
    ModuleFeed feed(settings, topic());
    QString problem = feed.start();
    if (problem.isEmpty())
        problem = feed.waitForRefusal(5000);
    if (!problem.isEmpty()) {
        report.addError(QStringLiteral("panel on the broker: ") + problem);
        return false;
    }
    LampStamps stamps;
    MainWindow window;
    window.setEvents(&stamps);
    window.watchFeed(&feed);
    window.show();
    auto *box = window.findChild<QCheckBox *>(QStringLiteral("checkBox_3"));
    // Ready once the bridge's first inputs report is drawn. Its outputs
    // are unknown until a command sets them (the module does not report
    // them): box 3 starts unchecked, and its first click sets output 3.
    const bool shown = runEventsUntil([&] { return !stamps.drawn.empty(); }, startMs);
    if (!box || !shown) {
        report.addError(QStringLiteral("panel on the broker: the window never showed the module"));
        return false;
    }
    lamps = inputsToLamps(module, stamps, options.bridgeChanges);
    clicks = clicksToFrames(module, box, options.bridgeChanges);
    window.setEvents(nullptr);
    return true;
}
} // namespace

void measurePanelBroker(const Options &options, Report &report, double bridgeCommandP99Ms)
{
    if (!BenchBroker::available()) {
        report.addRow(QStringLiteral("panel on the broker"),
                      QStringLiteral("skipped: mosquitto is not installed"));
        return;
    }
    BenchBroker broker;
    PtyModule module;
    module.setInput(6, false);
    if (!broker.start()) {
        report.addError(QStringLiteral("panel on the broker: the bench's broker did not start"));
        return;
    }
    QProcess bridge;
    bridge.setStandardOutputFile(QProcess::nullDevice());
    bridge.setStandardErrorFile(QProcess::nullDevice());
    bridge.start(QStringLiteral(IOPANEL_MQTT),
                 {"--port", module.portName(), "--broker", QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                  "--topic", topic(), "--interval", QString::number(bridgeIntervalMs)});

    Trials lamps, clicks;
    if (!timeWindow(options, broker.port(), module, lamps, clicks, report)) {
        SideBySide::stop(bridge);
        return;
    }
    const IdlePanels idle = measureIdlePanels(broker.port(), topic(), options.idleSeconds);
    SideBySide::stop(bridge);
    if (!idle.error.isEmpty())
        report.addError(QStringLiteral("panel on the broker, idle CPU: ") + idle.error);
    if (lamps.lost + clicks.lost > 0)
        report.addError(
            QStringLiteral("panel on the broker: %1 lamps never drawn, %2 clicks never reached the module")
                .arg(lamps.lost)
                .arg(clicks.lost));

    const Stats lamp = Stats::of(lamps.ms);
    const Stats click = Stats::of(clicks.ms);
    report.addRow(QStringLiteral("broker panel: input at module to lamp p50"), Report::ms(lamp.p50));
    report.addRow(QStringLiteral("broker panel: input at module to lamp p99"), Report::ms(lamp.p99),
                  QStringLiteral("<= %1 ms").arg(targetLampMs), lamp.count > 0 && lamp.p99 <= targetLampMs);
    report.addRow(QStringLiteral("broker panel: click to frame at module p50"), Report::ms(click.p50));
    const double targetClickMs = clickAllowanceMs + bridgeCommandP99Ms;
    if (bridgeCommandP99Ms < 0)
        report.addRow(QStringLiteral("broker panel: click to frame at module p99"), Report::ms(click.p99),
                      QStringLiteral("bridge's p99 unknown"));
    else
        report.addRow(
            QStringLiteral("broker panel: click to frame at module p99"), Report::ms(click.p99),
            QStringLiteral("<= %1 + bridge's %2 ms").arg(clickAllowanceMs).arg(bridgeCommandP99Ms, 0, 'f', 2),
            click.count > 0 && click.p99 <= targetClickMs);
    const double ratio = idle.pollingCpu > 0 ? idle.brokerCpu / idle.pollingCpu : -1;
    report.addRow(QStringLiteral("idle panel CPU, on broker / polling a port"),
                  QStringLiteral("%1 % / %2 % = %3")
                      .arg(100 * idle.brokerCpu, 0, 'f', 3)
                      .arg(100 * idle.pollingCpu, 0, 'f', 3)
                      .arg(ratio, 0, 'f', 2),
                  QStringLiteral("ratio <= %1").arg(targetIdleRatio, 0, 'f', 1),
                  ratio >= 0 && ratio <= targetIdleRatio);
    report.setSection(QStringLiteral("panel_broker"),
                      QJsonObject{{"bridge_interval_ms", bridgeIntervalMs},
                                  {"input_to_lamp_ms", lamp.toJson()},
                                  {"click_to_module_ms", click.toJson()},
                                  {"bridge_command_p99_ms", bridgeCommandP99Ms},
                                  {"target_click_ms", targetClickMs},
                                  {"idle_seconds_measured", options.idleSeconds},
                                  {"idle_broker_panel_cpu_percent", 100 * idle.brokerCpu},
                                  {"idle_polling_panel_cpu_percent", 100 * idle.pollingCpu},
                                  {"idle_polling_panel_frames", idle.polls},
                                  {"idle_cpu_ratio", ratio}});
}
