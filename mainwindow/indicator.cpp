#include "mainwindow.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include "mainwindowform.h"
#include "panelevents.h"

// Draws a 10 by 10 lamp, green for on and gray for off, into the label of
// inputs 6 to 10; other channels have no lamp.
void MainWindow::setIndicator(int channel, bool on)
{
    QLabel *const lamps[] = {form->l6, form->l7, form->l8, form->l9, form->l10};

    QPixmap pixmap(10, 10);
    pixmap.fill(QColor(QStringLiteral("transparent")));
    QPainter painter(&pixmap);
    painter.setBrush(QBrush(on ? Qt::green : Qt::gray, Qt::SolidPattern));
    // The square runs one pixel past the image, so its right and bottom
    // outline are clipped away.
    painter.drawRect(1, 1, 10, 10);
    if (channel >= 6 && channel <= 10)
        lamps[channel - 6]->setPixmap(pixmap);
    if (events && channel >= 6 && channel <= 10)
        events->lampSet(channel, on);
}
