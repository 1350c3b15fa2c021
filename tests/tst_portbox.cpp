#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QMainWindow>
#include <QScreen>
#include <QStyleFactory>
#include <QtTest>

#include "mainwindowform.h"

// The port list with long device names, on the form of a plain window.
class TestPortBox : public QObject
{
    Q_OBJECT

private slots:
    void longNames_data()
    {
        // Fusion sizes the open list to its entries itself; Windows to the box.
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("name");
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0");
        QTest::newRow("Fusion, by-id") << QStringLiteral("Fusion") << byId;
        QTest::newRow("Windows, by-id") << QStringLiteral("Windows") << byId;
        QTest::newRow("Windows, wider than the screen")
            << QStringLiteral("Windows") << QStringLiteral("/dev/") + QString(400, QLatin1Char('x'));
    }

    void longNames()
    {
        QFETCH(QString, style);
        QFETCH(QString, name);
        QApplication::setStyle(QStyleFactory::create(style));
        QMainWindow window;
        MainWindowForm form;
        form.setupUi(&window);
        window.show();
        QComboBox *box = form.port_box;

        // Short names look as on a plain box; names that differ only at the end
        // look different.
        const auto look = [](QComboBox *shown, const QString &port) {
            shown->clear();
            shown->addItem(port);
            return shown->grab().toImage();
        };
        QComboBox plain(form.centralWidget);
        plain.setGeometry(box->geometry());
        QCOMPARE(look(box, QStringLiteral("ttyUSB0")), look(&plain, QStringLiteral("ttyUSB0")));
        const QString twin = QString(name).replace(name.size() - 2, 1, QLatin1Char('1'));
        QVERIFY(look(box, name) != look(box, twin));

        // The tool tip and the description give the whole name of the current
        // port; the box keeps the form's geometry.
        box->addItems({QStringLiteral("ttyS0"), name});
        for (const QString &port : {QStringLiteral("ttyS0"), name}) {
            box->setCurrentText(port);
            QCOMPARE(box->toolTip(), port);
            QCOMPARE(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Description), port);
        }
        QCOMPARE(box->geometry(), QRect(6, 9, 171, 26));

        // The open list shows the longest entry whole, up to the screen's width.
        box->showPopup();
        const QAbstractItemView *view = box->view();
        QTRY_VERIFY(view->isVisible());
        const int screenWidth = box->screen()->availableGeometry().width();
        const int textWidth = view->fontMetrics().horizontalAdvance(name);
        if (textWidth < screenWidth - 100)
            QVERIFY(view->viewport()->width() >= textWidth);
        else
            QCOMPARE(view->window()->width(), screenWidth);
        box->hidePopup();
    }
};

QTEST_MAIN(TestPortBox)
#include "tst_portbox.moc"
