// Exchange overhead: from the stand-in writing an instant reply to the
// worker's response reaching the GUI thread, minus the quiet interval that
// ends every reply.
#include <QEventLoop>
#include <QJsonObject>
#include <QTimer>

#include <vector>

#include "exchange.h"
#include "measurements.h"
#include "options.h"
#include "panel.h"
#include "ptymodule.h"
#include "report.h"
#include "serialthread.h"
#include "stats.h"

namespace {
constexpr int waitTimeoutMs = 50; // what the window passes to the worker
constexpr double targetP50Ms = 2.0;
} // namespace

void measureExchange(const Options &options, Report &report)
{
    PtyModule module;
    module.setInput(7, true);
    const QByteArray expected = "~A01000";
    SerialThread worker;

    // Stamps arrivals on this (the GUI) thread through queued connections.
    QEventLoop loop;
    QObject receiver;
    qint64 arrivedUs = -1;
    QByteArray reply;
    QString failure;
    QObject::connect(
        &worker, &SerialThread::response, &receiver,
        [&](const QByteArray &s) {
            arrivedUs = PtyModule::nowUs();
            reply = s;
            loop.quit();
        },
        Qt::QueuedConnection);
    const auto failed = [&](const QString &s) {
        failure = s;
        loop.quit();
    };
    QObject::connect(&worker, &SerialThread::error, &receiver, failed, Qt::QueuedConnection);
    QObject::connect(&worker, &SerialThread::timeout, &receiver, failed, Qt::QueuedConnection);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);

    std::vector<double> overheadMs, requestMs;
    int failures = 0;
    for (int i = 0; i < options.exchanges; ++i) {
        module.clearFrames();
        arrivedUs = -1;
        failure.clear();
        const qint64 submittedUs = PtyModule::nowUs();
        worker.submitRequest(module.portName(), waitTimeoutMs, QByteArray("~A"));
        guard.start(1000);
        loop.exec();
        guard.stop();

        const QList<PtyModule::Frame> frames = module.frames();
        if (arrivedUs < 0 || reply != expected || frames.size() != 1 || frames[0].repliedUs < 0) {
            ++failures;
            if (failures == 1)
                report.addError(
                    QStringLiteral("exchange %1 failed: %2")
                        .arg(i)
                        .arg(failure.isEmpty()
                                 ? QStringLiteral("no reply \"%1\"").arg(QString::fromLatin1(reply))
                                 : failure));
        } else {
            overheadMs.push_back((arrivedUs - frames[0].repliedUs) / 1000.0 - Exchange::quietMs);
            requestMs.push_back((frames[0].receivedUs - submittedUs) / 1000.0);
        }
        // The worker goes back to waiting just after it emits; a request
        // submitted before that would not wake it.
        runEventsFor(5);
    }

    const Stats overhead = Stats::of(overheadMs);
    const Stats request = Stats::of(requestMs);
    report.addRow(QStringLiteral("exchange overhead p50"), Report::ms(overhead.p50),
                  QStringLiteral("< %1 ms").arg(targetP50Ms),
                  overhead.count > 0 && overhead.p50 < targetP50Ms);
    report.addRow(QStringLiteral("exchange overhead p99"), Report::ms(overhead.p99));
    report.addRow(QStringLiteral("submit to frame at module p50 / p99"),
                  Report::ms(request.p50) + QStringLiteral(" / ") + Report::ms(request.p99));
    report.setSection(QStringLiteral("exchange"),
                      QJsonObject{
                          {"exchanges", options.exchanges},
                          {"failures", failures},
                          {"quiet_ms_subtracted", Exchange::quietMs},
                          {"overhead_ms", overhead.toJson()},
                          {"submit_to_frame_ms", request.toJson()},
                          {"target_p50_ms", targetP50Ms},
                          {"met", overhead.count > 0 && overhead.p50 < targetP50Ms},
                      });
}
