#include "mainwindow.h"

#include <QComboBox>
#include <QSerialPortInfo>

#include <utility>

#include "mainwindowform.h"

// Lists the extra ports, then the ports exactly as the system enumerates
// them. The port shown before stays selected while it is still listed, so
// that a rescan never sends the next commands to another device; otherwise
// the combo box makes the first entry current because the list was empty
// before it.
void MainWindow::scanPorts()
{
    if (feed) {
        listModules();
        return;
    }
    const QString shown = form->port_box->currentText();
    form->port_box->clear();
    for (const QString &port : std::as_const(extraPorts))
        form->port_box->insertItem(form->port_box->count(), port);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        form->port_box->insertItem(form->port_box->count(), info.portName());
    const int kept = shown.isEmpty() ? -1 : form->port_box->findText(shown);
    if (kept > 0)
        form->port_box->setCurrentIndex(kept);
}

// Ports given at start are the operator's choice: the first of them is
// selected, whatever was shown before.
void MainWindow::setExtraPorts(const QStringList &ports)
{
    extraPorts = ports;
    scanPorts();
    form->port_box->setCurrentIndex(0);
}

QString MainWindow::currentPort() const
{
    return form->port_box->currentText();
}
