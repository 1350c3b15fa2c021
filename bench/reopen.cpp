// Port reopen cost: the worker closes and reopens the port for every
// exchange, so what one close and open of the pty costs (with the toolkit's
// lock file) is paid between a poll tick and its frame reaching the module.
#include <QJsonObject>
#include <QSerialPort>

#include <vector>

#include "measurements.h"
#include "options.h"
#include "ptymodule.h"
#include "report.h"
#include "stats.h"

void measureReopen(const Options &options, Report &report)
{
    PtyModule module;
    QSerialPort port(module.portName());
    std::vector<double> reopenMs;
    for (int i = 0; i < options.exchanges; ++i) {
        const qint64 startUs = PtyModule::nowUs();
        port.close();
        if (!port.open(QIODevice::ReadWrite)) {
            report.addError(
                QStringLiteral("port reopen: cannot open %1: %2").arg(port.portName(), port.errorString()));
            return;
        }
        reopenMs.push_back((PtyModule::nowUs() - startUs) / 1000.0);
    }
    const Stats reopen = Stats::of(reopenMs);
    report.addRow(QStringLiteral("port reopen (close + open) p50 / p99"),
                  Report::ms(reopen.p50) + QStringLiteral(" / ") + Report::ms(reopen.p99));
    report.setSection(QStringLiteral("port_reopen"), QJsonObject{{"reopen_ms", reopen.toJson()}});
}
