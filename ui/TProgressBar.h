#pragma once

#include <QProgressBar>

// A progress bar with the rules of a Windows progress bar: a position outside the range is clipped into it
// (Qt would ignore it), and a range of 0..0 shows an empty bar (Qt would show a busy animation).
class TProgressBar final : public QProgressBar {
    Q_OBJECT
public:
    explicit TProgressBar(QWidget* parent = nullptr);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMax(int max);
    void SetPosition(int position);

private:
    void Show();

    int min_ = 0;
    int max_ = 100;
    int position_ = 0;
};
