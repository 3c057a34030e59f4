// The preview list's model: three columns over the row order and the new
// names that the window's logic holds, each row marked by its state. No
// object per row or cell, so a list of a million rows costs nothing to show
// or scroll.
#pragma once

#include <QAbstractTableModel>

#include "ui/logic/batch_rename_logic.h"
#include "ui/qt/row_marks.h"

namespace morix::ui {

class PreviewModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    static constexpr const char* kRowsMimeType = "application/x-trelvo-renamer-rows";

    explicit PreviewModel(BatchRenameLogic& logic, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    // The rows were replaced (added, sorted, moved, cleared).
    void RowsChanged();
    // Only the new names and the rows' states changed.
    void NamesChanged();

  signals:
    // Rows of this list dropped onto row target.
    void rowsDropped(int target);
    // Files or folders dropped from outside, as the file system's bytes.
    void pathsDropped(const QList<QByteArray>& paths);

  private:
    BatchRenameLogic& logic_;
    RowMarks marks_;
};

}  // namespace morix::ui
