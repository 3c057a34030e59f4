// How the window shows each preview row's state: the reason in words, the
// icon and colours of a marked row, and the line that counts the states.
#pragma once

#include <QCoreApplication>
#include <QIcon>
#include <QString>
#include <QVariant>

#include "ui/logic/batch_rename_logic.h"

namespace morix::ui {

class RowMarks {
    Q_DECLARE_TR_FUNCTIONS(morix::ui::RowMarks)

  public:
    RowMarks();

    // The model's data for a row in the given state and role; invalid
    // where the state adds nothing.
    QVariant Data(const RowCheck& check, int role) const;

    static QString Reason(RowProblem problem);
    // "2 conflicts, 1 impossible name, 40 unchanged of 1,204 files"; empty
    // for an empty list.
    static QString CountLine(const RowCounts& counts, std::size_t rows);
    // The first rows that stop a run, one line each: "old → new: reason".
    static QString ProblemList(const BatchRenameLogic& logic);

  private:
    QIcon conflict_;
    QIcon impossible_;
};

}  // namespace morix::ui
