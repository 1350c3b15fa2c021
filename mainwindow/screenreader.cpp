#include "screenreader.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QStatusBar>

#include "mainwindowform.h"
#include "statusfit.h"

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("MainWindow", source, nullptr);
}

void describeLamp(QLabel *lamp, int channel, const QString &state)
{
    // Only a change is set: Qt announces each new description to screen
    // readers (QAccessible::DescriptionChanged), and a lamp is redrawn on
    // every report.
    if (lamp->accessibleDescription() == state)
        return;
    lamp->setAccessibleDescription(state);
    lamp->setToolTip(text("Input %1: %2").arg(channel).arg(state));
}

} // namespace

void nameForScreenReaders(MainWindowForm &form)
{
    QCheckBox *const outputs[] = {form.checkBox_1, form.checkBox_2, form.checkBox_3, form.checkBox_4,
                                  form.checkBox_5};
    for (int i = 0; i < 5; ++i)
        outputs[i]->setAccessibleName(text("Output %1").arg(i + 1));

    QLabel *const lamps[] = {form.l6, form.l7, form.l8, form.l9, form.l10};
    for (int i = 0; i < 5; ++i) {
        lamps[i]->setAccessibleName(text("Input %1").arg(i + 6));
        describeLamp(lamps[i], i + 6, text("unknown"));
    }

    // The status bar paints its message itself, leaving nothing for a screen
    // reader to read: the message becomes the bar's name, whole where the
    // bar shows it with a port name elided.
    QStatusBar *bar = form.statusBar;
    QObject::connect(bar, &QStatusBar::messageChanged, bar, [bar](const QString &message) {
        bar->setAccessibleName(wholeStatusMessage(bar, message));
    });
}

void describeLampState(QLabel *lamp, int channel, bool on)
{
    describeLamp(lamp, channel, on ? text("on") : text("off"));
}

void describeLampUnknown(QLabel *lamp, int channel)
{
    describeLamp(lamp, channel, text("unknown"));
}

void describeOutputKnown(QCheckBox *box, int output, bool known)
{
    const QString state = known ? QString() : text("unknown");
    if (box->accessibleDescription() == state)
        return;
    box->setAccessibleDescription(state);
    box->setToolTip(known ? QString() : text("Output %1: unknown").arg(output));
}
