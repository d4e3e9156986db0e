#include "ui/ProgrammeGridAccessible.h"

#include "ui/ProgrammeGrid.h"

#include <QPointer>
#include <QScrollBar>

namespace {

QAccessibleInterface* GridFactory(const QString& className, QObject* object) {
    auto* grid = qobject_cast<TProgrammeGrid*>(object);
    if (className != u"TProgrammeGrid" || grid == nullptr)
        return nullptr;
    return new TProgrammeGridAccessible(grid);
}

// A cell of the grid's table: it has no children and belongs to one day of one grid.
class GridCell : public QAccessibleInterface {
public:
    GridCell(TProgrammeGrid* grid, int generation) : grid_(grid), generation_(generation) {}

    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return grid_ ? grid_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(grid_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}

protected:
    bool OfTheDayShown() const { return grid_ && grid_->Generation() == generation_; }
    // A rectangle of the grid's viewport on the screen.
    QRect OnScreen(const QRect& local) const {
        return QRect(grid_->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    QPointer<TProgrammeGrid> grid_;
    int generation_;
};

// A channel's name at the head of its row.
class RowHeader final : public GridCell {
public:
    RowHeader(TProgrammeGrid* grid, int generation, qsizetype row) : GridCell(grid, generation), row_(row) {}

    bool isValid() const override { return OfTheDayShown() && row_ < grid_->Day().RowCount(); }
    QString text(QAccessible::Text type) const override {
        if (!isValid() || (type != QAccessible::Name && type != QAccessible::Value))
            return {};
        return grid_->Day().Channel(row_).displayName;
    }
    QRect rect() const override {
        if (!isValid())
            return {};
        const int height = grid_->Day().Scale().rowHeight;
        const int top =
            grid_->RulerHeight() - grid_->verticalScrollBar()->value() + static_cast<int>(row_) * height;
        return OnScreen(QRect(0, top, grid_->ChannelColumnWidth(), height));
    }
    QAccessible::Role role() const override { return QAccessible::RowHeader; }
    QAccessible::State state() const override { return {}; }

private:
    qsizetype row_;
};

// A programme.
class ProgrammeCell final : public GridCell, public QAccessibleTableCellInterface {
public:
    ProgrammeCell(TProgrammeGrid* grid, int generation, const GridPlace& place)
        : GridCell(grid, generation), place_(place) {}

    bool isValid() const override {
        return OfTheDayShown() && place_.row < grid_->Day().RowCount() &&
               place_.box < static_cast<qsizetype>(grid_->Day().RowBoxes(place_.row).size());
    }
    QString text(QAccessible::Text type) const override {
        if (!isValid() || type != QAccessible::Name)
            return {};
        return BoxName(grid_->Day().Box(place_));
    }
    QRect rect() const override { return isValid() ? OnScreen(grid_->ViewRect(place_)) : QRect(); }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        if (!isValid())
            return state;
        const bool selected = grid_->Selected() == place_;
        state.selected = selected;
        state.focused = selected && grid_->hasFocus();
        const QRect area(grid_->ChannelColumnWidth(), grid_->RulerHeight(),
                         grid_->viewport()->width() - grid_->ChannelColumnWidth(),
                         grid_->viewport()->height() - grid_->RulerHeight());
        state.offscreen = !area.intersects(grid_->ViewRect(place_));
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this)
                                                       : nullptr;
    }

    // QAccessibleTableCellInterface
    bool isSelected() const override { return isValid() && grid_->Selected() == place_; }
    QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface*> rowHeaderCells() const override {
        if (!isValid())
            return {};
        auto* table = static_cast<TProgrammeGridAccessible*>(QAccessible::queryAccessibleInterface(grid_));
        return {table->CellOf(place_.row, -1)};
    }
    int columnIndex() const override { return static_cast<int>(place_.box); }
    int rowIndex() const override { return static_cast<int>(place_.row); }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    GridPlace place_;
};

} // namespace

TProgrammeGridAccessible::TProgrammeGridAccessible(TProgrammeGrid* grid)
    : QAccessibleWidget(grid, QAccessible::Table) {}

TProgrammeGridAccessible::~TProgrammeGridAccessible() {
    for (const QAccessible::Id id : std::as_const(cells_))
        QAccessible::deleteAccessibleInterface(id);
}

