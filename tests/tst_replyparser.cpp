#include <QAccessible>
#include <QtTest>

#include <algorithm>

#include "windowtesting.h"

namespace {
QStringList debugMessages;
QtMessageHandler previousHandler = nullptr;

void recordDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        debugMessages << message;
    else
        previousHandler(type, context, message);
}

// Lamps 6 to 10 before each case: a mix, so a wrong change either way shows.
const QString baseline = QStringLiteral("01011");
} // namespace

// Replies fed straight into the window's decoder, and the lamps drawn from them.
class TestReplyParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // No port: the worker's failures only reach the status bar.
        window = windowOn(QString());
        previousHandler = qInstallMessageHandler(recordDebug);
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
        window.reset();
    }

    void init()
    {
        if (!window)
            return;
        resetDecoder(*window);
        window->ser_read("~A" + baseline.toLatin1());
        QCOMPARE(lamps(*window), baseline);
        debugMessages.clear();
    }

    void decoding_data()
    {
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<QString>("expected");

        const auto row = [](const char *name, QList<QByteArray> replies, const char *expected) {
            QTest::newRow(name) << replies << QString::fromLatin1(expected);
        };
        row("all inputs", {"~A10101"}, "10101");
        row("all inputs with CR LF", {"~A10101\r\n"}, "01011");
        row("all inputs too short", {"~A1010"}, "01011");
        row("all inputs not at the start", {"x~A0100"}, "00100");
        row("all inputs from absolute positions", {"~A", "xx11111"}, "11111");
        row("all inputs split, next reply not 7 bytes", {"~A", "xx111"}, "01011");
        row("single input on", {"~G61"}, "11011");
        row("channel 10 upper case", {"~GA0"}, "01010");
        row("channel 10 lower case", {"~Ga0"}, "01010");
        row("any other state byte is off", {"~G7x"}, "00011");
        row("channel without a lamp", {"~G31"}, "01011");
        row("out of range channels", {"~G01~G51~GB1~GF0"}, "01011");
        row("several reports in one reply", {"~G61~G80~GA0~G90~G70"}, "10000");
        row("bad channel stops the reply", {"~GZ1~G61"}, "01011");
        row("trigger consumes the next start byte", {"~A~G61"}, "01011");
        row("unknown letters are skipped", {"~X~G61"}, "11011");
        row("lower-case letter keeps waiting", {"~g61", "G81"}, "01111");
        row("start byte alone, frame next reply", {"~", "G61"}, "11011");
        row("split after the letter drops the next reply", {"~G", "~G61"}, "01011");
        row("split after the channel digit", {"~G6", "1"}, "11011");
        row("short firmware report rescans its bytes", {"~I~G61"}, "11011");
        row("empty reply", {""}, "01011");
    }

    void decoding()
    {
        QFETCH(QList<QByteArray>, replies);
        QFETCH(QString, expected);

        MessageBoxCloser closer(window.get());
        for (const QByteArray &reply : replies)
            window->ser_read(reply);
        QCOMPARE(lamps(*window), expected);
        QCOMPARE(debugMessages.size(), replies.size());
        QVERIFY(closer.seen.isEmpty());

        // 10x10 pixels times the scale (tst_lamps_2x): an edge, a black ring, the fill.
        const int ratio = std::max(1, qEnvironmentVariableIntValue("QT_SCALE_FACTOR"));
        for (int channel = 6; channel <= 10; ++channel) {
            const bool on = expected.at(channel - 6) == QLatin1Char('1');
            const QPixmap pixmap = lampImage(*window, channel);
            QCOMPARE(qRound(pixmap.devicePixelRatio()), ratio);
            const QImage image = pixmap.toImage();
            QCOMPARE(image.size(), QSize(10, 10) * ratio);
            for (int y = 0; y < 10 * ratio; ++y) {
                for (int x = 0; x < 10 * ratio; ++x) {
                    const int ring = std::min(x, y) / ratio;
                    const QColor want = ring == 0 ? QColor(Qt::transparent)
                        : ring == 1               ? QColor(Qt::black)
                                                  : QColor(on ? Qt::green : Qt::gray);
                    const QColor got = image.pixelColor(x, y);
                    QVERIFY2(got == want || (want.alpha() == 0 && got.alpha() == 0),
                             qPrintable(QString::asprintf("lamp %d, pixel %d,%d: %s", channel, x, y,
                                                          qPrintable(got.name(QColor::HexArgb)))));
                }
            }
            auto *lamp = window->findChild<QLabel *>(QStringLiteral("l%1").arg(channel));
            const QString state = on ? QStringLiteral("on") : QStringLiteral("off");
            QCOMPARE(QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Description), state);
            QCOMPARE(lamp->toolTip(), QStringLiteral("Input %1: %2").arg(channel).arg(state));
        }
    }

    void debugRendering()
    {
        window->ser_read(QByteArray("~A1\r\n\0\x7f", 7));
        QCOMPARE(debugMessages, QStringList{"\"~A1\\r\\n\\x00\\x7F\""});
    }

    void firmwareBox_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("lampsWhileOpen");
        QTest::addColumn<QString>("lampsAfter");

        const auto row = [](const char *name, const QByteArray &reply, const QString &version,
                            const QString &after) {
            QTest::newRow(name) << reply << (version.isNull() ? version : "Device fw version: " + version)
                                << (version.isNull() ? QString() : baseline) << after;
        };
        row("NUL-padded", firmwareReport("V2.0"), "V2.0", baseline);
        row("full field, then a report", "~IABCDEFGHIJKLMNOP~G61", "ABCDEFGHIJKLMNOP", "11011");
        row("UTF-8", firmwareReport("\xD0\x92\xD0\xB5\xD1\x80-7"),
            QString::fromUtf8("\xD0\x92\xD0\xB5\xD1\x80-7"), baseline);
        row("15 bytes: no box", "~I123456789012345", QString(), baseline);
        for (const char *markup : {"<img src=/x.png>", "<a href=x>y</a>", "<b>V2</b>", "&lt;V2&gt;"})
            row(markup, firmwareReport(markup), QString::fromLatin1(markup), baseline);
    }

    void firmwareBox()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, text);
        QFETCH(QString, lampsWhileOpen);
        QFETCH(QString, lampsAfter);

        MessageBoxCloser closer(window.get());
        window->ser_read(reply);
        if (text.isEmpty()) {
            QVERIFY(closer.seen.isEmpty());
        } else {
            QCOMPARE(closer.seen.size(), 1);
            const MessageBoxCloser::Seen &box = closer.seen[0];
            QCOMPARE(box.title, QStringLiteral("About"));
            QCOMPARE(box.text, text);
            QCOMPARE(box.format, Qt::PlainText);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(box.modality != Qt::NonModal);
            QCOMPARE(box.lampsWhileOpen, lampsWhileOpen);
        }
        QCOMPARE(lamps(*window), lampsAfter);
        // Decoding goes on from a clean state after the version field.
        window->ser_read("~G91");
        QCOMPARE(lamps(*window).at(3), QLatin1Char('1'));
    }

    void firmwareBurst_data()
    {
        QTest::addColumn<QList<QByteArray>>("burst"); // replies that arrive while the box is open
        QTest::addColumn<QString>("version");         // the open box's version after them
        QTest::addColumn<QString>("lampsWhileOpen");

        const QByteArray v2 = firmwareReport("V2.0"), v3 = firmwareReport("V3.0");
        const auto row = [](const char *name, const QList<QByteArray> &burst, const char *version,
                            const QString &lampsWhileOpen) {
            QTest::newRow(name) << burst << QString::fromLatin1(version) << lampsWhileOpen;
        };
        row("separate replies, lamp reports between", {v2, "~G61", v3, "~G70"}, "V3.0", "10011");
        row("two versions and a lamp report in one reply", {v2 + v3 + "~G61"}, "V3.0", "11011");
        row("all inputs report", {v2, "~A10100"}, "V2.0", "10100");
        // The box's own reply goes on from a clean state whatever the burst left.
        row("burst ends inside a frame", {v3, "~G"}, "V3.0", baseline);
    }

    void firmwareBurst()
    {
        QFETCH(QList<QByteArray>, burst);
        QFETCH(QString, version);
        QFETCH(QString, lampsWhileOpen);

        // The burst is queued once the box is open, decoded inside its event loop.
        MessageBoxCloser closer(window.get());
        closer.onFirstBox = [&] {
            for (const QByteArray &reply : burst)
                QMetaObject::invokeMethod(
                    window.get(), [this, reply] { window->ser_read(reply); }, Qt::QueuedConnection);
        };
        window->ser_read(firmwareReport("V1.0") + "~G90");

        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].text, "Device fw version: " + version);
        QCOMPARE(closer.seen[0].lampsWhileOpen, lampsWhileOpen);
        QCOMPARE(debugMessages.size(), 1 + burst.size());
        // The rest of the box's reply, decoded after the box closed.
        QCOMPARE(lamps(*window).at(3), QLatin1Char('0'));

        // Closed, the box opens again for the next report.
        window->ser_read(firmwareReport("V4.0"));
        QCOMPARE(closer.seen.size(), 2);
        QCOMPARE(closer.seen[1].text, QStringLiteral("Device fw version: V4.0"));
    }

private:
    std::unique_ptr<MainWindow> window;
};

QTEST_MAIN(TestReplyParser)
#include "tst_replyparser.moc"
