#include "ui/ProgrammeGrid.h"

#include "catalogue/CatalogueClasses.h"
#include "catalogue/ListingTime.h"
#include "ui/ProgrammeGridAccessible.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

namespace {

constexpr int kTextPadding = 4;
constexpr int kNowLineWidth = 2;
constexpr int kSelectionFrame = 2;
const QColor kNowColour(208, 32, 32);
// Laid-out texts kept at most; a screenful holds some hundreds.
constexpr qsizetype kShapedTexts = 4096;

} // namespace

TProgrammeGrid::TProgrammeGrid(QWidget* parent) : QAbstractScrollArea(parent) {
    TProgrammeGridAccessible::Install();
    setObjectName(QStringLiteral("ProgrammeGrid"));
    setAccessibleName(QStringLiteral("节目单"));
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setMouseTracking(false);
    // Every pixel is painted anew: scrolling by copying pixels would smear at fractional scales.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    Now = [] { return ListingNow(); };
    Measure();
}

void TProgrammeGrid::Measure() {
    const QFontMetrics metrics = fontMetrics();
    rowHeight_ = metrics.height() + 10;
    rulerHeight_ = metrics.height() + 8;
    channelWidth_ = metrics.horizontalAdvance(QStringLiteral("频道名称频道名称")) + 2 * kTextPadding;
    ForgetShapedTexts();
    if (grid_)
        day_ = MakeDay(day_.Date());
    UpdateScrollBars();
}

GridDay TProgrammeGrid::MakeDay(const QDate& date) const {
    if (className_ == QStringView(kFavouritesClass))
        return GridDay(
            *grid_, date, QString::fromUtf16(kAllChannelsClass), {slotWidth_, rowHeight_},
            IsFavourite ? IsFavourite : [](const GuideChannel&) { return false; });
    return GridDay(*grid_, date, className_, {slotWidth_, rowHeight_});
}

void TProgrammeGrid::ShowDay(std::shared_ptr<const GuideGrid> grid, const QDate& date,
                             const QString& className) {
    if (grid != grid_)
        ForgetShapedTexts();
    grid_ = std::move(grid);
    className_ = className;
    day_ = MakeDay(date);
    ++generation_;
    selected_.reset();
    if (selectedKey_) {
        // The same programme: the same listing, start and title.
        for (qsizetype row = 0; row < day_.RowCount() && !selected_; ++row) {
            if (day_.Channel(row).listingPath != selectedKey_->listingPath)
                continue;
            const std::span<const GridBox> boxes = day_.RowBoxes(row);
            for (size_t box = 0; box < boxes.size(); ++box)
                if (boxes[box].start == selectedKey_->start &&
                    boxes[box].programme->title == selectedKey_->title)
                    selected_ = GridPlace{row, static_cast<qsizetype>(box)};
        }
    }
    if (!selected_)
        selectedKey_.reset();
    UpdateScrollBars();
    TProgrammeGridAccessible::Reset(this);
    viewport()->update();
    emit SelectionChanged();
}

void TProgrammeGrid::Select(const GridPlace& place) {
    if (place.row < 0 || place.row >= day_.RowCount() || place.box < 0 ||
        place.box >= static_cast<qsizetype>(day_.RowBoxes(place.row).size()))
        return;
    selected_ = place;
    const GridBox& box = day_.Box(place);
    selectedKey_ = SelectionKey{day_.Channel(place.row).listingPath, box.start, box.programme->title};
    EnsureVisible(place);
    viewport()->update();
    AnnounceSelection();
    emit SelectionChanged();
}

void TProgrammeGrid::AnnounceSelection() {
    if (!selected_)
        return;
    const int child = TProgrammeGridAccessible::ChildOf(day_, *selected_);
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(child);
    QAccessible::updateAccessibility(&focus);
    QAccessibleEvent selection(this, QAccessible::Selection);
    selection.setChild(child);
    QAccessible::updateAccessibility(&selection);
}

qint64 TProgrammeGrid::NowInstant() const {
    return Now().toMSecsSinceEpoch();
}

void TProgrammeGrid::ScrollToTime(qint64 instant) {
    const int visible = viewport()->width() - channelWidth_;
    horizontalScrollBar()->setValue(day_.XOf(instant) - visible / 3);
}

