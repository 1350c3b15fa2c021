#ifndef WINDOWTESTING_H
#define WINDOWTESTING_H

#include <QApplication>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <functional>
#include <memory>
#include <utility>

#include "mainwindow.h"

// Makes `port` (or nothing) the only entry of the window's port list.
inline void pointAt(MainWindow &window, const QString &port)
{
    auto *box = window.findChild<QComboBox *>(QStringLiteral("port_box"));
    box->clear();
    if (!port.isEmpty())
        box->addItem(port);
}

// A window whose list names only `port` before its first tick: no real port is polled.
inline std::unique_ptr<MainWindow> windowOn(const QString &port)
{
    auto window = std::make_unique<MainWindow>();
    pointAt(*window, port);
    return window;
}

inline QPixmap lampImage(const MainWindow &window, int channel)
{
    const auto *label = window.findChild<QLabel *>(QStringLiteral("l%1").arg(channel));
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    return label->pixmap(Qt::ReturnByValue);
#else
    return label->pixmap();
#endif
}

// The five lamps 6 to 10 as text: '1' green, '0' gray, '.' not drawn yet.
inline QString lamps(const MainWindow &window)
{
    QString text;
    for (int channel = 6; channel <= 10; ++channel) {
        const QPixmap image = lampImage(window, channel);
        if (image.isNull())
            text += QLatin1Char('.');
        else
            text +=
                image.toImage().pixelColor(5, 5) == QColor(Qt::green) ? QLatin1Char('1') : QLatin1Char('0');
    }
    return text;
}

// Brings the reply decoder back to hunting for a start byte, whatever its state.
inline void resetDecoder(MainWindow &window)
{
    window.ser_read("Z");  // ends states 2, 3 and 4; state 1 skips it
    window.ser_read("GZ"); // from state 1 through 2 to a stop; harmless in state 0
}

// A complete firmware report: "~I" and the version, NUL-padded to 16 bytes.
inline QByteArray firmwareReport(const QByteArray &version)
{
    return "~I" + version + QByteArray(16 - version.size(), '\0');
}

// Closes every message box opening while it lives, recording it and the lamps then.
class MessageBoxCloser : public QObject
{
public:
    struct Seen
    {
        QString title, text, lampsWhileOpen;
        Qt::TextFormat format;
        QMessageBox::StandardButtons buttons;
        Qt::WindowModality modality;
    };

    explicit MessageBoxCloser(const MainWindow *window)
        : window(window)
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                if (auto action = std::exchange(onFirstBox, nullptr))
                    return action();
                seen.append({box->windowTitle(), box->text(), lamps(*this->window), box->textFormat(),
                             box->standardButtons(), box->windowModality()});
                box->done(QMessageBox::Ok);
            }
        });
        timer.start();
    }

    QList<Seen> seen;
    // Run instead of closing on the first tick that finds a box open.
    std::function<void()> onFirstBox;

private:
    const MainWindow *window;
    QTimer timer;
};

#endif // WINDOWTESTING_H
