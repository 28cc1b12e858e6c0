#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "volume/volume_set.h"
#include "volume/volume_tree.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace tessaly {

class LanguageTable;

// The tree of an opened image's or device's partitions, folders and files, each with a
// check box, from which the user picks what joins the list; all of it is checked at
// first. A folder is listed when it is first opened, so that a large volume shows at
// once; a folder's box sets its whole tree, and shows a part picked as such. What the
// volume could not list is shown greyed, with why as its tooltip, and cannot be picked.
class VolumePicker : public QDialog
{
    Q_OBJECT
public:
    VolumePicker(OpenedVolume& opened, const LanguageTable& language, QWidget* parent);

    // What was picked, as paths of the volume's file system: each checked folder (its
    // whole tree), and each checked file outside those, in the tree's order.
    std::vector<std::string> picked() const;
    QTreeWidget* tree() const { return m_tree; }

private:
    QString text(int id) const;
    QTreeWidgetItem* addEntry(QTreeWidgetItem* parent, const VolumeTreeEntry& entry,
                              Qt::CheckState state);
    // Lists the folder of item, once, its entries taking its check state.
    void fill(QTreeWidgetItem* item);
    // Greys item and takes its box away, with why as its tooltip.
    void disable(QTreeWidgetItem* item, const QString& why);
    void checkChanged(QTreeWidgetItem* item);

    OpenedVolume& m_opened;
    const LanguageTable& m_language;
    QTreeWidget* m_tree = nullptr;
    bool m_settingChecks = false;
};

}  // namespace tessaly
