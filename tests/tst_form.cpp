#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QToolBar>
#include <QtTest>

#include "mainwindowform.h"

namespace {

struct FormWidget
{
    const char *name, *className;
    QRect geometry;
    const char *text;
};

// In the order the form creates them.
const FormWidget formWidgets[] = {
    {"port_box", "QComboBox", {6, 9, 171, 26}, ""},
    {"scan_btn", "QPushButton", {177, 7, 71, 32}, "\xD0\xA1\xD0\xBA\xD0\xB0\xD0\xBD."},
    {"checkBox_1", "QCheckBox", {80, 58, 21, 20}, ""},
    {"checkBox_2", "QCheckBox", {110, 58, 21, 20}, ""},
    {"checkBox_3", "QCheckBox", {140, 58, 21, 20}, ""},
    {"checkBox_4", "QCheckBox", {170, 58, 21, 20}, ""},
    {"checkBox_5", "QCheckBox", {200, 58, 21, 20}, ""},
    {"label", "QLabel", {30, 60, 31, 16}, "OUT"},
    {"label_2", "QLabel", {86, 39, 16, 16}, "1"},
    {"label_3", "QLabel", {116, 39, 16, 16}, "2"},
    {"label_4", "QLabel", {175, 40, 16, 16}, "4"},
    {"label_5", "QLabel", {146, 39, 16, 16}, "3"},
    {"label_6", "QLabel", {205, 40, 16, 16}, "5"},
    {"label_7", "QLabel", {202, 90, 16, 16}, "10"},
    {"label_8", "QLabel", {146, 89, 16, 16}, "8"},
    {"label_9", "QLabel", {116, 89, 16, 16}, "7"},
    {"label_10", "QLabel", {86, 89, 16, 16}, "6"},
    {"label_11", "QLabel", {35, 108, 21, 16}, "IN"},
    {"label_12", "QLabel", {175, 90, 16, 16}, "9"},
    {"l6", "QLabel", {85, 110, 16, 16}, "..."},
    {"l7", "QLabel", {112, 110, 16, 16}, "..."},
    {"l8", "QLabel", {140, 110, 16, 16}, "..."},
    {"l9", "QLabel", {171, 110, 16, 16}, "..."},
    {"l10", "QLabel", {203, 110, 16, 16}, "..."},
};

// Room for text inside a label's frame and margin, or inside a button's contents.
int textRoom(const QWidget *widget)
{
    if (auto *label = qobject_cast<const QLabel *>(widget))
        return label->contentsRect().width() - 2 * label->margin();
    QStyleOptionButton option;
    option.initFrom(widget);
    return widget->style()->subElementRect(QStyle::SE_PushButtonContents, &option, widget).width();
}

// A widget keeps the form's place and height, wider only and exactly as its text needs.
void checkPlaceAndFit(const QWidget *widget, const QRect &form, const QString &text)
{
    QCOMPARE(widget->pos(), form.topLeft());
    QCOMPARE(widget->height(), form.height());
    if (text.isEmpty()
        || !(qobject_cast<const QLabel *>(widget) || qobject_cast<const QPushButton *>(widget))) {
        QCOMPARE(widget->width(), form.width());
        return;
    }
    const int textWidth = widget->fontMetrics().horizontalAdvance(text);
    QVERIFY2(textWidth <= textRoom(widget), qPrintable(text));
    if (widget->width() != form.width()) {
        QVERIFY(widget->width() > form.width());
        QCOMPARE(textRoom(widget), textWidth);
    }
    QVERIFY(widget->geometry().right() < widget->window()->width());
}

} // namespace

