#include "ui/WidgetRules.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

bool EnterClicksButton::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            static_cast<QAbstractButton*>(watched)->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool LeftButtonOnly::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

QRect PageControlStyle::subElementRect(SubElement element, const QStyleOption* option,
                                       const QWidget* widget) const {
    if (element == SE_TabWidgetTabContents && widget != nullptr)
        return widget->rect().adjusted(kPageMargin, kTabRowHeight, -kPageMargin, -kPageMargin);
    return QProxyStyle::subElementRect(element, option, widget);
}
