#pragma once

#include "guide/GridDay.h"

#include <QAbstractScrollArea>
#include <QDateTime>
#include <QHash>
#include <QStaticText>

#include <functional>
#include <memory>
#include <optional>

// The class selector's item of the favourite channels.
inline constexpr char16_t kFavouritesClass[] = u"收藏";

// The programme grid: channels down a column that stays in place, a time ruler across the top that
// stays in place, one box per programme between them. It paints only what is in view, straight from
// the day's boxes; nothing per programme is a widget. A screen reader reads it as a table whose
// cells are the programmes (see ProgrammeGridAccessible.h).
class TProgrammeGrid final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TProgrammeGrid(QWidget* parent = nullptr);

    // The time the highlight and the line of "now" go by.
    std::function<QDateTime()> Now;
    // Whether a channel is a favourite, for the class "收藏".
    std::function<bool(const GuideChannel&)> IsFavourite;

    // Shows `date` of `grid` with the channels of `className`. The selection stays on its programme
    // when that is still there (in a new reading too), else there is none.
    void ShowDay(std::shared_ptr<const GuideGrid> grid, const QDate& date, const QString& className);
    const GridDay& Day() const { return day_; }
    const std::optional<GridPlace>& Selected() const { return selected_; }
    // Selects a box, scrolls it into view and moves the screen reader's focus to it.
    void Select(const GridPlace& place);
    // Scrolls to the current time (about a third from the left) and selects the programme on air on
    // the first channel in view.
    void GoToNow();
    // Scrolls so that `instant` lies about a third from the left.
    void ScrollToTime(qint64 instant);
    // Repaints for the minute: the highlight and the line of "now" move.
    void MinutePassed();
    // The zoom: pixels for every 30 minutes, kept within bounds.
    void SetSlotWidth(int pixels);

    // Where things are, in the viewport's pixels.
    int ChannelColumnWidth() const { return channelWidth_; }
    int RulerHeight() const { return rulerHeight_; }
    QRect ViewRect(const GridPlace& place) const;
    std::optional<GridPlace> PlaceAtView(const QPoint& point) const;
    // The rows that fit in view, at least one.
    qsizetype RowsInView() const;
    qint64 NowInstant() const;
    // Counts the days, classes and readings shown; a screen reader's cells belong to one.
    int Generation() const { return generation_; }

    static constexpr int kMinSlotWidth = 24;
    static constexpr int kMaxSlotWidth = 480;

signals:
    // Enter or a double-click on a programme.
    void Activated(const GridPlace& place);
    // The key F on a programme: its channel's favourite mark changes.
    void FavouriteKey(const GridPlace& place);
    // The key R on a programme: remind of it.
    void ReminderKey(const GridPlace& place);
    // A right click on a programme, which it selects; `at` in global coordinates.
    void ContextMenuAsked(const GridPlace& place, const QPoint& at);
    void SelectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // What names the selected programme across readings.
    struct SelectionKey {
        QString listingPath;
        qint64 start = 0;
        QString title;
    };
    void Measure();
    GridDay MakeDay(const QDate& date) const;
    void UpdateScrollBars();
    QPoint ContentOrigin() const;
    QRect ContentArea() const;
    void EnsureVisible(const GridPlace& place);
    void AnnounceSelection();
    void PaintBoxes(QPainter& painter, const QRect& area, qint64 now);
    void PaintBox(QPainter& painter, const GridPlace& place, const QRect& area, qint64 now);
    void PaintChannels(QPainter& painter);
    void PaintRuler(QPainter& painter, qint64 now);
    void PaintNowLine(QPainter& painter, qint64 now);
    // `text` cut to `width` with "…" and laid out once: shaping text costs a repaint more than all
    // its boxes. `key` names the text's source (a programme, a channel).
    const QStaticText& Shaped(const void* key, const QString& text, int width);
    void ForgetShapedTexts();

    std::shared_ptr<const GuideGrid> grid_;
    GridDay day_;
    QString className_;
    std::optional<GridPlace> selected_;
    int generation_ = 0;
    std::optional<SelectionKey> selectedKey_;
    int slotWidth_ = 100;
    int channelWidth_ = 100;
    int rulerHeight_ = 20;
    int rowHeight_ = 22;
    // A pan with the left button.
    QPoint pressAt_;
    QPoint pressScroll_;
    bool pressed_ = false;
    bool panning_ = false;
    // Texts laid out at the present font and zoom, for the boxes and channels in view; bounded.
    QHash<QPair<const void*, int>, QStaticText> shaped_;
    QHash<QString, QStaticText> rulerLabels_;
};
