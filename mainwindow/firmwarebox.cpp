#include "firmwarebox.h"

#include <QMessageBox>

namespace {
// The open box, or null; there is never more than one.
QMessageBox *openBox = nullptr;
} // namespace

void showFirmwareVersion(const QString &version)
{
    const QString text = QStringLiteral("Device fw version: ") + version;
    if (openBox) {
        openBox->setText(text);
        return;
    }

    QMessageBox box(QMessageBox::Information, QStringLiteral("About"), QString(), QMessageBox::Ok);
    // The version comes from the line: markup in it is shown as it is, never
    // interpreted (an <img> would make the label load a local file). The
    // format is set before the text, so the text is never taken as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    openBox = &box;
    box.exec();
    openBox = nullptr;
}
