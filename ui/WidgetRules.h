#pragma once

// How the window's controls behave where Qt's defaults differ from the classic toolkit's.

#include <QObject>
#include <QProxyStyle>

// Enter, Return and the keypad's Enter click the focused button, as Space does; Qt leaves them to
// the default button of a dialog. Installed as an event filter on buttons.
class EnterClicksButton final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A list box takes only the left button: a right or middle click neither selects nor shows anything.
// Installed as an event filter on a list's viewport.
class LeftButtonOnly final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// A page control's pages keep the client area of the original's tab control: 4 pixels in from
// the left, right and bottom edges, below a 27-pixel tab row (624 x 392 gives 616 x 361 pages).
class PageControlStyle final : public QProxyStyle {
public:
    QRect subElementRect(SubElement element, const QStyleOption* option,
                         const QWidget* widget) const override;

private:
    static constexpr int kPageMargin = 4;
    static constexpr int kTabRowHeight = 27;
};
