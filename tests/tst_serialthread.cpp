#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <utility>

#include "exchange.h"
#include "ptymodule.h"
#include "serialthread.h"

// The worker against the module stand-in on a pseudo-terminal.
Q_DECLARE_METATYPE(PtyModule::Reply)

namespace {
// The worker's signals as "response REPLY", "error MESSAGE" or "timeout MESSAGE".
class WorkerEvents : public QObject
{
public:
    explicit WorkerEvents(SerialThread *worker)
    {
        connect(worker, &SerialThread::response, this,
                [this](const QByteArray &reply) { seen << "response " + QString::fromLatin1(reply); });
        connect(worker, &SerialThread::error, this, [this](const QString &s) { seen << "error " + s; });
        connect(worker, &SerialThread::timeout, this, [this](const QString &s) { seen << "timeout " + s; });
    }

    QStringList seen;
};

const QRegularExpression
    readTimeout(QStringLiteral("^timeout Wait read response timeout \\d\\d:\\d\\d:\\d\\d$"));
const QRegularExpression
    writeTimeout(QStringLiteral("^timeout Wait write request timeout \\d\\d:\\d\\d:\\d\\d$"));
} // namespace

class TestSerialThread : public QObject
{
    Q_OBJECT

private slots:
    void replyThenSilence_data()
    {
        QTest::addColumn<PtyModule::Reply>("pieces");
        QTest::addColumn<QString>("expected");

        QTest::newRow("at once") << PtyModule::Reply{{0, "~A01000"}} << "~A01000";
        QTest::newRow("gaps under 20 ms join")
            << PtyModule::Reply{{0, "~A1"}, {6, "0"}, {6, "1"}, {6, "01"}} << "~A10101";
        QTest::newRow("a gap of 20 ms or more ends the reply")
            << PtyModule::Reply{{0, "~A1"}, {60, "LATE"}} << "~A1";
    }

    // A reply to "~A", the next one, then an output frame left unanswered.
    void replyThenSilence()
    {
        QFETCH(PtyModule::Reply, pieces);
        QFETCH(QString, expected);

        PtyModule module;
        module.setResponder([pieces](const QByteArray &) { return pieces; });
        SerialThread worker;
        WorkerEvents events(&worker);

        worker.submitRequest(module.portName(), 50, QStringLiteral("~A"));
        QTRY_COMPARE(events.seen, QStringList{"response " + expected});
        QCOMPARE(module.frames().size(), 1);
        QCOMPARE(module.frames()[0].bytes, QByteArray("~A"));

        // Bytes after the reply's end never surface: the port is cleared before writing.
        module.setResponder({});
        QTest::qWait(150);
        worker.submitRequest(module.portName(), 50, QStringLiteral("~A"));
        QTRY_COMPARE(events.seen.size(), 2);
        QCOMPARE(events.seen[1], QStringLiteral("response ~A00000"));

        // An unanswered output frame: one time-out, not one per retry.
        worker.submitRequest(module.portName(), 50, QByteArray("~P10001"));
        QTRY_COMPARE(module.outputs(), QStringLiteral("10001"));
        QTRY_COMPARE(events.seen.size(), 3);
        QVERIFY2(readTimeout.match(events.seen[2]).hasMatch(), qPrintable(events.seen[2]));
        QTest::qWait(300);
        QCOMPARE(events.seen.size(), 3);
    }

    void emptyPortNameAlternates()
    {
        SerialThread worker;
        WorkerEvents events(&worker);

        for (int round = 0; round < 2; ++round) {
            worker.submitRequest(QString(), 50, QStringLiteral("~A"));
            QTRY_COMPARE(events.seen.size(), 2 * round + 1);
            QVERIFY(writeTimeout.match(events.seen.last()).hasMatch());

            worker.submitRequest(QString(), 50, QStringLiteral("~A"));
            QTRY_COMPARE(events.seen.size(), 2 * round + 2);
            QVERIFY(events.seen.last().startsWith(QStringLiteral("error Can't open , error code ")));
            QVERIFY(worker.wait(2000));
        }
    }

