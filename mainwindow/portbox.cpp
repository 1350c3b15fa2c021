#include "portbox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionComboBox>

#include <algorithm>

#include "nameelide.h"

namespace {

// Draws the closed box's current text elided in the middle where it would be
// cut; everything else is drawn by the application's style.
class ElidingComboStyle : public QProxyStyle
{
public:
    // A copy of the application's style: without a key, a proxy would take
    // the desktop's default, which the application may have replaced.
    ElidingComboStyle()
        : QProxyStyle(QApplication::style()->objectName())
    { }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *combo = qstyleoption_cast<const QStyleOptionComboBox *>(option);
        if (element != CE_ComboBoxLabel || !combo || combo->editable)
            return QProxyStyle::drawControl(element, option, painter, widget);
        QStyleOptionComboBox elided(*combo);
        // The label is drawn one pixel in from each side of the edit field,
        // after the icon if there is one.
        int room = subControlRect(CC_ComboBox, combo, SC_ComboBoxEditField, widget).width() - 2;
        if (!combo->currentIcon.isNull())
            room -= combo->iconSize.width() + 4;
        elided.currentText = elideNameMiddle(combo->currentText, combo->fontMetrics, room);
        QProxyStyle::drawControl(element, &elided, painter, widget);
    }
};

// Widens the drop-down list as it opens, before it is mapped, to what its
// longest entry needs, up to the screen's width, keeping it on the screen.
class ListWidener : public QObject
{
public:
    explicit ListWidener(QComboBox *box)
        : QObject(box)
        , box(box)
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            widen(static_cast<QWidget *>(watched));
        return false;
    }

private:
    void widen(QWidget *popup)
    {
        QAbstractItemView *view = box->view();
        const QRect screen = box->screen()->availableGeometry();
        // What the popup puts around the entries: its frame, the list's and,
        // once the list scrolls, the scroll bar.
        int needed = view->sizeHintForColumn(0) + popup->width() - view->viewport()->width();
        if (box->count() > box->maxVisibleItems() && !view->verticalScrollBar()->isVisible())
            needed += view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
        QRect placed = popup->geometry();
        placed.setWidth(std::min(std::max(needed, placed.width()), screen.width()));
        if (placed.right() > screen.right())
            placed.moveRight(screen.right());
        popup->setGeometry(placed);
    }

    QComboBox *box;
};

} // namespace

void showLongPortNames(QComboBox *box)
{
    auto *style = new ElidingComboStyle;
    style->setParent(box);
    box->setStyle(style);

    // The view's parent is the popup that holds it, made with the view.
    box->view()->parentWidget()->installEventFilter(new ListWidener(box));

    QObject::connect(box, &QComboBox::currentTextChanged, box, [box](const QString &name) {
        box->setToolTip(name);
        box->setAccessibleDescription(name);
    });
}
