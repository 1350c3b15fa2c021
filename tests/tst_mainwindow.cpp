#include <QAccessible>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QStatusBar>
#include <QtTest>

#include "panelevents.h"
#include "ptymodule.h"
#include "windowtesting.h"

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void statusMessageExpires()
    {
        // A module that answers every frame, so the worker adds no messages.
        PtyModule module;
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{{0, "~A00000"}}; });
        auto window = windowOn(module.portName());
        QStatusBar *bar = window->statusBar();

        window->ser_error(QStringLiteral("first"));
        QCOMPARE(bar->currentMessage(), QStringLiteral("first"));
        QTest::qWait(250);
        window->ser_error(QStringLiteral("second"));
        QCOMPARE(bar->currentMessage(), QStringLiteral("second"));

        // The newer message gets its own 500 ms.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(bar->currentMessage().isEmpty(), 3000);
        QVERIFY2(clock.elapsed() >= 400, qPrintable(QString::number(clock.elapsed())));
    }

    void statusMessageFits_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("windowWidth");
        QTest::addColumn<bool>("elided");
        QTest::newRow("fits") << "/nonexistent/ttyUSB0" << 800 << false;
        QTest::newRow("long name") << "/nonexistent/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"
                                   << 400 << true;
    }

    void statusMessageFits()
    {
        QFETCH(QString, port);
        QFETCH(int, windowWidth);
        QFETCH(bool, elided);
        struct : PanelEvents
        {
            QStringList messages;
            void lampSet(int, bool) override { }
            void frameSent(const QString &) override { }
            void statusMessageShown(const QString &message) override { messages << message; }
        } record;
        auto window = windowOn(port);
        window->setEvents(&record);
        window->resize(windowWidth, window->height());
        window->show();
        QStatusBar *bar = window->statusBar();
        QTRY_VERIFY(!record.messages.isEmpty());
        const QString whole = record.messages.first(), shown = bar->currentMessage();
        // The record and the bar's name keep the whole message; the bar shows it
        // whole if it fits, else with the name's middle elided to fit.
        QCOMPARE(whole, QStringLiteral("Can't open %1, error code 1").arg(port)); // device not found
        QCOMPARE(QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name), whole);
        QVERIFY2(bar->fontMetrics().horizontalAdvance(shown) <= bar->width() - 18, qPrintable(shown));
        QCOMPARE(shown != whole, elided);
        QVERIFY(shown.startsWith(QStringLiteral("Can't open /no")));
        QVERIFY(shown.endsWith(whole.mid(whole.indexOf(port) + port.size() - 12)));
    }

    void portListFollowsEnumeration_data()
    {
        QTest::addColumn<QStringList>("extraPorts");
        QTest::newRow("enumerated ports only") << QStringList();
        QTest::newRow("one extra port") << QStringList{QStringLiteral("/nonexistent/by-id/module")};
        QTest::newRow("two extra ports, a twin of an enumerated one")
            << QStringList{QStringLiteral("/nonexistent/pts/7"), QStringLiteral("ttyS0")};
    }

    void portListFollowsEnumeration()
    {
        QFETCH(QStringList, extraPorts);
        QStringList expected = extraPorts;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            expected << info.portName();

        // No event is processed between the scans and emptying the list, so no
        // poll tick can reach a real port.
        MainWindow window;
        auto *box = window.findChild<QComboBox *>(QStringLiteral("port_box"));
        auto *scan = window.findChild<QPushButton *>(QStringLiteral("scan_btn"));
        QStringList steps; // the list's entries, then the port polled
        const auto step = [&] {
            QStringList entries;
            for (int i = 0; i < box->count(); ++i)
                entries << box->itemText(i);
            steps << entries.join(QLatin1Char(' ')) + " -> " + window.currentPort();
        };
        if (!extraPorts.isEmpty())
            window.setExtraPorts(extraPorts);
        step();
        // The operator picks the last entry: a rescan keeps it.
        box->setCurrentIndex(box->count() - 1);
        scan->click();
        step();
        // Giving the ports again selects the first of them, not the kept one.
        window.setExtraPorts(extraPorts);
        step();
        // A port that has gone since leaves the first entry selected.
        box->addItem(QStringLiteral("/nonexistent/unplugged"));
        box->setCurrentIndex(box->count() - 1);
        scan->click();
        step();
        box->clear();

        const QString listed = expected.join(QLatin1Char(' ')) + " -> ";
        const QString first = listed + expected.value(0);
        QCOMPARE(steps, QStringList({first, listed + expected.value(expected.size() - 1), first, first}));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