void TProgrammeGridAccessible::Install() {
    static const bool installed = [] {
        QAccessible::installFactory(GridFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void TProgrammeGridAccessible::Reset(TProgrammeGrid* grid) {
    // Only an interface already made has anything to drop or anyone to tell.
    if (!QAccessible::isActive())
        return;
    QAccessibleTableModelChangeEvent reset(grid, QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&reset);
}

int TProgrammeGridAccessible::ChildOf(const GridDay& day, const GridPlace& place) {
    qsizetype index = 0;
    for (qsizetype row = 0; row < place.row; ++row)
        index += 1 + static_cast<qsizetype>(day.RowBoxes(row).size());
    return static_cast<int>(index + 1 + place.box);
}

TProgrammeGrid* TProgrammeGridAccessible::Grid() const {
    return static_cast<TProgrammeGrid*>(widget());
}

const GridDay& TProgrammeGridAccessible::Day() const {
    return Grid()->Day();
}

void TProgrammeGridAccessible::DropCellsOfOtherDays() const {
    if (generation_ == Grid()->Generation())
        return;
    generation_ = Grid()->Generation();
    for (const QAccessible::Id id : std::as_const(cells_))
        QAccessible::deleteAccessibleInterface(id);
    cells_.clear();
    rowStarts_.clear();
    int start = 0;
    for (qsizetype row = 0; row < Day().RowCount(); ++row) {
        rowStarts_.append(start);
        start += 1 + static_cast<int>(Day().RowBoxes(row).size());
    }
    rowStarts_.append(start);
}

QAccessibleInterface* TProgrammeGridAccessible::CellOf(qsizetype row, qsizetype box) const {
    DropCellsOfOtherDays();
    if (row < 0 || row >= Day().RowCount() || box < -1 ||
        box >= static_cast<qsizetype>(Day().RowBoxes(row).size()))
        return nullptr;
    const auto key = qMakePair(row, box);
    if (const auto found = cells_.constFind(key); found != cells_.constEnd())
        return QAccessible::accessibleInterface(*found);
    QAccessibleInterface* cell =
        box < 0 ? static_cast<QAccessibleInterface*>(new RowHeader(Grid(), generation_, row))
                : new ProgrammeCell(Grid(), generation_, {row, box});
    cells_.insert(key, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

std::pair<qsizetype, qsizetype> TProgrammeGridAccessible::PlaceOfChild(int index) const {
    DropCellsOfOtherDays();
    const auto after = std::upper_bound(rowStarts_.begin(), rowStarts_.end(), index);
    const qsizetype row = (after - rowStarts_.begin()) - 1;
    return {row, index - rowStarts_[row] - 1};
}

int TProgrammeGridAccessible::childCount() const {
    DropCellsOfOtherDays();
    return rowStarts_.last();
}

QAccessibleInterface* TProgrammeGridAccessible::child(int index) const {
    if (index < 0 || index >= childCount())
        return nullptr;
    const auto [row, box] = PlaceOfChild(index);
    return CellOf(row, box);
}

int TProgrammeGridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (child == nullptr)
        return -1;
    DropCellsOfOtherDays();
    const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
    for (auto it = cells_.constBegin(); it != cells_.constEnd(); ++it)
        if (*it == id)
            return rowStarts_[it.key().first] + 1 + static_cast<int>(it.key().second);
    return -1;
}

QAccessibleInterface* TProgrammeGridAccessible::childAt(int x, int y) const {
    TProgrammeGrid* grid = Grid();
    const QPoint point = grid->viewport()->mapFromGlobal(QPoint(x, y));
    if (const std::optional<GridPlace> place = grid->PlaceAtView(point))
        return CellOf(place->row, place->box);
    if (point.x() >= 0 && point.x() < grid->ChannelColumnWidth() && point.y() >= grid->RulerHeight()) {
        const int y0 = point.y() - grid->RulerHeight() + grid->verticalScrollBar()->value();
        return CellOf(y0 / Day().Scale().rowHeight, -1);
    }
    return nullptr;
}

QAccessibleInterface* TProgrammeGridAccessible::focusChild() const {
    const std::optional<GridPlace>& selected = Grid()->Selected();
    return selected ? CellOf(selected->row, selected->box) : nullptr;
}

void* TProgrammeGridAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* TProgrammeGridAccessible::cellAt(int row, int column) const {
    return column < 0 ? nullptr : CellOf(row, column);
}

int TProgrammeGridAccessible::columnCount() const {
    return static_cast<int>(Day().MostBoxes());
}

int TProgrammeGridAccessible::rowCount() const {
    return static_cast<int>(Day().RowCount());
}

int TProgrammeGridAccessible::selectedCellCount() const {
    return Grid()->Selected() ? 1 : 0;
}

QList<QAccessibleInterface*> TProgrammeGridAccessible::selectedCells() const {
    if (QAccessibleInterface* cell = focusChild())
        return {cell};
    return {};
}

QString TProgrammeGridAccessible::columnDescription(int) const {
    return {};
}

QString TProgrammeGridAccessible::rowDescription(int row) const {
    return row >= 0 && row < Day().RowCount() ? Day().Channel(row).displayName : QString();
}

void TProgrammeGridAccessible::modelChange(QAccessibleTableModelChangeEvent*) {
    DropCellsOfOtherDays();
}
