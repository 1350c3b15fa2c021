#include "mainwindow.h"

#include <QComboBox>
#include <QSerialPortInfo>

#include <utility>

#include "mainwindowform.h"

// Lists the extra ports, then the ports exactly as the system enumerates
// them; the combo box makes the first one current because the list was empty
// before it.
void MainWindow::scanPorts()
{
    form->port_box->clear();
    for (const QString &port : std::as_const(extraPorts))
        form->port_box->insertItem(form->port_box->count(), port);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        form->port_box->insertItem(form->port_box->count(), info.portName());
}

void MainWindow::setExtraPorts(const QStringList &ports)
{
    extraPorts = ports;
    scanPorts();
}
