#include <QAccessible>
#include <QtTest>

#include <algorithm>

#include "windowtesting.h"

// The lamps as drawn from input reports, and as a screen reader reads them.
class TestLamps : public QObject
{
    Q_OBJECT

private slots:
    void lampImage_data();
    void lampImage();
};

void TestLamps::lampImage_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QColor>("fill");
    QTest::newRow("6 on") << QByteArray("~G61") << 6 << QColor(Qt::green);
    QTest::newRow("10 off") << QByteArray("~GA0") << 10 << QColor(Qt::gray);
    QTest::newRow("8 on") << QByteArray("~G81") << 8 << QColor(Qt::green);
    QTest::newRow("9 off") << QByteArray("~G90") << 9 << QColor(Qt::gray);
}

// Also run with QT_SCALE_FACTOR=2: the lamp is then 20 by 20 pixels with ratio 2.
void TestLamps::lampImage()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, channel);
    QFETCH(QColor, fill);

    const auto window = windowOn(QString());
    window->ser_read(reply);
    const QPixmap pixmap = ::lampImage(*window, channel);
    const int ratio = qRound(pixmap.devicePixelRatio());
    QCOMPARE(ratio, std::max(1, qEnvironmentVariableIntValue("QT_SCALE_FACTOR")));
    const QImage image = pixmap.toImage();
    QCOMPARE(image.size(), QSize(10, 10) * ratio);
    for (int y = 0; y < 10 * ratio; ++y) {
        for (int x = 0; x < 10 * ratio; ++x) {
            QColor want = fill;
            if (x / ratio == 0 || y / ratio == 0)
                want = Qt::transparent;
            else if (x / ratio == 1 || y / ratio == 1)
                want = Qt::black;
            const QColor got = image.pixelColor(x, y);
            QVERIFY2(
                got == want || (want.alpha() == 0 && got.alpha() == 0),
                qPrintable(QStringLiteral("pixel %1,%2 is %3").arg(x).arg(y).arg(got.name(QColor::HexArgb))));
        }
    }

    // A screen reader reads the state (tools/check-accessibility.sh checks
    // that it hears of changes: headless, Qt sends no accessibility events).
    const auto *lamp = window->findChild<QLabel *>(QStringLiteral("l%1").arg(channel));
    const QString state = fill == QColor(Qt::green) ? QStringLiteral("on") : QStringLiteral("off");
    QCOMPARE(
        QAccessible::queryAccessibleInterface(const_cast<QLabel *>(lamp))->text(QAccessible::Description),
        state);
    QCOMPARE(lamp->toolTip(), QStringLiteral("Input %1: %2").arg(channel).arg(state));
}

QTEST_MAIN(TestLamps)
#include "tst_lamps.moc"
