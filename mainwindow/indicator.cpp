#include "mainwindow.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

#include "mainwindowform.h"
#include "panelevents.h"
#include "screenreader.h"

// The lamp of input `channel`, 6 to 10; null for any other.
QLabel *MainWindow::lampOf(int channel) const
{
    QLabel *const lamps[] = {form->l6, form->l7, form->l8, form->l9, form->l10};
    return channel >= 6 && channel <= 10 ? lamps[channel - 6] : nullptr;
}

// Draws a 10 by 10 lamp, green for on and gray for off, into the label of
// inputs 6 to 10; other channels have no lamp.
void MainWindow::setIndicator(int channel, bool on)
{
    QLabel *const lamp = lampOf(channel);
    if (!lamp)
        return;

    // Drawn in device pixels, so that on a scaled screen (ratio 2: 20 by 20
    // pixels for the 10 by 10 lamp) it stays crisp. The look, scaled: a
    // transparent top row and left column, a black line along row and
    // column 1, the fill colour below and to the right of it.
    const qreal ratio = lamp->devicePixelRatioF();
    const int side = qRound(10 * ratio);
    const int line = std::max(1, qRound(ratio));
    QPixmap pixmap(side, side);
    pixmap.fill(QColor(QStringLiteral("transparent")));
    QPainter painter(&pixmap);
    painter.fillRect(line, line, side - line, side - line, Qt::black);
    painter.fillRect(2 * line, 2 * line, side - 2 * line, side - 2 * line,
                     QBrush(on ? Qt::green : Qt::gray, Qt::SolidPattern));
    painter.end();
    pixmap.setDevicePixelRatio(ratio);
    lamp->setPixmap(pixmap);
    describeLampState(lamp, channel, on);
    if (events)
        events->lampSet(channel, on);
}

// Back to the look the form starts with, for an input nobody knows.
void MainWindow::clearIndicator(int channel)
{
    QLabel *const lamp = lampOf(channel);
    if (!lamp)
        return;
    lamp->setText(tr("..."));
    describeLampUnknown(lamp, channel);
}
