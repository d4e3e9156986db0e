#include "ui/TProgressBar.h"

#include <algorithm>

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    Show();
}

void TProgressBar::SetMax(int max) {
    // The minimum stays where it is; a maximum below it (the low bits of a huge length) leaves an
    // empty range.
    max_ = std::max(max, min_);
    position_ = std::clamp(position_, min_, max_);
    Show();
}

void TProgressBar::SetPosition(int position) {
    position_ = std::clamp(position, min_, max_);
    Show();
}

void TProgressBar::Show() {
    if (min_ == max_) {
        // An empty range shows an empty bar, not Qt's busy indicator.
        setRange(0, 1);
        setValue(0);
        return;
    }
    setRange(min_, max_);
    setValue(position_);
}
