#include "ui/SourcesPage.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

const QString kNever = QStringLiteral("—");

QString OffsetText(int minutes) {
    return (minutes > 0 ? QStringLiteral("+") : QString()) + QString::number(minutes) +
           QStringLiteral(" 分钟");
}

// The offset is edited in place as minutes, within half a day either way.
class OffsetDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const override {
        auto* editor = new QSpinBox(parent);
        editor->setRange(kMinSourceOffset, kMaxSourceOffset);
        editor->setSuffix(QStringLiteral(" 分钟"));
        editor->setAccessibleName(QStringLiteral("时间偏移"));
        return editor;
    }
    QString displayText(const QVariant& value, const QLocale&) const override {
        return OffsetText(value.toInt());
    }
};

// An address keeps its host and its file name when it is cut to the column.
class MiddleElided final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

QPushButton* MakeButton(QWidget* parent, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

// The cell's item, made when the row is new. Items are changed in place, never replaced, and only
// where something differs: a change of an item's data also resets an editor open on it.
QTableWidgetItem* Cell(QTableWidget* table, int row, int column, Qt::ItemFlags flags) {
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    flags |= Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (item->flags() != flags)
        item->setFlags(flags);
    return item;
}

void SetData(QTableWidgetItem* item, int role, const QVariant& value) {
    if (item->data(role) != value)
        item->setData(role, value);
}

void SetText(QTableWidget* table, int row, int column, const QString& text, Qt::ItemFlags flags = {}) {
    QTableWidgetItem* item = Cell(table, row, column, flags);
    SetData(item, Qt::DisplayRole, text);
    SetData(item, Qt::ToolTipRole, text);
}

} // namespace

