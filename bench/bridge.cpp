// The MQTT bridge (iopanel-mqtt) between the module stand-in and a mosquitto
// of the bench's own, timed as a dashboard sees it: an input switched at
// the module to its message at a subscriber, a command published to its
// frame at the module with the bridge idle, and the bridge's CPU and memory
// beside a minimal C poller (the floor) on a stand-in of its own, measured
// over the same seconds, and beside iopanelctl watch polling the same module
// at the same interval.
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>

#include <chrono>
#include <thread>
#include <vector>

#include "measurements.h"
#include "mqttprobe.h"
#include "options.h"
#include "procstat.h"
#include "ptymodule.h"
#include "report.h"
#include "sidebyside.h"
#include "stats.h"

namespace {
constexpr int intervalMs = 100;
constexpr double targetInputMs = intervalMs + 60;
constexpr double targetCommandMs = 60;
constexpr double targetCpuRatio = 1.2;
constexpr double targetFloorRatio = 2.5;
constexpr double targetRssMb = 20;
constexpr int warmUpMs = 1000;

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Spread over the poll cycle, so that changes and commands land at any point of it.
int spacingMs()
{
    return 150 + QRandomGenerator::global()->bounded(100);
}
} // namespace

double measureBridge(const Options &options, Report &report)
{
    if (!BenchBroker::available()) {
        report.addRow(QStringLiteral("MQTT bridge"), QStringLiteral("skipped: mosquitto is not installed"));
        return -1;
    }
    BenchBroker broker;
    PtyModule module;
    MqttProbe probe;
    if (!broker.start() || !probe.connect(broker.port(), QStringLiteral("bench/b/#"))) {
        report.addError(QStringLiteral("MQTT bridge: the bench's broker did not start"));
        return -1;
    }
    QProcess bridge;
    bridge.setStandardOutputFile(QProcess::nullDevice());
    bridge.setStandardErrorFile(QProcess::nullDevice());
    bridge.start(QStringLiteral(IOPANEL_MQTT),
                 {"--port", module.portName(), "--broker", QStringLiteral("127.0.0.1:%1").arg(broker.port()),
                  "--topic", "bench/b", "--interval", QString::number(intervalMs)});
    const auto isOnline = [](const MqttProbe::Message &m) {
        return m.topic == QLatin1String("bench/b/status") && m.payload == "online";
    };
    if (probe.waitFor(0, isOnline, 10000) < 0) {
        report.addError(QStringLiteral("MQTT bridge: no 'online' from the bridge"));
        return -1;
    }

    std::vector<double> inputMs, commandMs;
    int lost = 0;
    for (int n = 0; n < options.bridgeChanges; ++n) {
        pause(spacingMs());
        const bool on = n % 2 == 0;
        const QByteArray wanted = on ? "\"6\":true" : "\"6\":false";
        const size_t from = probe.count();
        const qint64 switchedUs = PtyModule::nowUs();
        module.setInput(6, on);
        const int at = probe.waitFor(
            from,
            [&](const MqttProbe::Message &m) {
                return m.topic == "bench/b/inputs" && m.payload.contains(wanted);
            },
            2000);
        at < 0 ? ++lost : (inputMs.push_back((probe.at(size_t(at)).us - switchedUs) / 1000.0), 0);
    }
    for (int n = 0; n < options.bridgeChanges; ++n) {
        pause(spacingMs());
        const QByteArray frame = n % 2 ? "~R3" : "~S3";
        module.clearFrames();
        const qint64 publishedUs = PtyModule::nowUs();
        probe.publish(QStringLiteral("bench/b/set"), n % 2 ? "reset 3" : "set 3");
        bool seen = false;
        for (int waited = 0; waited < 2000 && !seen; waited += 2) {
            for (const PtyModule::Frame &f : module.frames())
                if (f.bytes == frame) {
                    commandMs.push_back((f.receivedUs - publishedUs) / 1000.0);
                    seen = true;
                }
            if (!seen)
                pause(2);
        }
        lost += seen ? 0 : 1;
    }
    // The floor poller on a stand-in of its own, at the same interval, measured
    // over the same seconds as the bridge.
    PtyModule floorModule;
    QProcess floor;
    floor.setStandardOutputFile(QProcess::nullDevice());
    floor.start(QStringLiteral(IOPANEL_FLOOR_POLLER),
                {floorModule.portName(), QString::number(options.cpuSeconds + warmUpMs / 1000 + 5),
                 QString::number(intervalMs)});
    const std::vector<double> cpu = SideBySide::cpuOver({&bridge, &floor}, options.cpuSeconds, warmUpMs);
    const double bridgeCpu = cpu[0], floorCpu = floorModule.frames().isEmpty() ? -1 : cpu[1];
    const double peakMb = ProcStat::peakRssKb(bridge.processId()) / 1024.0;
    SideBySide::stop(bridge);
    SideBySide::stop(floor);
    if (floorCpu < 0)
        report.addError(QStringLiteral("MQTT bridge: the floor poller polled nothing"));

    // iopanelctl watch on the same module at the same interval, for comparison.
    QProcess watch;
    watch.setStandardOutputFile(QProcess::nullDevice());
    watch.start(QStringLiteral(IOPANELCTL),
                {"--port", module.portName(), "watch", "--interval", QString::number(intervalMs)});
    const double watchCpu = SideBySide::cpuOver({&watch}, options.cpuSeconds, warmUpMs)[0];
    SideBySide::stop(watch);

    const Stats inputs = Stats::of(inputMs);
    const Stats commands = Stats::of(commandMs);
    const double ratio = watchCpu > 0 ? bridgeCpu / watchCpu : -1;
    const double floorRatio = floorCpu > 0 ? bridgeCpu / floorCpu : -1;
    report.addRow(QStringLiteral("bridge: input at module to subscriber p50"), Report::ms(inputs.p50));
    report.addRow(QStringLiteral("bridge: input at module to subscriber p99"), Report::ms(inputs.p99),
                  QStringLiteral("<= %1 ms").arg(targetInputMs),
                  inputs.count > 0 && inputs.p99 <= targetInputMs);
    report.addRow(QStringLiteral("bridge: command published to module p50"), Report::ms(commands.p50));
    report.addRow(QStringLiteral("bridge: command published to module p99"), Report::ms(commands.p99),
                  QStringLiteral("<= %1 ms").arg(targetCommandMs),
                  commands.count > 0 && commands.p99 <= targetCommandMs);
    report.addRow(QStringLiteral("bridge / iopanelctl watch CPU (one core)"),
                  QStringLiteral("%1 % / %2 % = %3")
                      .arg(100 * bridgeCpu, 0, 'f', 3)
                      .arg(100 * watchCpu, 0, 'f', 3)
                      .arg(ratio, 0, 'f', 2),
                  QStringLiteral("ratio <= %1").arg(targetCpuRatio), ratio >= 0 && ratio <= targetCpuRatio);
    report.addRow(QStringLiteral("bridge / floor poller CPU, side by side"),
                  QStringLiteral("%1 % / %2 % = %3")
                      .arg(100 * bridgeCpu, 0, 'f', 3)
                      .arg(100 * floorCpu, 0, 'f', 3)
                      .arg(floorRatio, 0, 'f', 2),
                  QStringLiteral("ratio <= %1").arg(targetFloorRatio),
                  floorRatio >= 0 && floorRatio <= targetFloorRatio);
    report.addRow(QStringLiteral("bridge peak RSS (VmHWM)"), QString::number(peakMb, 'f', 1) + " MB",
                  QStringLiteral("< %1 MB").arg(targetRssMb), peakMb > 0 && peakMb < targetRssMb);
    if (lost > 0)
        report.addError(QStringLiteral("MQTT bridge: %1 changes or commands never arrived").arg(lost));
    report.setSection(QStringLiteral("bridge"),
                      QJsonObject{{"interval_ms", intervalMs},
                                  {"input_to_subscriber_ms", inputs.toJson()},
                                  {"command_to_module_ms", commands.toJson()},
                                  {"cpu_seconds_measured", options.cpuSeconds},
                                  {"bridge_cpu_percent", 100 * bridgeCpu},
                                  {"watch_cpu_percent", 100 * watchCpu},
                                  {"cpu_ratio", ratio},
                                  {"floor_cpu_percent", 100 * floorCpu},
                                  {"floor_cpu_ratio", floorRatio},
                                  {"peak_rss_kb", peakMb * 1024}});
    return commands.count > 0 ? commands.p99 : -1;
}
