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
        PtyModule module; // answers every frame: the worker adds no messages
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{{0, "~A00000"}}; });
        auto window = windowOn(module.portName());
        QStatusBar *bar = window->statusBar();

        window->ser_error(QStringLiteral("first"));
        QCOMPARE(bar->currentMessage(), QStringLiteral("first"));
        QTest::qWait(250);
        window->ser_error(QStringLiteral("second"));
        QCOMPARE(bar->currentMessage(), QStringLiteral("second"));

        QElapsedTimer clock; // the newer message gets its own 500 ms
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
        // The bar shows the whole message if it fits, else the name's middle elided.
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

        MainWindow window; // no event is processed before the list is emptied
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
        box->setCurrentIndex(box->count() - 1);
        scan->click();
        step();
        window.setExtraPorts(extraPorts);
        step();
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
