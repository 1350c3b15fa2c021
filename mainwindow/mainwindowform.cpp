#include "mainwindowform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>

#include "portbox.h"
#include "screenreader.h"
#include "textfit.h"

namespace {

// Creates one widget of the working area, named and placed before the next
// one is created.
template<typename Widget>
Widget *place(QWidget *parent, const char *name, int x, int y, int width, int height)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(QRect(x, y, width, height));
    return widget;
}

QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source, nullptr);
}

} // namespace

void MainWindowForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("MainWindow"));
    window->resize(249, 209);

    centralWidget = new QWidget(window);
    centralWidget->setObjectName(QStringLiteral("centralWidget"));

    port_box = place<QComboBox>(centralWidget, "port_box", 6, 9, 171, 26);
    scan_btn = place<QPushButton>(centralWidget, "scan_btn", 177, 7, 71, 32);
    checkBox_1 = place<QCheckBox>(centralWidget, "checkBox_1", 80, 58, 21, 20);
    checkBox_2 = place<QCheckBox>(centralWidget, "checkBox_2", 110, 58, 21, 20);
    checkBox_3 = place<QCheckBox>(centralWidget, "checkBox_3", 140, 58, 21, 20);
    checkBox_4 = place<QCheckBox>(centralWidget, "checkBox_4", 170, 58, 21, 20);
    checkBox_5 = place<QCheckBox>(centralWidget, "checkBox_5", 200, 58, 21, 20);
    label = place<QLabel>(centralWidget, "label", 30, 60, 31, 16);
    label_2 = place<QLabel>(centralWidget, "label_2", 86, 39, 16, 16);
    label_3 = place<QLabel>(centralWidget, "label_3", 116, 39, 16, 16);
    label_4 = place<QLabel>(centralWidget, "label_4", 175, 40, 16, 16);
    label_5 = place<QLabel>(centralWidget, "label_5", 146, 39, 16, 16);
    label_6 = place<QLabel>(centralWidget, "label_6", 205, 40, 16, 16);
    label_7 = place<QLabel>(centralWidget, "label_7", 202, 90, 16, 16);
    label_8 = place<QLabel>(centralWidget, "label_8", 146, 89, 16, 16);
    label_9 = place<QLabel>(centralWidget, "label_9", 116, 89, 16, 16);
    label_10 = place<QLabel>(centralWidget, "label_10", 86, 89, 16, 16);
    label_11 = place<QLabel>(centralWidget, "label_11", 35, 108, 21, 16);
    label_12 = place<QLabel>(centralWidget, "label_12", 175, 90, 16, 16);
    l6 = place<QLabel>(centralWidget, "l6", 85, 110, 16, 16);
    l7 = place<QLabel>(centralWidget, "l7", 112, 110, 16, 16);
    l8 = place<QLabel>(centralWidget, "l8", 140, 110, 16, 16);
    l9 = place<QLabel>(centralWidget, "l9", 171, 110, 16, 16);
    l10 = place<QLabel>(centralWidget, "l10", 203, 110, 16, 16);
    window->setCentralWidget(centralWidget);

    menuBar = new QMenuBar(window);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    menuBar->setGeometry(QRect(0, 0, 249, 22));
    window->setMenuBar(menuBar);

    mainToolBar = new QToolBar(window);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    window->addToolBar(Qt::TopToolBarArea, mainToolBar);

    statusBar = new QStatusBar(window);
    statusBar->setObjectName(QStringLiteral("statusBar"));
    window->setStatusBar(statusBar);

    QWidget::setTabOrder(scan_btn, port_box);

    retranslateUi(window);
    // The fixed design holds the texts at any font and long port names, and
    // screen readers can tell the outputs and lamps apart.
    widenToFitTexts(*this, window);
    nameForScreenReaders(*this);
    showLongPortNames(port_box);

    QMetaObject::connectSlotsByName(window);
}

void MainWindowForm::retranslateUi(QMainWindow *window)
{
    window->setWindowTitle(text("MainWindow"));
    scan_btn->setText(text("Скан."));
    checkBox_1->setText(QString());
    checkBox_2->setText(QString());
    checkBox_3->setText(QString());
    checkBox_4->setText(QString());
    checkBox_5->setText(QString());
    label->setText(text("OUT"));
    label_2->setText(text("1"));
    label_3->setText(text("2"));
    label_4->setText(text("4"));
    label_5->setText(text("3"));
    label_6->setText(text("5"));
    label_7->setText(text("10"));
    label_8->setText(text("8"));
    label_9->setText(text("7"));
    label_10->setText(text("6"));
    label_11->setText(text("IN"));
    label_12->setText(text("9"));
    l6->setText(text("..."));
    l7->setText(text("..."));
    l8->setText(text("..."));
    l9->setText(text("..."));
    l10->setText(text("..."));
}