// The form on a plain window, so no port is scanned and no timer runs.
class TestForm : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        window = new QMainWindow;
        form.setupUi(window);
    }
    void cleanup() { delete window; }

    void windowItself()
    {
        QCOMPARE(window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(window->windowTitle(), QStringLiteral("MainWindow"));
        QCOMPARE(window->size(), QSize(249, 209));
        QCOMPARE(window->centralWidget(), form.centralWidget);
        QCOMPARE(window->menuBar(), form.menuBar);
        QCOMPARE(window->statusBar(), form.statusBar);
        QCOMPARE(window->toolBarArea(form.mainToolBar), Qt::TopToolBarArea);
        QCOMPARE(form.menuBar->geometry(), QRect(0, 0, 249, 22));
        QVERIFY(form.menuBar->actions().isEmpty());
        QVERIFY(form.mainToolBar->actions().isEmpty());
        QCOMPARE(form.port_box->count(), 0);
        for (QWidget *widget :
             QWidgetList{form.centralWidget, form.menuBar, form.mainToolBar, form.statusBar})
            QCOMPARE(widget->parent(), window);
        QCOMPARE(int(form.centralWidget->children().size()), int(std::size(formWidgets)));

        QMainWindow named; // keeps its name
        named.setObjectName(QStringLiteral("panel"));
        MainWindowForm other;
        other.setupUi(&named);
        QCOMPARE(named.objectName(), QStringLiteral("panel"));
    }

    void widgets_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("created"); // the form creates its widgets in this order
        int created = 0;
        for (const auto &row : formWidgets)
            QTest::newRow(row.name) << row.name << row.className << QString::fromUtf8(row.text) << created++;
    }

    void widgets()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, text);
        QFETCH(int, created);

        auto *widget = window->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(int(form.centralWidget->children().indexOf(widget)), created);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        QCOMPARE(widget->parent(), form.centralWidget);
        const QRect placed = widget->geometry();
        if (auto *label = qobject_cast<QLabel *>(widget))
            QCOMPARE(label->text(), text);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            QCOMPARE(button->text(), text);

        window->resize(600, 400);
        QCOMPARE(widget->geometry(), placed);
    }

    void textsFit_data()
    {
        // Offscreen's 12 pt font grows "OUT" and "10" even at the normal size.
        QTest::addColumn<qreal>("scale");
        QTest::newRow("normal") << 1.0;
        QTest::newRow("1.25") << 1.25;
        QTest::newRow("1.5") << 1.5;
    }

    void textsFit()
    {
        QFETCH(qreal, scale);
        const QFont normal = QApplication::font();
        QFont enlarged = normal;
        enlarged.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(enlarged);
        const auto restore = qScopeGuard([&normal] { QApplication::setFont(normal); });
        QMainWindow scaled;
        MainWindowForm scaledForm;
        scaledForm.setupUi(&scaled);

        for (const auto &row : formWidgets)
            checkPlaceAndFit(scaled.findChild<QWidget *>(row.name), row.geometry,
                             QString::fromUtf8(row.text));
        QVERIFY(scaled.width() >= 249);
        QCOMPARE(scaled.height(), 209);
    }

    void tabOrder()
    {
        QWidget *expected[] = {form.scan_btn,   form.port_box,   form.checkBox_1, form.checkBox_2,
                               form.checkBox_3, form.checkBox_4, form.checkBox_5};
        for (size_t i = 0; i + 1 < std::size(expected); ++i) {
            QWidget *next = expected[i]->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            QCOMPARE(next->objectName(), expected[i + 1]->objectName());
        }
    }

    void screenReaderNames()
    {
        const auto said = [](QWidget *widget, QAccessible::Text what) {
            return QAccessible::queryAccessibleInterface(widget)->text(what);
        };
        QCheckBox *const boxes[] = {form.checkBox_1, form.checkBox_2, form.checkBox_3, form.checkBox_4,
                                    form.checkBox_5};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(said(boxes[i], QAccessible::Name), QStringLiteral("Output %1").arg(i + 1));
            QTest::keyClick(boxes[i], Qt::Key_Space);
            QVERIFY(boxes[i]->isChecked());
        }
        QLabel *const lamps[] = {form.l6, form.l7, form.l8, form.l9, form.l10};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(said(lamps[i], QAccessible::Name), QStringLiteral("Input %1").arg(i + 6));
            QCOMPARE(said(lamps[i], QAccessible::Description), QStringLiteral("unknown"));
            QCOMPARE(lamps[i]->toolTip(), QStringLiteral("Input %1: unknown").arg(i + 6));
        }

        form.statusBar->showMessage(QStringLiteral("Wait read response timeout 12:00:00"));
        QCOMPARE(said(form.statusBar, QAccessible::Name),
                 QStringLiteral("Wait read response timeout 12:00:00"));
        form.statusBar->clearMessage();
        QCOMPARE(said(form.statusBar, QAccessible::Name), QString());
    }

    // The port list with long device names. Last: it sets the style.
    void longNames_data()
    {
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
        cleanup(); // the window made anew, in that style
        init();
        window->show();
        QComboBox *box = form.port_box;

        // Short names look as on a plain box; names differing at the end differ.
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

        // The tool tip and description give the current port's whole name.
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

private:
    QMainWindow *window = nullptr;
    MainWindowForm form;
};

QTEST_MAIN(TestForm)
#include "tst_form.moc"
