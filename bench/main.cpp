// iopanel-bench: times the panel's worker and window against the module
// stand-in and prints a table and JSON. It exits non-zero only on errors,
// not on missed targets.
//
//   iopanel-bench [--quick] [--json FILE]
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QThread>

#include <cstdio>
#include <cstring>

#include "measurements.h"
#include "options.h"
#include "panel.h"
#include "report.h"

namespace {
// The first line of /proc/<file> that starts with `key`, without the key.
QString procField(const char *file, const char *key)
{
    // /proc files claim size 0: read them whole rather than testing atEnd().
    QFile f(QStringLiteral("/proc/") + QLatin1String(file));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return QString::fromLocal8Bit(line.mid(line.indexOf(':') + 1)).trimmed();
    }
    return {};
}

// Other work on the machine skews the timings; the report says how busy it was.
QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2)
                                       : QString();
}

QJsonObject header(const Options &options)
{
    const QString buildType = QStringLiteral(IOPANEL_BENCH_BUILD_TYPE);
    return {
        {"mode", options.quick ? "quick" : "full"},
        {"qt_version", qVersion()},
        {"build_type", buildType.isEmpty() ? QStringLiteral("none") : buildType},
        {"machine",
         QJsonObject{
             {"cpus", QThread::idealThreadCount()},
             {"cpu_model", procField("cpuinfo", "model name")},
             {"memory", procField("meminfo", "MemTotal")},
             {"kernel", QSysInfo::kernelVersion()},
             {"load_average_at_start", loadAverage()},
         }},
    };
}

void step(const char *what)
{
    std::fprintf(stderr, "iopanel-bench: %s\n", what);
}
} // namespace

int main(int argc, char *argv[])
{
    // The child side of the panel-process measurements builds its own
    // application; see panelchild.cpp.
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--panel-child") == 0)
            return runPanelChild(argc, argv, QString::fromLocal8Bit(argv[i + 1]));
    }

    // Headless always, so that runs compare.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times the iopanel worker and window against a module stand-in."));
    parser.addHelpOption();
    const QCommandLineOption quick(QStringLiteral("quick"), QStringLiteral("A few seconds per measurement."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Also write the JSON to <file>."),
                                  QStringLiteral("file"));
    parser.addOption(quick);
    parser.addOption(json);
    parser.process(app);

    const Options options = parser.isSet(quick) ? Options::quickRun() : Options();
    silenceDebugOutput();

    Report report;
    step("exchange overhead");
    measureExchange(options, report);
    step("port reopen");
    measureReopen(options, report);
    step("poll period at the module");
    measurePollPeriod(options, report);
    step("GUI-thread stall");
    measureGuiStall(options, report);
    step("CPU and memory of the panel process");
    measurePanelProcess(options, report);
    step("close time");
    measureCloseTime(options, report);
    step("MQTT bridge");
    const double bridgeCommandP99Ms = measureBridge(options, report);
    step("the panel on the broker");
    measurePanelBroker(options, report, bridgeCommandP99Ms);

    const QByteArray document = QJsonDocument(report.json(header(options))).toJson();
    std::fputs(report.table().toLocal8Bit().constData(), stdout);
    std::fputs("\n", stdout);
    std::fputs(document.constData(), stdout);
    std::fflush(stdout);
    if (parser.isSet(json)) {
        QFile file(parser.value(json));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || file.write(document) != document.size()) {
            std::fprintf(stderr, "iopanel-bench: cannot write %s\n", qPrintable(parser.value(json)));
            return 1;
        }
    }
    return report.hasErrors() ? 1 : 0;
}