void TProgrammeGrid::GoToNow() {
    const qint64 now = NowInstant();
    ScrollToTime(now);
    const qsizetype firstRow =
        day_.RowsBetween(verticalScrollBar()->value(), verticalScrollBar()->value() + 1).first;
    if (const std::optional<GridPlace> place = day_.NearFrom(firstRow, now))
        Select(*place);
}

void TProgrammeGrid::MinutePassed() {
    viewport()->update();
}

void TProgrammeGrid::SetSlotWidth(int pixels) {
    pixels = std::clamp(pixels, kMinSlotWidth, kMaxSlotWidth);
    if (pixels == slotWidth_)
        return;
    // The time at the view's left third stays where it is.
    const int visible = viewport()->width() - channelWidth_;
    const qint64 anchor = day_.InstantAt(horizontalScrollBar()->value() + visible / 3);
    slotWidth_ = pixels;
    ForgetShapedTexts();
    if (grid_)
        day_ = MakeDay(day_.Date());
    UpdateScrollBars();
    ScrollToTime(anchor);
    viewport()->update();
}

void TProgrammeGrid::UpdateScrollBars() {
    const int width = viewport()->width() - channelWidth_;
    const int height = viewport()->height() - rulerHeight_;
    horizontalScrollBar()->setRange(0, std::max(day_.Width() - width, 0));
    horizontalScrollBar()->setPageStep(std::max(width, 1));
    horizontalScrollBar()->setSingleStep(std::max(slotWidth_ / 2, 1));
    verticalScrollBar()->setRange(0, std::max(day_.Height() - height, 0));
    verticalScrollBar()->setPageStep(std::max(height, 1));
    verticalScrollBar()->setSingleStep(rowHeight_);
}

QPoint TProgrammeGrid::ContentOrigin() const {
    return {channelWidth_ - horizontalScrollBar()->value(), rulerHeight_ - verticalScrollBar()->value()};
}

QRect TProgrammeGrid::ContentArea() const {
    return QRect(QPoint(channelWidth_, rulerHeight_), viewport()->rect().bottomRight());
}

QRect TProgrammeGrid::ViewRect(const GridPlace& place) const {
    return day_.BoxRect(place).translated(ContentOrigin());
}

std::optional<GridPlace> TProgrammeGrid::PlaceAtView(const QPoint& point) const {
    if (!ContentArea().contains(point))
        return std::nullopt;
    return day_.PlaceAt(point - ContentOrigin());
}

qsizetype TProgrammeGrid::RowsInView() const {
    return std::max((viewport()->height() - rulerHeight_) / rowHeight_, 1);
}

void TProgrammeGrid::EnsureVisible(const GridPlace& place) {
    const QRect box = day_.BoxRect(place);
    const int width = viewport()->width() - channelWidth_;
    const int height = viewport()->height() - rulerHeight_;
    QScrollBar* across = horizontalScrollBar();
    // A box wider than the view shows its start.
    if (box.left() < across->value() || box.width() > width)
        across->setValue(box.left());
    else if (box.right() >= across->value() + width)
        across->setValue(box.right() + 1 - width);
    QScrollBar* down = verticalScrollBar();
    if (box.top() < down->value())
        down->setValue(box.top());
    else if (box.bottom() >= down->value() + height)
        down->setValue(box.bottom() + 1 - height);
}

void TProgrammeGrid::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TProgrammeGrid::scrollContentsBy(int, int) {
    viewport()->update();
}

void TProgrammeGrid::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        Measure();
}

void TProgrammeGrid::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const qint64 now = NowInstant();
    const QRect area = ContentArea();
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    painter.save();
    painter.setClipRect(area);
    PaintBoxes(painter, area, now);
    PaintNowLine(painter, now);
    painter.restore();
    PaintChannels(painter);
    PaintRuler(painter, now);
    if (day_.RowCount() == 0 || day_.MostBoxes() == 0) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("暂无节目，请先更新电视节目"));
    }
}

