#pragma once

#include "guide/GridDay.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QList>

class TProgrammeGrid;

// What a screen reader reads of the programme grid: a table whose rows are the channels and whose
// cells are the programmes, a row's first cell being the first programme of the day. A cell's name
// is "HH:MM–HH:MM title" and its row header the channel's name. The children are, row by row, the
// row's header and then its programmes; cells are made when a reader asks for them and dropped when
// the grid shows another day, class or reading.
class TProgrammeGridAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TProgrammeGridAccessible(TProgrammeGrid* grid);
    ~TProgrammeGridAccessible() override;

    // Makes this the interface of every programme grid (once).
    static void Install();
    // The grid shows another day: the cells go, and a reader hears that the table changed.
    static void Reset(TProgrammeGrid* grid);
    // The child index of a programme's cell.
    static int ChildOf(const GridDay& day, const GridPlace& place);

    TProgrammeGrid* Grid() const;
    const GridDay& Day() const;
    // The row header or cell at a child index, made on first use; `box` -1 for the header.
    QAccessibleInterface* CellOf(qsizetype row, qsizetype box) const;

    // QAccessibleInterface
    QAccessible::Role role() const override { return QAccessible::Table; }
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int columnCount() const override;
    int rowCount() const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    void DropCellsOfOtherDays() const;
    // Where a child index lies: its row and box (-1 for the header).
    std::pair<qsizetype, qsizetype> PlaceOfChild(int index) const;

    // Per row the child index of its header, for the day shown when it was made.
    mutable QList<int> rowStarts_;
    mutable int generation_ = -1;
    mutable QHash<QPair<qsizetype, qsizetype>, QAccessible::Id> cells_;
};
