#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QStringList>

#include "serialthread.h"

class MainWindowForm;
class ModuleFeed;
class QCheckBox;
class QLabel;
class PanelEvents;
class QTimer;

// The panel's window: owns the form, the serial worker and the poll timer,
// polls the module every 100 ms and shows its inputs on five lamps.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Lists these ports (any device path) ahead of the enumerated ones, now
    // and at every rescan, and selects the first of them.
    void setExtraPorts(const QStringList &ports);
    // The port shown in the port list, to which the next command goes.
    QString currentPort() const;

    // Tells `events` (not owned; null for nobody) of every lamp drawn, frame
    // sent and status message shown from now on.
    void setEvents(PanelEvents *events);

    // Shows the modules that `feed` (not owned) watches on the broker
    // instead of polling a port: the port list lists them, the lamps and
    // boxes follow the one selected, a click on a box commands it, and the
    // status bar tells what is wrong for as long as it lasts.
    void watchFeed(ModuleFeed *feed);

public slots:
    void scanPorts();
    void ser_read(const QByteArray &s);
    void ser_error(const QString &s);
    void send_ch1(int i);
    void send_ch2(int i);
    void send_ch3(int i);
    void send_ch4(int i);
    void send_ch5(int i);
    void timer_int();

private:
    void sendCommand(const QString &command);
    void sendOutput(int channel, int i);
    QLabel *lampOf(int channel) const;
    QCheckBox *outputBox(int output) const;
    void setIndicator(int channel, bool on);
    void clearIndicator(int channel);
    void listModules();
    void showFeedInputs();
    void showFeedOutputs();
    void showFeedStatus(const QString &status);

    QTimer *pollTimer;
    MainWindowForm *form;
    SerialThread worker;
    QStringList extraPorts;
    PanelEvents *events = nullptr;
    ModuleFeed *feed = nullptr;
};

#endif // MAINWINDOW_H
