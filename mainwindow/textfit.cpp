#include "textfit.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

#include "mainwindowform.h"

namespace {

// The label draws its text inside its frame and margin.
int widthNeeded(const QLabel *label)
{
    const int around = label->width() - label->contentsRect().width() + 2 * label->margin();
    return label->fontMetrics().horizontalAdvance(label->text()) + around;
}

// The button draws its text inside the contents rectangle its style gives.
int widthNeeded(const QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    const QRect contents = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return button->fontMetrics().horizontalAdvance(button->text()) + button->width() - contents.width();
}

} // namespace

void widenToFitTexts(MainWindowForm &form, QMainWindow *window)
{
    // The working area starts at the window's left edge.
    int right = window->width();
    const auto widen = [&right](QWidget *widget, int needed) {
        if (needed > widget->width()) {
            widget->resize(needed, widget->height());
            right = std::max(right, widget->x() + needed);
        }
    };

    widen(form.scan_btn, widthNeeded(form.scan_btn));
    for (QLabel *label : {form.label, form.label_2, form.label_3, form.label_4, form.label_5, form.label_6,
                          form.label_7, form.label_8, form.label_9, form.label_10, form.label_11,
                          form.label_12, form.l6, form.l7, form.l8, form.l9, form.l10})
        widen(label, widthNeeded(label));

    if (right > window->width())
        window->resize(right, window->height());
}
