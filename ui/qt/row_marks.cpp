#include "ui/qt/row_marks.h"

#include <QApplication>
#include <QFont>
#include <QLocale>
#include <QPalette>
#include <QStyle>

#include "engine/paths.h"
#include "ui/qt/qt_text.h"

namespace morix::ui {
namespace {

// Rows named when a rename is refused; the rest are counted.
constexpr std::size_t kListedRows = 5;

// A red that stands out against the list's background, light or dark (so
// also in high-contrast themes); the icon and the bold face mark the row
// without colour too.
QColor MarkColour() {
    const QPalette palette = QApplication::palette();
    return palette.color(QPalette::Base).lightness() >= 128 ? QColor(0xB0, 0x00, 0x20)
                                                            : QColor(0xFF, 0x8A, 0x80);
}

// A number with its thousands grouped ("1,204"), whatever the locale omits.
QString Grouped(std::size_t n) {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<qulonglong>(n));
}

}  // namespace

RowMarks::RowMarks()
    : conflict_(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)),
      impossible_(QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical)) {}

QVariant RowMarks::Data(const RowCheck& check, int role) const {
    if (check.state == RowState::kUnchanged && role == Qt::ForegroundRole) {
        return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
    }
    if (!StopsARun(check.state)) return {};
    switch (role) {
        case Qt::DecorationRole:
            return check.state == RowState::kConflict ? conflict_ : impossible_;
        case Qt::ForegroundRole:
            return MarkColour();
        case Qt::FontRole: {
            QFont bold = QApplication::font();
            bold.setBold(true);
            return bold;
        }
        case Qt::ToolTipRole:
            return Reason(check.problem);
        default:
            return {};
    }
}

QString RowMarks::Reason(RowProblem problem) {
    switch (problem) {
        case RowProblem::kNone:
            break;
        case RowProblem::kTakenByFile:
            return tr("Conflict: the new name is taken by a file that is not in the list.");
        case RowProblem::kTakenByFolder:
            return tr("Conflict: the new name is taken by a folder that is not in the list.");
        case RowProblem::kTakenByLink:
            return tr("Conflict: the new name is taken by a link that is not in the list.");
        case RowProblem::kTakenByKeptName:
            return tr(
                "Conflict: the new name is taken by a file in the list that keeps its "
                "name.");
        case RowProblem::kTakenTwice:
            return tr("Conflict: another row has the same new name.");
        case RowProblem::kFolderUnreadable:
            return tr("Conflict: the folder cannot be read, so the new name cannot be checked.");
        case RowProblem::kNotAFileName:
            return tr("Impossible name: \".\" and \"..\" are not file names.");
        case RowProblem::kTooManyBytes:
            return tr("Impossible name: longer than 255 bytes.");
        case RowProblem::kTooManyUnits:
            return tr("Impossible name: longer than 255 characters.");
        case RowProblem::kTrailingDot:
            return tr("Impossible name: this volume drops a dot at the end of a name.");
        case RowProblem::kControlCharacter:
            return tr("Impossible name: this volume holds no control characters in a name.");
        case RowProblem::kTrailingSpace:
            return tr("Impossible name: this volume holds no space at the end of a name.");
        case RowProblem::kNotUtf8:
            return tr("Impossible name: this volume holds no bytes that are not UTF-8 in a name.");
    }
    return {};
}

QString RowMarks::CountLine(const RowCounts& counts, std::size_t rows) {
    if (rows == 0) return {};
    QStringList parts;
    if (counts.conflicts > 0) {
        parts << (counts.conflicts == 1 ? tr("%1 conflict") : tr("%1 conflicts"))
                     .arg(Grouped(counts.conflicts));
    }
    if (counts.impossible > 0) {
        parts << (counts.impossible == 1 ? tr("%1 impossible name") : tr("%1 impossible names"))
                     .arg(Grouped(counts.impossible));
    }
    if (counts.unchanged > 0) parts << tr("%1 unchanged").arg(Grouped(counts.unchanged));
    const QString files = (rows == 1 ? tr("%1 file") : tr("%1 files")).arg(Grouped(rows));
    if (parts.isEmpty()) return files;
    return tr("%1 of %2").arg(parts.join(QStringLiteral(", ")), files);
}

QString RowMarks::ProblemList(const BatchRenameLogic& logic) {
    QStringList lines;
    for (const std::size_t row : logic.ProblemRows(kListedRows)) {
        const RenameItem item = logic.List().ItemAt(logic.Rows().ItemAt(row));
        lines << QStringLiteral("%1 \u2192 %2: %3")
                     .arg(ToQString(item.name), ToQString(logic.NewNameAt(row)),
                          Reason(logic.CheckAt(row).problem));
    }
    const std::size_t all = logic.Counts().conflicts + logic.Counts().impossible;
    if (all > kListedRows) lines << tr("… and %1 more").arg(Grouped(all - kListedRows));
    return lines.join(QLatin1Char('\n'));
}

}  // namespace morix::ui