TSourcesPage::TSourcesPage(SourceSettings& settings, std::function<QString()> builtInAddress, QWidget* parent)
    : QWidget(parent), settings_(settings), builtInAddress_(std::move(builtInAddress)) {
    setObjectName(QStringLiteral("SourcesPage"));
    SourceTable = new QTableWidget(0, 6, this);
    SourceTable->setObjectName(QStringLiteral("SourceTable"));
    SourceTable->setAccessibleName(QStringLiteral("节目源列表"));
    SourceTable->setHorizontalHeaderLabels({QStringLiteral("启用"), QStringLiteral("名称"),
                                            QStringLiteral("地址"), QStringLiteral("时间偏移"),
                                            QStringLiteral("上次更新"), QStringLiteral("结果")});
    SourceTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    SourceTable->setSelectionMode(QAbstractItemView::SingleSelection);
    SourceTable->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                 QAbstractItemView::SelectedClicked);
    SourceTable->setWordWrap(false);
    SourceTable->setTextElideMode(Qt::ElideRight);
    SourceTable->setItemDelegateForColumn(AddressColumn, new MiddleElided(SourceTable));
    SourceTable->verticalHeader()->hide();
    SourceTable->setItemDelegateForColumn(OffsetColumn, new OffsetDelegate(SourceTable));
    QHeaderView* header = SourceTable->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(AddressColumn, QHeaderView::Stretch);
    header->resizeSection(EnabledColumn, 36);
    header->resizeSection(NameColumn, 92);
    header->resizeSection(OffsetColumn, 70);
    header->resizeSection(LastUpdateColumn, 88);
    header->resizeSection(ResultColumn, 160);

    AddressEdit = new QLineEdit(this);
    AddressEdit->setObjectName(QStringLiteral("AddressEdit"));
    AddressEdit->setAccessibleName(QStringLiteral("节目单地址"));
    AddressEdit->setPlaceholderText(QStringLiteral("http(s)://… XMLTV（.xml 或 .xml.gz）或 Zip 节目包"));
    AddButton = MakeButton(this, QStringLiteral("添加"));
    RemoveButton = MakeButton(this, QStringLiteral("删除"));
    UpButton = MakeButton(this, QStringLiteral("上移"));
    DownButton = MakeButton(this, QStringLiteral("下移"));
    UpdateNowButton = MakeButton(this, QStringLiteral("立即更新"));
    AutomaticBox = new QCheckBox(QStringLiteral("自动更新"), this);
    AutomaticBox->setAccessibleName(QStringLiteral("自动更新"));
    auto* dailyLabel = new QLabel(QStringLiteral("每天更新时间"), this);
    DailyTimeEdit = new QTimeEdit(this);
    DailyTimeEdit->setDisplayFormat(QStringLiteral("HH:mm"));
    DailyTimeEdit->setAccessibleName(QStringLiteral("每天更新时间"));
    dailyLabel->setBuddy(DailyTimeEdit);
    NextUpdateLabel = new QLabel(this);
    NextUpdateLabel->setObjectName(QStringLiteral("NextUpdateLabel"));
    MessageLabel = new QLabel(this);
    MessageLabel->setObjectName(QStringLiteral("MessageLabel"));
    MessageLabel->setWordWrap(true);
    MessageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    MessageLabel->setAccessibleName(QStringLiteral("提示"));
    QPalette warning = MessageLabel->palette();
    warning.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x00));
    MessageLabel->setPalette(warning);

    auto* addRow = new QHBoxLayout;
    addRow->addWidget(AddressEdit, 1);
    addRow->addWidget(AddButton);
    auto* buttonRow = new QHBoxLayout;
    for (QWidget* widget : {static_cast<QWidget*>(RemoveButton), static_cast<QWidget*>(UpButton),
                            static_cast<QWidget*>(DownButton), static_cast<QWidget*>(UpdateNowButton)})
        buttonRow->addWidget(widget);
    buttonRow->addStretch(1);
    buttonRow->addWidget(AutomaticBox);
    buttonRow->addWidget(dailyLabel);
    buttonRow->addWidget(DailyTimeEdit);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(SourceTable, 1);
    layout->addLayout(addRow);
    layout->addLayout(buttonRow);
    layout->addWidget(NextUpdateLabel);
    layout->addWidget(MessageLabel);

    connect(AddButton, &QPushButton::clicked, this, &TSourcesPage::AddSource);
    connect(AddressEdit, &QLineEdit::returnPressed, this, &TSourcesPage::AddSource);
    connect(RemoveButton, &QPushButton::clicked, this, &TSourcesPage::RemoveSource);
    connect(UpButton, &QPushButton::clicked, this, [this] { MoveSource(-1); });
    connect(DownButton, &QPushButton::clicked, this, [this] { MoveSource(1); });
    connect(UpdateNowButton, &QPushButton::clicked, this, [this] {
        if (UpdateNow)
            UpdateNow();
    });
    connect(SourceTable, &QTableWidget::itemChanged, this, &TSourcesPage::TakeEdit);
    connect(AutomaticBox, &QCheckBox::toggled, this, &TSourcesPage::TakeAutomatic);
    connect(DailyTimeEdit, &QTimeEdit::timeChanged, this, &TSourcesPage::TakeAutomatic);
    connect(&settings_, &SourceSettings::Changed, this, &TSourcesPage::Fill);

    Fill();
    if (!settings_.File().LoadProblem().isEmpty())
        Say(settings_.File().LoadProblem());
}

