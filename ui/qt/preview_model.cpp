#include "ui/qt/preview_model.h"

#include <QColor>
#include <QMimeData>

#include "engine/paths.h"
#include "ui/qt/chosen_paths.h"
#include "ui/qt/qt_text.h"

namespace morix::ui {
PreviewModel::PreviewModel(BatchRenameLogic& logic, QObject* parent)
    : QAbstractTableModel(parent), logic_(logic) {}

int PreviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(logic_.Rows().Count());
}

int PreviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 3;
}

QVariant PreviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const std::size_t row = static_cast<std::size_t>(index.row());
    if (row >= logic_.Rows().Count()) return {};
    // A name the regular expression was stopped on says so.
    if (index.column() == 1 && logic_.RegexStoppedAt(row)) {
        if (role == Qt::ForegroundRole) return QColor(Qt::red);
        if (role == Qt::ToolTipRole) {
            return tr(
                "The regular expression took too long on this name and was stopped: "
                "it is shown without the replacement.");
        }
    }
    if (role != Qt::DisplayRole) {
        // The icon goes beside the new name; the rest marks the whole row.
        if (role == Qt::DecorationRole && index.column() != 1) return {};
        const QVariant mark = marks_.Data(logic_.CheckAt(row), role);
        if (mark.isValid() || role != Qt::ToolTipRole) return mark;
    }
    const RenameItem item = logic_.List().ItemAt(logic_.Rows().ItemAt(row));
    switch (index.column()) {
        case 0:
            return ToQString(item.name);
        case 1:
            if (role == Qt::ToolTipRole && logic_.DateFellBack(row)) {
                return ToQString(logic_.NewNameAt(row)) + QLatin1Char('\n') +
                       tr("no capture date: modified time used");
            }
            return ToQString(logic_.NewNameAt(row));
        default:
            return ToQString(item.Parent());
    }
}

QVariant PreviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case 0:
            return tr("Old Name");
        case 1:
            return tr("New Name");
        default:
            return tr("Location");
    }
}

Qt::ItemFlags PreviewModel::flags(const QModelIndex& index) const {
    const Qt::ItemFlags base = QAbstractTableModel::flags(index) | Qt::ItemIsDropEnabled;
    return index.isValid() ? base | Qt::ItemIsDragEnabled : base;
}

Qt::DropActions PreviewModel::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction | Qt::LinkAction;
}

QStringList PreviewModel::mimeTypes() const {
    return {QString::fromLatin1(kRowsMimeType), QStringLiteral("text/uri-list")};
}

QMimeData* PreviewModel::mimeData(const QModelIndexList&) const {
    // The rows dragged are the selected ones, which the window knows.
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kRowsMimeType), QByteArray());
    return data;
}

bool PreviewModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                   const QModelIndex& parent) const {
    if (data->hasFormat(QString::fromLatin1(kRowsMimeType))) return parent.isValid();
    return data->hasUrls();
}

bool PreviewModel::dropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                const QModelIndex& parent) {
    if (data->hasFormat(QString::fromLatin1(kRowsMimeType))) {
        // Rows land only when dropped onto a row; the window moves them.
        if (parent.isValid()) emit rowsDropped(parent.row());
        return false;
    }
    const QList<QByteArray> paths = DroppedFileBytes(*data);
    if (!paths.isEmpty()) emit pathsDropped(paths);
    return false;  // nothing for the view to remove
}

void PreviewModel::RowsChanged() {
    beginResetModel();
    endResetModel();
}

void PreviewModel::NamesChanged() {
    if (logic_.Rows().Count() == 0) return;
    emit dataChanged(index(0, 0), index(static_cast<int>(logic_.Rows().Count()) - 1, 2));
}

}  // namespace morix::ui