void TProgrammeGrid::PaintBoxes(QPainter& painter, const QRect& area, qint64 now) {
    const QPoint origin = ContentOrigin();
    const QRect inContent = area.translated(-origin);
    const auto [firstRow, lastRow] = day_.RowsBetween(inContent.top(), inContent.bottom() + 1);
    for (qsizetype row = firstRow; row < lastRow; ++row) {
        const auto [first, last] = day_.BoxesBetween(row, inContent.left(), inContent.right() + 1);
        for (qsizetype box = first; box < last; ++box)
            PaintBox(painter, {row, box}, area, now);
    }
}

void TProgrammeGrid::PaintBox(QPainter& painter, const GridPlace& place, const QRect& area, qint64 now) {
    const GridBox& box = day_.Box(place);
    // A pixel of the background right and below parts the boxes.
    const QRect rect = ViewRect(place).adjusted(0, 0, -1, -1);
    const QPalette& colours = palette();
    QColor fill = colours.color(QPalette::Base);
    QColor text = colours.color(QPalette::Text);
    switch (BoxTimeAt(box, now)) {
    case BoxTime::Past:
        fill = colours.color(QPalette::AlternateBase);
        text = colours.color(QPalette::Disabled, QPalette::Text);
        break;
    case BoxTime::OnAir:
        fill = colours.color(QPalette::Highlight);
        text = colours.color(QPalette::HighlightedText);
        break;
    case BoxTime::Later:
        break;
    }
    painter.fillRect(rect, fill);
    const bool selected = selected_ == place;
    if (selected) {
        // Drawn as a frame, not by colour alone.
        const QColor frame = colours.color(QPalette::WindowText);
        const QRect inner =
            rect.adjusted(kSelectionFrame, kSelectionFrame, -kSelectionFrame, -kSelectionFrame);
        painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), kSelectionFrame), frame);
        painter.fillRect(QRect(rect.left(), inner.bottom() + 1, rect.width(), kSelectionFrame), frame);
        painter.fillRect(QRect(rect.left(), rect.top(), kSelectionFrame, rect.height()), frame);
        painter.fillRect(QRect(inner.right() + 1, rect.top(), kSelectionFrame, rect.height()), frame);
    }
    // The title starts where the box comes into view, so a long programme begun earlier still names
    // itself.
    const int left = std::max(rect.left(), area.left()) + kTextPadding + (selected ? kSelectionFrame : 0);
    const int right = rect.right() - kTextPadding - (selected ? kSelectionFrame : 0);
    if (right - left < 4)
        return;
    painter.setPen(text);
    painter.drawStaticText(left, rect.top() + (rect.height() - fontMetrics().height()) / 2,
                           Shaped(box.programme, box.programme->title, right - left + 1));
}

const QStaticText& TProgrammeGrid::Shaped(const void* key, const QString& text, int width) {
    if (shaped_.size() >= kShapedTexts)
        shaped_.clear();
    QStaticText& shaped = shaped_[qMakePair(key, width)];
    if (shaped.text().isEmpty() && !text.isEmpty()) {
        shaped.setText(fontMetrics().elidedText(text, Qt::ElideRight, width));
        shaped.setTextFormat(Qt::PlainText);
        shaped.prepare(QTransform(), font());
    }
    return shaped;
}

void TProgrammeGrid::ForgetShapedTexts() {
    shaped_.clear();
    rulerLabels_.clear();
}

void TProgrammeGrid::PaintNowLine(QPainter& painter, qint64 now) {
    if (now < day_.DayStart() || now >= day_.DayEnd())
        return;
    const int x = ContentOrigin().x() + day_.XOf(now);
    painter.fillRect(QRect(x - kNowLineWidth / 2, rulerHeight_, kNowLineWidth, viewport()->height()),
                     kNowColour);
}