    void requestDuringExchangeIsPerformedNext()
    {
        PtyModule module;
        module.setResponder([](const QByteArray &frame) { return PtyModule::Reply{{30, frame}}; });
        SerialThread worker;
        WorkerEvents events(&worker);

        worker.submitRequest(module.portName(), 500, QStringLiteral("~A"));
        QVERIFY(module.waitForFrames(1, 2000));
        // Of two requests made during the exchange only the later is performed.
        worker.submitRequest(module.portName(), 500, QStringLiteral("~S1"));
        worker.submitRequest(module.portName(), 500, QStringLiteral("~R2"));
        QTRY_COMPARE(events.seen, (QStringList{"response ~A", "response ~R2"}));
        QTest::qWait(150);
        QCOMPARE(module.frames().size(), 2);
        QCOMPARE(module.frames()[1].bytes, QByteArray("~R2"));
    }

    void latestRequestIsPerformedAfterFailedOpens()
    {
        // Requests come while failed opens end runs: the last is still performed.
        SerialThread worker;
        WorkerEvents events(&worker);
        QString last;
        for (int request = 0; request < 200; ++request) {
            last = QStringLiteral("/nonexistent/iopanel-port-%1").arg(request);
            worker.submitRequest(last, 50, QStringLiteral("~A"));
            QThread::usleep(static_cast<unsigned long>(QRandomGenerator::global()->bounded(300)));
        }
        QTRY_VERIFY(!events.seen.isEmpty() && events.seen.last().contains(last + QLatin1Char(',')));
        QVERIFY(worker.wait(2000));
        const QRegularExpression openError(
            QStringLiteral("^error Can't open /nonexistent/iopanel-port-\\d+, error code [1-9]\\d*$"));
        for (const QString &event : std::as_const(events.seen))
            QVERIFY2(openError.match(event).hasMatch(), qPrintable(event));
    }

    void floodIsBounded()
    {
        PtyModule module;
        module.startFlood(QByteArray(64, 'x'), 0);
        SerialThread worker;
        WorkerEvents events(&worker);

        QElapsedTimer clock;
        clock.start();
        worker.submitRequest(module.portName(), 50, QStringLiteral("~A"));
        QTRY_COMPARE(events.seen.size(), 1);
        QVERIFY(events.seen[0].startsWith(QLatin1String("response x")));
        QVERIFY(events.seen[0].size() <= int(qstrlen("response ")) + Exchange::maxReplyBytes);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }

    void destroyReturnsPromptly_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<int>("boundMs");
        QTest::newRow("before any request") << "idle" << 500;
        QTest::newRow("while waiting for a request") << "waiting" << 500;
        QTest::newRow("during an exchange") << "exchange" << 1000;
        QTest::newRow("during an exchange, a request pending") << "pending" << 1000;
        QTest::newRow("during a flood") << "flood" << 2000;
    }

    void destroyReturnsPromptly()
    {
        QFETCH(QString, when);
        QFETCH(int, boundMs);

        PtyModule module;
        auto worker = std::make_unique<SerialThread>();
        WorkerEvents events(worker.get());
        if (when == QLatin1String("exchange") || when == QLatin1String("pending"))
            module.setResponder([](const QByteArray &) { return PtyModule::Reply(); });
        if (when == QLatin1String("flood"))
            module.startFlood(QByteArray(64, 'x'), 0);
        if (when != QLatin1String("idle")) {
            worker->submitRequest(module.portName(), 50, QStringLiteral("~A"));
            QVERIFY(module.waitForFrames(1, 2000));
        }
        if (when == QLatin1String("waiting"))
            QTRY_COMPARE(events.seen.size(), 1);
        if (when == QLatin1String("pending"))
            worker->submitRequest(module.portName(), 50, QStringLiteral("~P10000"));

        QElapsedTimer clock;
        clock.start();
        worker.reset();
        QVERIFY2(clock.elapsed() < boundMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(module.frames().size(), when == QLatin1String("idle") ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestSerialThread)
#include "tst_serialthread.moc"
