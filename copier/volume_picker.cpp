#include "copier/volume_picker.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/dialog_units.h"
#include "ui/path_text.h"
#include "ui/size_format.h"
#include "texts/text_ids.h"
#include "ui/ui_text.h"

namespace tessaly {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1;
constexpr int kListedRole = Qt::UserRole + 2;  // a folder whose entries are in the tree

bool checkable(const QTreeWidgetItem* item)
{
    return (item->flags() & Qt::ItemIsUserCheckable) != 0;
}

// Gives the checkable items below item its state.
void checkTree(QTreeWidgetItem* item, Qt::CheckState state)
{
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (checkable(child)) {
            child->setCheckState(0, state);
            checkTree(child, state);
        }
    }
}

// The state a folder shows for its checkable entries: checked or unchecked when they all
// are, partly checked else; its own when it has none.
Qt::CheckState stateOfEntries(const QTreeWidgetItem* item)
{
    bool any = false;
    bool all = true;
    int seen = 0;
    for (int i = 0; i < item->childCount(); ++i) {
        const QTreeWidgetItem* child = item->child(i);
        if (!checkable(child)) continue;
        ++seen;
        any = any || child->checkState(0) != Qt::Unchecked;
        all = all && child->checkState(0) == Qt::Checked;
    }
    if (seen == 0) return item->checkState(0);
    return all ? Qt::Checked : any ? Qt::PartiallyChecked : Qt::Unchecked;
}

void collect(const QTreeWidgetItem* item, std::vector<std::string>& out)
{
    if (!checkable(item) || item->checkState(0) == Qt::Unchecked) return;
    if (item->checkState(0) == Qt::Checked) {
        out.push_back(pathBytes(item->data(0, kPathRole).toString()));
        return;
    }
    for (int i = 0; i < item->childCount(); ++i) collect(item->child(i), out);
}

}  // namespace

VolumePicker::VolumePicker(OpenedVolume& opened, const LanguageTable& language, QWidget* parent)
    : QDialog(parent), m_opened(opened), m_language(language)
{
    setWindowTitle(text(text::kPickFromVolume));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(pathText(opened.files->root()) + u'\n' + text(text::kPickHint), this);
    label->setWordWrap(true);
    layout->addWidget(label);

    m_tree = new QTreeWidget(this);
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({text(text::kPickNameColumn), text(text::kSizeColumn)});
    m_tree->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_tree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_tree->setUniformRowHeights(true);
    layout->addWidget(m_tree, 1);
    for (const VolumeTreeEntry& top : volumeTreeTop(*opened.volume, *opened.files)) {
        addEntry(nullptr, top, Qt::Checked);
    }
    connect(m_tree, &QTreeWidget::itemExpanded, this, &VolumePicker::fill);
    connect(m_tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column == 0 && !m_settingChecks) checkChanged(item);
    });
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        if (checkable(m_tree->topLevelItem(i))) m_tree->topLevelItem(i)->setExpanded(true);
    }

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(text(text::kCancel), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(dialogUnits(font(), 300, 240));
}

QString VolumePicker::text(int id) const
{
    return uiText(m_language, static_cast<std::uint32_t>(id));
}

QTreeWidgetItem* VolumePicker::addEntry(QTreeWidgetItem* parent, const VolumeTreeEntry& entry,
                                        Qt::CheckState state)
{
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
    item->setText(0, pathText(entry.name));
    item->setData(0, kPathRole, pathText(entry.path));
    item->setData(0, kFolderRole, entry.folder);
    if (!entry.folder) {
        item->setText(1, QString::fromStdString(formatSize(entry.size)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    switch (entry.problem) {
        case TreeProblem::None:
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(0, state);
            if (entry.folder) item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            break;
        case TreeProblem::NotListed:
            disable(item, pathText(entry.reason));
            break;
        case TreeProblem::LeadsAbove:
            disable(item, text(text::kLeadsAbove));
            break;
    }
    return item;
}

void VolumePicker::disable(QTreeWidgetItem* item, const QString& why)
{
    item->setFlags(Qt::NoItemFlags);
    item->setData(0, Qt::CheckStateRole, QVariant());
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    item->setToolTip(0, why);
    item->setToolTip(1, why);
}

void VolumePicker::fill(QTreeWidgetItem* item)
{
    if (!checkable(item) || !item->data(0, kFolderRole).toBool() ||
        item->data(0, kListedRole).toBool()) {
        return;
    }
    item->setData(0, kListedRole, true);
    const VolumeTreeFolder folder =
        listVolumeTreeFolder(*m_opened.files, pathBytes(item->data(0, kPathRole).toString()));
    m_settingChecks = true;
    if (!folder.readable) {
        disable(item, text(text::kFolderUnreadable));
    } else {
        for (const VolumeTreeEntry& entry : folder.entries) {
            addEntry(item, entry, item->checkState(0));
        }
        if (!folder.complete) item->setToolTip(0, text(text::kFolderIncomplete));
        if (folder.entries.empty()) {
            item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
        }
    }
    m_settingChecks = false;
    // A folder that turned out unreadable no longer counts in the boxes above it.
    if (!folder.readable) {
        for (QTreeWidgetItem* above = item->parent(); above != nullptr; above = above->parent()) {
            m_settingChecks = true;
            above->setCheckState(0, stateOfEntries(above));
            m_settingChecks = false;
        }
    }
}

void VolumePicker::checkChanged(QTreeWidgetItem* item)
{
    m_settingChecks = true;
    if (item->checkState(0) != Qt::PartiallyChecked) checkTree(item, item->checkState(0));
    for (QTreeWidgetItem* above = item->parent(); above != nullptr; above = above->parent()) {
        above->setCheckState(0, stateOfEntries(above));
    }
    m_settingChecks = false;
}

std::vector<std::string> VolumePicker::picked() const
{
    std::vector<std::string> out;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) collect(m_tree->topLevelItem(i), out);
    return out;
}

}  // namespace tessaly
