#include <QCheckBox>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <ctime>
#include <utility>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ptymodule.h"
#include "windowtesting.h"

namespace {
// Fails when the process burns more than half a core over `ms` of waiting.
bool staysIdle(int ms)
{
    const std::clock_t before = std::clock();
    QTest::qWait(ms);
    const double usedMs = double(std::clock() - before) * 1000 / CLOCKS_PER_SEC;
    if (usedMs > ms / 2)
        qWarning("used %.0f ms of CPU in %d ms", usedMs, ms);
    return usedMs <= ms / 2;
}

// As root, permissionDenied() runs again in a child that drops to nobody.
constexpr char deniedPortVariable[] = "IOPANEL_TEST_DENIED_PORT";
constexpr uid_t nobody = 65534;
} // namespace

// The panel on a broken, noisy or vanishing line: it works on, never spins, closes promptly.
class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void unplugAndReplug()
    {
        PtyModule module;
        module.setInput(7, true);
        auto window = windowOn(module.portName());
        QTRY_COMPARE(lamps(*window), QStringLiteral("01000"));

        const QString oldPort = module.portName();
        module.unplug();
        QTRY_VERIFY(
            window->statusBar()->currentMessage().startsWith(QStringLiteral("Can't open ") + oldPort));
        QVERIFY(staysIdle(1000));
        QCOMPARE(lamps(*window), QStringLiteral("01000"));

        module.replug();
        module.setInput(7, false);
        module.setInput(9, true);
        pointAt(*window, module.portName());
        QTRY_COMPARE(lamps(*window), QStringLiteral("00010"));
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_3"))->setChecked(true);
        QTRY_COMPARE(module.outputs(), QStringLiteral("00100"));
    }

    // (A flood is tst_serialthread's: the worker's replies stay bounded.)
    void garbageAndPartialFrames()
    {
        PtyModule module;
        module.setInput(10, true);
        QRandomGenerator random(20261207);
        const QList<QByteArray> pieces = {"~",    "~G", "~G6", "~A1",         "~I12",
                                          "\r\n", "~Z", "~GZ", "~A10101\r\n", "\x00\xff"};
        module.setResponder([&random, pieces](const QByteArray &) {
            PtyModule::Reply reply;
            const int count = random.bounded(1, 5);
            for (int i = 0; i < count; ++i)
                reply.append({random.bounded(0, 12), pieces.at(random.bounded(pieces.size()))});
            return reply;
        });
        auto window = windowOn(module.portName());
        QTRY_VERIFY_WITH_TIMEOUT(module.frames().size() >= 30, 10000);

        module.setResponder({});
        QTRY_COMPARE(lamps(*window), QStringLiteral("00001"));
    }

    // A plain file is no serial port: the open fails after the file opened.
    void unopenablePort()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        auto window = windowOn(file.fileName());
        const QRegularExpression message(QStringLiteral("^Can't open %1, error code [1-9]\\d*$")
                                             .arg(QRegularExpression::escape(file.fileName())));
        QTRY_VERIFY(message.match(window->statusBar()->currentMessage()).hasMatch());
        QVERIFY(staysIdle(1000));
    }

    void permissionDenied()
    {
        QString port = qEnvironmentVariable(deniedPortVariable);
        std::unique_ptr<PtyModule> module;
        if (port.isEmpty()) {
            module = std::make_unique<PtyModule>();
            port = module->portName();
            const QByteArray path = QFile::encodeName(port);
            QCOMPARE(::chmod(path.constData(), ::geteuid() == 0 ? 0600 : 0), 0);
            if (::geteuid() == 0) {
                QCOMPARE(::chown(path.constData(), 0, 0), 0);
                QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
                environment.insert(deniedPortVariable, port);
                environment.remove("XDG_RUNTIME_DIR"); // root's; Qt makes one of nobody's own
                environment.insert("QT_QPA_PLATFORM", "offscreen");
                QProcess child;
                child.setProcessEnvironment(environment);
                child.setProcessChannelMode(QProcess::MergedChannels);
                child.start(QCoreApplication::applicationFilePath(), {"permissionDenied"});
                const bool finished = child.waitForFinished(60000);
                QVERIFY2(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
                         child.readAll().constData());
                return;
            }
        }

        auto window = windowOn(port);
        QStatusBar *statusBar = window->statusBar();
        const QString message = QStringLiteral("Can't open %1, error code 2").arg(port);
        QTRY_COMPARE(statusBar->currentMessage(), message);

        // Each failed poll shows it again: never cleared while the port stays closed.
        QStringList changes;
        connect(statusBar, &QStatusBar::messageChanged, this,
                [&changes](const QString &text) { changes << text; });
        QTest::qWait(1200);
        for (const QString &text : std::as_const(changes))
            QCOMPARE(text, message);
        QCOMPARE(statusBar->currentMessage(), message);

        QElapsedTimer clock;
        clock.start();
        window.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }

    void rapidPortSwitching()
    {
        PtyModule first, second;
        first.setInput(6, true);
        second.setInput(10, true);
        auto window = windowOn(first.portName());
        auto *box = window->findChild<QComboBox *>(QStringLiteral("port_box"));
        box->addItem(second.portName());

        // Random gaps, not in phase with the tick; on until both modules were polled.
        for (int i = 0; i < 60 || (i < 600 && (first.frames().isEmpty() || second.frames().isEmpty())); ++i) {
            box->setCurrentIndex(i % 2);
            QTest::qWait(QRandomGenerator::global()->bounded(13, 20));
        }
        QVERIFY(!first.frames().isEmpty());
        QVERIFY(!second.frames().isEmpty());

        box->setCurrentIndex(1);
        QTRY_COMPARE(lamps(*window), QStringLiteral("00001"));
        box->setCurrentIndex(0);
        QTRY_COMPARE(lamps(*window), QStringLiteral("10000"));
    }

    void closeWhileAboutBoxOpen()
    {
        PtyModule module;
        module.setResponder([](const QByteArray &frame) {
            return frame == "~A" ? PtyModule::Reply{{0, firmwareReport("V1.2")}} : PtyModule::Reply{};
        });
        auto window = windowOn(module.portName());
        window->show();

        {
            bool closedUnderBox = false;
            MessageBoxCloser closer(window.get());
            closer.onFirstBox = [&] { closedUnderBox = window->close(); };
            QTRY_VERIFY(closedUnderBox);
            QTRY_VERIFY(!closer.seen.isEmpty() && !QApplication::activeModalWidget());
        }

        QElapsedTimer clock;
        clock.start();
        window.reset();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(100);
    }
};

// QTEST_MAIN, after the drop to nobody in permissionDenied()'s child.
int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(deniedPortVariable)
        && (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0
            || ::getuid() != nobody || ::geteuid() != nobody)) {
        std::perror("tst_faults: becoming nobody");
        return 2;
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
