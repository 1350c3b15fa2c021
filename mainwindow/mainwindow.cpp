#include "mainwindow.h"

#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "mainwindowform.h"
#include "panelevents.h"
#include "statusfit.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , form(new MainWindowForm)
    , worker(nullptr)
{
    form->setupUi(this);
    scanPorts();

    connect(form->scan_btn, SIGNAL(clicked()), this, SLOT(scanPorts()));
    connect(&worker, SIGNAL(response(QByteArray)), this, SLOT(ser_read(QByteArray)));
    connect(&worker, SIGNAL(error(QString)), this, SLOT(ser_error(QString)));
    connect(&worker, SIGNAL(timeout(QString)), this, SLOT(ser_error(QString)));
    // Only frames the worker took up for the line are told: one replaced by
    // a newer request before that never went out.
    connect(&worker, &SerialThread::requestTaken, this, [this](const QByteArray &frame) {
        if (events)
            events->frameSent(QString::fromLocal8Bit(frame));
    });

    pollTimer = new QTimer;
    // A coarse timer may fire 5 ms early or late; the module is polled at an
    // even 100 ms instead.
    pollTimer->setTimerType(Qt::PreciseTimer);
    pollTimer->start(100);
    connect(pollTimer, SIGNAL(timeout()), this, SLOT(timer_int()));
}

MainWindow::~MainWindow()
{
    delete form;
    if (pollTimer->isActive())
        pollTimer->stop();
    delete pollTimer;
    // The worker's destructor stops its thread before the widgets go.
}

void MainWindow::ser_error(const QString &s)
{
    // A message naming a long port has the name elided to fit the bar; the
    // record keeps it whole.
    QStringList ports;
    for (int i = 0; i < form->port_box->count(); ++i)
        ports << form->port_box->itemText(i);
    showFittedMessage(form->statusBar, s, ports, 500);
    if (events)
        events->statusMessageShown(s);
}

void MainWindow::setEvents(PanelEvents *events)
{
    this->events = events;
}
