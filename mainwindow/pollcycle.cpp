#include "mainwindow.h"

#include <QCheckBox>
#include <QComboBox>

#include "exchange.h"
#include "frames.h"
#include "mainwindowform.h"

namespace {
// Which frame the next tick sends: clear for the input query, set for the
// output frame. Starts clear, so the first tick queries the inputs.
bool pollPhase = false;

QString digit(const QCheckBox *box)
{
    return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

void MainWindow::timer_int()
{
    const QString outputs = digit(form->checkBox_1) + digit(form->checkBox_2) + digit(form->checkBox_3)
        + digit(form->checkBox_4) + digit(form->checkBox_5);
    QString frame;
    if (pollPhase) {
        pollPhase = false;
        frame = Frames::setAllOutputs(outputs);
    } else {
        pollPhase = true;
        frame = Frames::queryInputs();
    }
    sendCommand(frame);
}

void MainWindow::send_ch1(int i)
{
    sendOutput(1, i);
}

void MainWindow::send_ch2(int i)
{
    sendOutput(2, i);
}

void MainWindow::send_ch3(int i)
{
    sendOutput(3, i);
}

void MainWindow::send_ch4(int i)
{
    sendOutput(4, i);
}

void MainWindow::send_ch5(int i)
{
    sendOutput(5, i);
}

void MainWindow::sendOutput(int channel, int i)
{
    sendCommand(i ? Frames::setOutput(channel) : Frames::resetOutput(channel));
}

// The port name is read afresh for every command, so a new selection in the
// port list takes effect with the next frame.
void MainWindow::sendCommand(const QString &command)
{
    worker.submitRequest(form->port_box->currentText(), Exchange::commandWaitMs, command);
}
