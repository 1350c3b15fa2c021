// The window on the broker: the modules a ModuleFeed watches, instead of a
// polled port.
#include "mainwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>

#include "frames.h"
#include "mainwindowform.h"
#include "modulefeed.h"
#include "panelevents.h"
#include "screenreader.h"
#include "statusfit.h"

// The check box of output `output`, 1 to 5.
QCheckBox *MainWindow::outputBox(int output) const
{
    QCheckBox *const boxes[] = {form->checkBox_1, form->checkBox_2, form->checkBox_3, form->checkBox_4,
                                form->checkBox_5};
    return boxes[output - 1];
}

void MainWindow::watchFeed(ModuleFeed *watched)
{
    feed = watched;
    // Nothing is polled: the bridge does that.
    pollTimer->stop();
    for (int i = 0; i < 5; ++i)
        // A click, a key or a screen reader's toggle action; a box set from
        // the module's report commands nothing (its signals are blocked then).
        connect(outputBox(i + 1), &QCheckBox::toggled, feed,
                [this, i](bool on) { feed->command(i + 1, on); });
    connect(feed, &ModuleFeed::commandPublished, this, [this](int output, bool on) {
        if (events)
            events->frameSent(on ? Frames::setOutput(output) : Frames::resetOutput(output));
    });
    connect(form->port_box, &QComboBox::currentTextChanged, feed, &ModuleFeed::select);
    connect(feed, &ModuleFeed::modulesChanged, this, &MainWindow::listModules);
    connect(feed, &ModuleFeed::inputsChanged, this, &MainWindow::showFeedInputs);
    connect(feed, &ModuleFeed::outputsChanged, this, &MainWindow::showFeedOutputs);
    connect(feed, &ModuleFeed::statusChanged, this, &MainWindow::showFeedStatus);
    listModules();
    showFeedStatus(feed->status());
}

// The module shown stays selected while it is still listed.
void MainWindow::listModules()
{
    const QString shown = form->port_box->currentText();
    {
        const QSignalBlocker quiet(form->port_box);
        form->port_box->clear();
        form->port_box->addItems(feed->modules());
        form->port_box->setCurrentIndex(qMax(0, form->port_box->findText(shown)));
    }
    feed->select(form->port_box->currentText());
}

void MainWindow::showFeedInputs()
{
    const auto inputs = feed->inputs();
    for (int i = 0; i < 5; ++i) {
        if (inputs[i])
            setIndicator(i + 6, *inputs[i]);
        else
            clearIndicator(i + 6);
    }
}

void MainWindow::showFeedOutputs()
{
    const auto outputs = feed->outputs();
    for (int i = 0; i < 5; ++i) {
        QCheckBox *const box = outputBox(i + 1);
        if (outputs[i]) {
            const QSignalBlocker reported(box);
            box->setChecked(*outputs[i]);
        }
        describeOutputKnown(box, i + 1, outputs[i].has_value());
    }
}

void MainWindow::showFeedStatus(const QString &status)
{
    // Shown until it changes: a module offline or a broker away lasts.
    if (status.isEmpty())
        form->statusBar->clearMessage();
    else
        showFittedMessage(form->statusBar, status, feed->modules(), 0);
    if (events)
        events->statusMessageShown(status);
}