void TProgrammeGrid::PaintChannels(QPainter& painter) {
    const QPalette& colours = palette();
    const QRect column(0, rulerHeight_, channelWidth_, viewport()->height() - rulerHeight_);
    painter.save();
    painter.setClipRect(column);
    painter.fillRect(column, colours.color(QPalette::Button));
    const int top = ContentOrigin().y();
    const auto [first, last] =
        day_.RowsBetween(verticalScrollBar()->value(), verticalScrollBar()->value() + column.height());
    painter.setPen(colours.color(QPalette::ButtonText));
    const int textTop = (rowHeight_ - 1 - fontMetrics().height()) / 2;
    for (qsizetype row = first; row < last; ++row) {
        const QRect cell(0, top + static_cast<int>(row) * rowHeight_, channelWidth_ - 1, rowHeight_ - 1);
        painter.fillRect(QRect(0, cell.bottom() + 1, channelWidth_, 1), colours.color(QPalette::Mid));
        const QRect text = cell.adjusted(kTextPadding, 0, -kTextPadding, 0);
        const GuideChannel& channel = day_.Channel(row);
        if (selected_ && selected_->row == row) {
            // The selected programme's channel in bold.
            QFont bold = font();
            bold.setBold(true);
            painter.setFont(bold);
            painter.drawText(
                text, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(bold).elidedText(channel.displayName, Qt::ElideRight, text.width()));
            painter.setFont(font());
            continue;
        }
        painter.drawStaticText(text.left(), cell.top() + textTop,
                               Shaped(&channel, channel.displayName, text.width()));
    }
    painter.restore();
    painter.fillRect(QRect(channelWidth_ - 1, rulerHeight_, 1, column.height()),
                     colours.color(QPalette::Dark));
}

void TProgrammeGrid::PaintRuler(QPainter& painter, qint64 now) {
    const QPalette& colours = palette();
    const QRect ruler(channelWidth_, 0, viewport()->width() - channelWidth_, rulerHeight_);
    painter.fillRect(QRect(0, 0, viewport()->width(), rulerHeight_), colours.color(QPalette::Button));
    painter.fillRect(QRect(0, rulerHeight_ - 1, viewport()->width(), 1), colours.color(QPalette::Dark));
    painter.save();
    painter.setClipRect(ruler);
    painter.setPen(colours.color(QPalette::ButtonText));
    const int left = ContentOrigin().x();
    const int from = horizontalScrollBar()->value();
    for (const RulerMark& mark : day_.RulerMarks(from, from + ruler.width())) {
        const int x = left + mark.x;
        const int tick = mark.hour ? rulerHeight_ / 2 : rulerHeight_ / 4;
        painter.fillRect(QRect(x, rulerHeight_ - tick, 1, tick), colours.color(QPalette::Dark));
        auto label = rulerLabels_.constFind(mark.label);
        if (label == rulerLabels_.constEnd()) {
            QStaticText shaped(mark.label);
            shaped.setTextFormat(Qt::PlainText);
            shaped.prepare(QTransform(), font());
            label = rulerLabels_.insert(mark.label, shaped);
        }
        painter.drawStaticText(x + 3, (rulerHeight_ - 1 - fontMetrics().height()) / 2, *label);
    }
    if (now >= day_.DayStart() && now < day_.DayEnd()) {
        const int x = left + day_.XOf(now);
        painter.fillRect(QRect(x - kNowLineWidth / 2, rulerHeight_ / 2, kNowLineWidth, rulerHeight_ / 2),
                         kNowColour);
    }
    painter.restore();
    // The corner names the day.
    painter.setPen(colours.color(QPalette::ButtonText));
    painter.drawText(QRect(kTextPadding, 0, channelWidth_ - 2 * kTextPadding, rulerHeight_ - 1),
                     Qt::AlignLeft | Qt::AlignVCenter, day_.Date().toString(QStringLiteral("MM-dd")));
}

void TProgrammeGrid::wheelEvent(QWheelEvent* event) {
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        if (angle.y() != 0)
            SetSlotWidth(angle.y() > 0 ? slotWidth_ * 5 / 4 : slotWidth_ * 4 / 5);
        event->accept();
        return;
    }
    QPoint pixels = event->pixelDelta();
    if (pixels.isNull())
        pixels = QPoint(angle.x() * 3 * horizontalScrollBar()->singleStep() / 120,
                        angle.y() * 3 * rowHeight_ / 120);
    // Shift turns the wheel to the time (some systems have done so already).
    if ((event->modifiers() & Qt::ShiftModifier) && pixels.x() == 0)
        pixels = QPoint(angle.y() * 3 * horizontalScrollBar()->singleStep() / 120, 0);
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - pixels.x());
    verticalScrollBar()->setValue(verticalScrollBar()->value() - pixels.y());
    event->accept();
}

void TProgrammeGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    pressed_ = true;
    panning_ = false;
    pressAt_ = event->position().toPoint();
    pressScroll_ = {horizontalScrollBar()->value(), verticalScrollBar()->value()};
    event->accept();
}

void TProgrammeGrid::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_ || !(event->buttons() & Qt::LeftButton))
        return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint moved = event->position().toPoint() - pressAt_;
    if (!panning_ && moved.manhattanLength() < QApplication::startDragDistance())
        return;
    if (!panning_)
        viewport()->setCursor(Qt::ClosedHandCursor);
    panning_ = true;
    horizontalScrollBar()->setValue(pressScroll_.x() - moved.x());
    verticalScrollBar()->setValue(pressScroll_.y() - moved.y());
    event->accept();
}

void TProgrammeGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !pressed_)
        return QAbstractScrollArea::mouseReleaseEvent(event);
    pressed_ = false;
    if (panning_) {
        panning_ = false;
        viewport()->unsetCursor();
    } else if (const std::optional<GridPlace> place = PlaceAtView(event->position().toPoint())) {
        Select(*place);
    }
    event->accept();
}

void TProgrammeGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    if (const std::optional<GridPlace> place = PlaceAtView(event->position().toPoint())) {
        Select(*place);
        emit Activated(*place);
    }
    event->accept();
}

void TProgrammeGrid::contextMenuEvent(QContextMenuEvent* event) {
    std::optional<GridPlace> place = selected_;
    if (event->reason() == QContextMenuEvent::Mouse)
        place = PlaceAtView(event->pos());
    if (!place)
        return;
    Select(*place);
    emit ContextMenuAsked(*place, event->globalPos());
    event->accept();
}

void TProgrammeGrid::keyPressEvent(QKeyEvent* event) {
    std::optional<GridMove> move;
    switch (event->key()) {
    case Qt::Key_Left:
        move = GridMove::Left;
        break;
    case Qt::Key_Right:
        move = GridMove::Right;
        break;
    case Qt::Key_Up:
        move = GridMove::Up;
        break;
    case Qt::Key_Down:
        move = GridMove::Down;
        break;
    case Qt::Key_Home:
        move = GridMove::Home;
        break;
    case Qt::Key_End:
        move = GridMove::End;
        break;
    case Qt::Key_PageUp:
        move = GridMove::PageUp;
        break;
    case Qt::Key_PageDown:
        move = GridMove::PageDown;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (selected_)
            emit Activated(*selected_);
        return event->accept();
    case Qt::Key_F:
    case Qt::Key_R:
        if (!selected_ || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            break;
        if (event->key() == Qt::Key_F)
            emit FavouriteKey(*selected_);
        else
            emit ReminderKey(*selected_);
        return event->accept();
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        if (event->modifiers() & Qt::ControlModifier) {
            SetSlotWidth(slotWidth_ * 5 / 4);
            return event->accept();
        }
        break;
    case Qt::Key_Minus:
        if (event->modifiers() & Qt::ControlModifier) {
            SetSlotWidth(slotWidth_ * 4 / 5);
            return event->accept();
        }
        break;
    default:
        break;
    }
    if (!move)
        return QAbstractScrollArea::keyPressEvent(event);
    event->accept();
    if (!selected_) {
        // The first key picks the programme on air at the view's third on the first channel in view.
        const int visible = viewport()->width() - channelWidth_;
        const qint64 at = day_.InstantAt(horizontalScrollBar()->value() + visible / 3);
        const qsizetype row =
            day_.RowsBetween(verticalScrollBar()->value(), verticalScrollBar()->value() + 1).first;
        if (const std::optional<GridPlace> place = day_.NearFrom(row, at))
            Select(*place);
        return;
    }
    Select(day_.Move(*selected_, *move, RowsInView()));
}

void TProgrammeGrid::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    // A screen reader hears where the focus is.
    AnnounceSelection();
}

bool TProgrammeGrid::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (const std::optional<GridPlace> place = PlaceAtView(help->pos()))
            QToolTip::showText(help->globalPos(), BoxName(day_.Box(*place)), viewport(), ViewRect(*place));
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