void TSourcesPage::Fill() {
    // Inside the commit of an edit, the view still holds its editor: the table is filled afresh once
    // the commit is over.
    if (taking_) {
        QMetaObject::invokeMethod(this, &TSourcesPage::Fill, Qt::QueuedConnection);
        return;
    }
    filling_ = true;
    const int current = CurrentRow();
    const QList<ScheduleSource>& sources = settings_.Sources();
    SourceTable->setRowCount(static_cast<int>(sources.size()));
    for (int row = 0; row < sources.size(); ++row) {
        const ScheduleSource& source = sources[row];
        QTableWidgetItem* enabled = Cell(SourceTable, row, EnabledColumn, Qt::ItemIsUserCheckable);
        SetData(enabled, Qt::CheckStateRole, source.enabled ? Qt::Checked : Qt::Unchecked);
        SetData(enabled, Qt::AccessibleTextRole, QStringLiteral("启用"));
        SetText(SourceTable, row, NameColumn, source.name, Qt::ItemIsEditable);
        SetText(SourceTable, row, AddressColumn, source.BuiltIn() ? builtInAddress_() : source.address);
        QTableWidgetItem* offset = Cell(SourceTable, row, OffsetColumn, Qt::ItemIsEditable);
        SetData(offset, Qt::EditRole, source.offsetMinutes);
        SetData(offset, Qt::ToolTipRole, OffsetText(source.offsetMinutes));
        // Short in the cell, whole in its tip.
        const bool updated = source.lastUpdate.isValid();
        SetText(SourceTable, row, LastUpdateColumn,
                updated ? source.lastUpdate.toString(QStringLiteral("MM-dd HH:mm")) : kNever);
        SetData(SourceTable->item(row, LastUpdateColumn), Qt::ToolTipRole,
                updated ? source.lastUpdate.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : kNever);
        SetText(SourceTable, row, ResultColumn, source.result);
    }
    if (current >= 0 && current < SourceTable->rowCount() && SourceTable->currentRow() != current)
        SourceTable->selectRow(current);
    const AutomaticUpdate& automatic = settings_.Automatic();
    AutomaticBox->setChecked(automatic.enabled);
    DailyTimeEdit->setTime(automatic.dailyTime);
    if (!settings_.File().WriteProblem().isEmpty())
        Say(settings_.File().WriteProblem());
    filling_ = false;
}

int TSourcesPage::CurrentRow() const {
    const QModelIndexList rows = SourceTable->selectionModel()->selectedRows();
    return rows.isEmpty() ? SourceTable->currentRow() : rows.first().row();
}

void TSourcesPage::Say(const QString& message) {
    MessageLabel->setText(message);
}

void TSourcesPage::AddSource() {
    const QString problem = settings_.Add(AddressEdit->text());
    if (!problem.isEmpty()) {
        Say(QStringLiteral("未添加：") + problem);
        return;
    }
    Say(QString());
    AddressEdit->clear();
    SourceTable->selectRow(SourceTable->rowCount() - 1);
}

void TSourcesPage::RemoveSource() {
    const int row = CurrentRow();
    if (row < 0) {
        Say(QStringLiteral("请先在列表中选中要删除的节目源"));
        return;
    }
    if (settings_.Sources()[row].BuiltIn()) {
        Say(QStringLiteral("默认节目包不能删除，不需要时可取消“启用”"));
        return;
    }
    Say(QString());
    settings_.Remove(row);
}

void TSourcesPage::MoveSource(int by) {
    const int row = CurrentRow();
    if (row < 0) {
        Say(QStringLiteral("请先在列表中选中要移动的节目源"));
        return;
    }
    if (settings_.Move(row, by))
        SourceTable->selectRow(row + by);
}

void TSourcesPage::TakeEdit(QTableWidgetItem* item) {
    if (filling_)
        return;
    const QScopedValueRollback<bool> taking(taking_, true);
    const int row = item->row();
    switch (item->column()) {
    case EnabledColumn:
        settings_.SetEnabled(row, item->checkState() == Qt::Checked);
        break;
    case NameColumn:
        settings_.SetName(row, item->text());
        break;
    case OffsetColumn:
        settings_.SetOffset(row, item->data(Qt::EditRole).toInt());
        break;
    default:
        break;
    }
}

void TSourcesPage::TakeAutomatic() {
    if (filling_)
        return;
    settings_.SetAutomatic({AutomaticBox->isChecked(), DailyTimeEdit->time()});
}

void TSourcesPage::ShowNextUpdate(const QDateTime& next, bool automaticOn) {
    if (!automaticOn)
        NextUpdateLabel->setText(QStringLiteral("自动更新未开启"));
    else if (next.isValid())
        NextUpdateLabel->setText(QStringLiteral("下次自动更新：") +
                                 next.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    else
        NextUpdateLabel->setText(QStringLiteral("正在更新，结束后安排下次自动更新"));
}
