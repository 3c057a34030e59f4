// The main window driven as a user would: typing, sorting, moving rows,
// copying and renaming real files through its dialogs.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>
#include <QtTest/QAbstractItemModelTester>
#include <algorithm>
#include <functional>
#include <memory>

#include "base/run_journal_folder.h"
#include "base/settings_file.h"
#include "engine/text.h"
#include "support/loopback_http_server.h"
#include "support/modal_answers.h"
#include "support/media_samples.h"
#include "support/run_process.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/main_window_entry.h"
#include "ui/qt/recovery_message.h"
#include "ui/qt/row_marks.h"
#include "ui/qt/secondary_dialogs.h"
#include "window_test_support.h"

using morix::testing::AnswerNextDialog;
using morix::testing::AnswerNextDialogLater;
using morix::testing::Cell;
using morix::testing::ScopedEnv;
using morix::testing::TempDir;
using morix::testing::U16;
using morix::ui::CBatchRenameDlg;

namespace {

// The field a label names.
QLineEdit* LabelledField(const CBatchRenameDlg& dialog, const QString& label) {
    for (const QLabel* l : dialog.findChildren<QLabel*>()) {
        if (l->text() == label) return qobject_cast<QLineEdit*>(l->buddy());
    }
    return nullptr;
}

// one.txt and two.txt in dir, listed in the shown dialog under the template
// "file_#".
void ShowTwoFilesToNumber(CBatchRenameDlg& dialog, TempDir& dir) {
    dir.MakeFile("one.txt", 1);
    dir.MakeFile("two.txt", 2);
    dialog.AddFolder(dir.u16());
    dialog.show();
    dialog.TemplateCombo()->setEditText("file_#");
}

}  // namespace

class BatchRenameDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void typingPreviewsOnce300msAfterTheLastKey() {
        TempDir dir;
        dir.MakeFile("b.txt");
        dir.MakeFile("a.txt");
        CBatchRenameDlg dialog(nullptr);
        QAbstractItemModelTester tester(dialog.PreviewList()->model());
        dialog.AddPaths({U16(dir.Path("b.txt")), U16(dir.Path("a.txt"))});
        dialog.show();
        QCOMPARE(Cell(dialog, 0, 0), QString("a.txt"));  // an empty list sorts what it gets
        const int before = dialog.PreviewPasses();
        dialog.TemplateCombo()->lineEdit()->clear();
        QTest::keyClicks(dialog.TemplateCombo()->lineEdit(), "x_###", Qt::NoModifier, 20);
        QCOMPARE(dialog.PreviewPasses(), before);
        QTRY_COMPARE_WITH_TIMEOUT(dialog.PreviewPasses(), before + 1, 2000);
        QTest::qWait(400);
        QCOMPARE(dialog.PreviewPasses(), before + 1);
        QCOMPARE(Cell(dialog, 0, 1), QString("x_001.txt"));
        QCOMPARE(Cell(dialog, 1, 1), QString("x_002.txt"));
        QCOMPARE(Cell(dialog, 1, 2), QString::fromStdString(dir.bytes()));
    }

    void badStartNumberMovesFocusAndPreviewGoesOn() {
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/nowhere/a.txt"});
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        dialog.TemplateCombo()->setEditText("#");
        QTRY_COMPARE_WITH_TIMEOUT(Cell(dialog, 0, 1), QString("1.txt"), 2000);
        dialog.StartNumber()->setValue(0);
        dialog.TemplateCombo()->setFocus();
        // The number read is used although it failed the check.
        QTRY_COMPARE_WITH_TIMEOUT(Cell(dialog, 0, 1), QString("0.txt"), 2000);
        QTRY_VERIFY_WITH_TIMEOUT(dialog.StartNumber()->hasFocus(), 2000);
    }

    void emptyListDisablesCopyAndRename() {
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        QVERIFY(!dialog.CopyButton()->isEnabled());
        QVERIFY(!dialog.RenameButton()->isEnabled());
        dialog.AddPaths({u"/nowhere/a.txt"});
        QVERIFY(dialog.CopyButton()->isEnabled());
    }

    void movesAndSortKeepNumbersInRowOrder() {
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/d/file10.txt", u"/d/file2.txt", u"/d/file1.txt"});
        dialog.show();
        dialog.TemplateCombo()->setEditText("#");
        dialog.SortList();
        QCOMPARE(Cell(dialog, 0, 0), QString("file1.txt"));
        QCOMPARE(Cell(dialog, 2, 0), QString("file10.txt"));
        dialog.PreviewList()->selectRow(2);
        dialog.MoveSelectionUp();
        QCOMPARE(Cell(dialog, 1, 0), QString("file10.txt"));
        QCOMPARE(Cell(dialog, 1, 1), QString("2.txt"));
        QCOMPARE(dialog.PreviewList()->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(dialog.PreviewList()->selectionModel()->selectedRows().first().row(), 1);
    }

    void copyPutsOneNamePerLine() {
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/d/a.txt", u"/d/b.txt"});
        dialog.show();
        AnswerNextDialog("OK");
        dialog.CopyNewNames();
        QCOMPARE(QApplication::clipboard()->text(), QString("a.txt\nb.txt\n"));
    }

    void renamesRealFilesAndRestarts() {
        TempDir dir;
        CBatchRenameDlg dialog(nullptr);
        ShowTwoFilesToNumber(dialog, dir);
        AnswerNextDialog("Yes");
        AnswerNextDialogLater("Restart");
        dialog.OnRename();
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_1.txt"))));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_2.txt"))));
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), 0);
        QVERIFY(!dialog.RenameButton()->isEnabled());
        // The run kept its journal where recovery looks, and removed it; what
        // stays there is the record of the run, for undo.
        const QDir journals(QString::fromStdString(morix::RunJournalFolder()));
        QVERIFY(journals.exists());
        const QStringList left = journals.entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left.filter(QRegularExpression("\\.journal$|\\.tmp$")).size(), 0);
        QVERIFY(!left.filter(QRegularExpression("^history-[0-9]+\\.run$")).isEmpty());
    }

    void undoInTheCompletionDialogShowsTheOldNamesAgain() {
        TempDir state;
        const ScopedEnv env("XDG_STATE_HOME", state.bytes());
        TempDir dir;
        CBatchRenameDlg dialog(nullptr);
        ShowTwoFilesToNumber(dialog, dir);
        AnswerNextDialog("Yes");
        AnswerNextDialogLater("Undo");
        dialog.OnRename();
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("one.txt"))));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("two.txt"))));
        QVERIFY(!QFile::exists(QString::fromStdString(dir.Path("file_1.txt"))));
        // The window stays, with the rows as before the rename.
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), 2);
        QCOMPARE(Cell(dialog, 0, 0), QString("one.txt"));
        QCOMPARE(Cell(dialog, 0, 1), QString("file_1.txt"));
        QVERIFY(dialog.RenameButton()->isEnabled());
        // Undone once: Ctrl+Z finds nothing more to take back.
        QString said;
        AnswerNextDialog("OK", [&] {
            said = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->text();
        });
        dialog.UndoLastRename();
        QCOMPARE(said, QString("There is no rename to undo."));
    }

    void ctrlZOffersToUndoTheLastRenameUnlessTheTemplateHasTheFocus() {
        TempDir state;
        const ScopedEnv env("XDG_STATE_HOME", state.bytes());
        TempDir dir;
        dir.MakeFile("a.txt", 1);
        dir.MakeFile("b.txt", 2);
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("x_#");
        AnswerNextDialog("Yes");
        AnswerNextDialogLater("Restart");
        dialog.OnRename();
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("x_1.txt"))));
        QApplication::setActiveWindow(&dialog);

        // In the template field, Ctrl+Z is the field's own.
        QLineEdit* edit = dialog.TemplateCombo()->lineEdit();
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        bool asked = false;
        QTimer::singleShot(300, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                asked = true;
                modal->close();
            }
        });
        QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
        QTest::qWait(400);
        QVERIFY(!asked);
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("x_1.txt"))));

        // Elsewhere it asks, naming the number of files and the folder.
        dialog.PreviewList()->setFocus();
        QTRY_VERIFY(dialog.PreviewList()->hasFocus());
        QString question;
        AnswerNextDialog("No", [&] {
            question = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->text();
        });
        QTest::keyClick(dialog.PreviewList(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_VERIFY(!question.isEmpty());
        QVERIFY2(question.contains(" 2 files in " + QString::fromStdString(dir.bytes())),
                 qPrintable(question));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("x_1.txt"))));
        // The question took the window's activation with it.
        QApplication::setActiveWindow(&dialog);
        dialog.PreviewList()->setFocus();
        QTRY_VERIFY(dialog.PreviewList()->hasFocus());
        AnswerNextDialog("Yes");
        QTest::keyClick(dialog.PreviewList(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_VERIFY(QFile::exists(QString::fromStdString(dir.Path("a.txt"))));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("b.txt"))));
    }

    void recoveryIsReportedWithTheFilesLeftOnTheWay() {
        morix::RecoveryReport report;
        morix::RecoveredRun& done = report.runs.emplace_back();
        done.files = done.returned = 3;
        morix::RecoveredRun& stuck = report.runs.emplace_back();
        stuck.journalPath = "/state/run-7-1-0.journal";
        stuck.files = 2;
        stuck.returned = 1;
        stuck.unreturned.push_back({"/photos/a.jpg", "/photos/.morx$1.jpg", EEXIST});
        QString text;
        AnswerNextDialog("OK", [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            QCOMPARE(box->icon(), QMessageBox::Warning);
            text = box->text();
        });
        morix::ui::ShowRecoveryReport(report);
        QVERIFY2(text.contains("Files returned to their old names: 4."), qPrintable(text));
        QVERIFY(text.contains("/photos/a.jpg (now /photos/.morx$1.jpg): File exists"));
        QVERIFY(text.contains("/state/run-7-1-0.journal"));
    }

    void takenTargetIsRefusedAndListStays() {
        TempDir dir;
        dir.MakeFile("a.txt");
        dir.MakeFile("taken.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({U16(dir.Path("a.txt"))});
        dialog.show();
        dialog.TemplateCombo()->setEditText("taken");
        AnswerNextDialog("Yes");
        QString rows;
        AnswerNextDialogLater("OK", [&] {
            rows = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->informativeText();
        });
        dialog.OnRename();
        QCOMPARE(rows, QString("a.txt \u2192 taken.txt: Conflict: the new name is taken by a file "
                               "that is not in the list."));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("a.txt"))));
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), 1);
        QVERIFY(dialog.isVisible());
    }

    void rowStatesAreMarkedCountedAndStopARename() {
        TempDir dir;
        for (const char* name : {"q", "aq.txt", "b.txt", "qz.txt", "..z.txt"}) dir.MakeFile(name);
        CBatchRenameDlg dialog(nullptr);
        // "..z.txt" stays outside the list.
        dialog.AddPaths({U16(dir.Path("q")), U16(dir.Path("aq.txt")), U16(dir.Path("b.txt")),
                         U16(dir.Path("qz.txt"))});
        dialog.resize(760, 420);
        dialog.show();
        dialog.TemplateCombo()->setEditText("<N>");
        LabelledField(dialog, "Find what:")->setText("q");
        LabelledField(dialog, "Replace with:")->setText("..");
        dialog.PreviewNow();
        const QAbstractItemModel* model = dialog.PreviewList()->model();
        // Natural order: aq.txt, b.txt, q, qz.txt.
        QCOMPARE(Cell(dialog, 0, 1), QString("a...txt"));
        QCOMPARE(Cell(dialog, 2, 1), QString(".."));
        QCOMPARE(Cell(dialog, 3, 1), QString("..z.txt"));
        QCOMPARE(dialog.CountLine()->text(),
                 QString("1 conflict, 1 impossible name, 1 unchanged of 4 files"));
        const auto data = [&](int row, int column, int role) {
            return model->index(row, column).data(role);
        };
        QVERIFY(!data(0, 1, Qt::DecorationRole).isValid());
        QVERIFY(data(2, 1, Qt::DecorationRole).canConvert<QIcon>());
        QVERIFY(data(3, 1, Qt::DecorationRole).canConvert<QIcon>());
        QVERIFY(!data(3, 0, Qt::DecorationRole).isValid());  // the icon is by the new name
        QCOMPARE(data(3, 0, Qt::ToolTipRole).toString(),
                 QString("Conflict: the new name is taken by a file that is not in the list."));
        QCOMPARE(data(2, 2, Qt::ToolTipRole).toString(),
                 QString("Impossible name: \".\" and \"..\" are not file names."));
        QCOMPARE(data(0, 1, Qt::ToolTipRole).toString(), QString("a...txt"));
        QVERIFY(data(3, 1, Qt::FontRole).value<QFont>().bold());
        QCOMPARE(data(1, 0, Qt::ForegroundRole).value<QColor>(),
                 dialog.palette().color(QPalette::Disabled, QPalette::Text));
        const QColor mark = data(3, 1, Qt::ForegroundRole).value<QColor>();
        QVERIFY(mark.isValid() && mark != dialog.palette().color(QPalette::Text));
        QTest::qWait(200);
        QDir().mkpath(MORIX_SCREENSHOT_DIR);
        const QString shot = MORIX_SCREENSHOT_DIR "/row-states.png";
        QVERIFY(dialog.grab().save(shot));
        qInfo("screenshot of the marked rows: %s", qPrintable(shot));

        // Rename names the rows and why, and leaves files and list alone.
        QString text;
        QString rows;
        AnswerNextDialog("Yes");
        AnswerNextDialogLater("OK", [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            text = box->text();
            rows = box->informativeText();
        });
        dialog.OnRename();
        QVERIFY2(text.startsWith("Some files cannot be renamed"), qPrintable(text));
        QCOMPARE(rows, QString("q \u2192 ..: Impossible name: \".\" and \"..\" are not file "
                               "names.\nqz.txt \u2192 ..z.txt: Conflict: the new name is taken "
                               "by a file that is not in the list."));
        for (const char* name : {"q", "aq.txt", "b.txt", "qz.txt", "..z.txt"}) {
            QVERIFY(QFile::exists(QString::fromStdString(dir.Path(name))));
        }
        QCOMPARE(model->rowCount(), 4);
        QVERIFY(dialog.isVisible());

        // The marks follow the disk at the next pass.
        QVERIFY(QFile::remove(QString::fromStdString(dir.Path("..z.txt"))));
        dialog.PreviewNow();
        QCOMPARE(dialog.CountLine()->text(), QString("1 impossible name, 1 unchanged of 4 files"));
        QVERIFY(!data(3, 1, Qt::DecorationRole).isValid());
    }

    void renameWithOnlyUnchangedNamesSaysSo() {
        TempDir dir;
        dir.MakeFile("a.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("<N>");
        QString text;
        AnswerNextDialog("Yes");
        AnswerNextDialogLater("OK", [&] {
            text = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->text();
        });
        dialog.OnRename();
        QCOMPARE(text, QString("There is nothing to rename: every new name is the old one."));
        QCOMPARE(dialog.CountLine()->text(), QString("1 unchanged of 1 file"));
        QVERIFY(dialog.isVisible());
        QCOMPARE(morix::ui::RowMarks::CountLine({2, 1, 40}, 1204),
                 QString("2 conflicts, 1 impossible name, 40 unchanged of 1,204 files"));
        QCOMPARE(morix::ui::RowMarks::CountLine({}, 3), QString("3 files"));
    }

    void runThatCannotKeepAJournalKeepsTheWindowAndItsList() {
        TempDir dir;
        dir.MakeFile("a.txt");
        dir.MakeFile("b.txt");
        TempDir state;
        // A regular file where the journal folder would have to be made.
        const ScopedEnv env("XDG_STATE_HOME", state.MakeFile("not-a-folder"));
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("new_#");
        QString text;
        QString details;
        AnswerNextDialog("Yes");
        AnswerNextDialogLater("OK", [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box != nullptr);
            text = box->text();
            details = box->detailedText();
        });
        dialog.OnRename();
        QCOMPARE(text, QString("Unable to rename the file."));
        // Why: the folder that could not be made, and the system's reason.
        QVERIFY2(details.startsWith(QString::fromStdString(morix::RunJournalFolder() + ": ")),
                 qPrintable(details));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), 2);
        QCOMPARE(Cell(dialog, 1, 1), QString("new_2.txt"));
        QVERIFY(dialog.RenameButton()->isEnabled());
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("a.txt"))));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("b.txt"))));
    }

    void pickedTokenGoesWhereTheCaretWas() {
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QLineEdit* edit = dialog.TemplateCombo()->lineEdit();
        dialog.TemplateCombo()->setEditText("photo_trip");
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setCursorPosition(6);        // between "photo_" and "trip"
        dialog.PreviewList()->setFocus();  // the focus leaves for the picker
        QTRY_VERIFY(!edit->hasFocus());
        dialog.InsertTemplateToken(6);  // "File Size <z>"
        QCOMPARE(edit->text(), QString("photo_<z>trip"));

        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setSelection(0, 5);  // "photo"
        dialog.PreviewList()->setFocus();
        QTRY_VERIFY(!edit->hasFocus());
        dialog.InsertTemplateToken(4);  // "<E>" replaces the selection
        QCOMPARE(edit->text(), QString("<E>_<z>trip"));
    }

    void startPathsAreSortedOnceAllAreIn() {
        TempDir dir;
        dir.MakeFolder("F");
        dir.MakeFile("F/c.txt");
        dir.MakeFile("F/a2.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddStartPaths({{U16(dir.Path("d.txt")), false},
                              {U16(dir.Path("F")), true},
                              {U16(dir.Path("a10.txt")), false},
                              {U16(dir.Path("b.txt")), false}});
        dialog.show();
        const QStringList expected{"a2.txt", "a10.txt", "b.txt", "c.txt", "d.txt"};
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), int(expected.size()));
        for (int row = 0; row < expected.size(); ++row)
            QCOMPARE(Cell(dialog, row, 0), expected[row]);
    }

    void templateFieldKeepsCaretAndSelectionAcrossFocusChanges() {
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QLineEdit* edit = dialog.TemplateCombo()->lineEdit();
        dialog.TemplateCombo()->setEditText("photo_trip");
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->setSelection(10, -4);  // "trip", the caret at its front
        QTest::keyClick(edit, Qt::Key_Tab);
        QTRY_VERIFY(!edit->hasFocus());
        QCOMPARE(edit->selectedText(), QString("trip"));
        QCOMPARE(edit->cursorPosition(), 6);
        // Coming back by keyboard would select the whole text.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTRY_VERIFY(edit->hasFocus());
        QCOMPARE(edit->selectedText(), QString("trip"));
        QCOMPARE(edit->cursorPosition(), 6);

        // The user leaves the caret between "photo_" and "trip", goes to the
        // picker and types F, which picks "File Size <z>". The focus stays in
        // the picker, so its next key picks again rather than changing the
        // template.
        edit->setCursorPosition(6);
        QTest::keyClick(edit, Qt::Key_Tab);
        QTRY_VERIFY(!edit->hasFocus());
        QWidget* picker = QApplication::focusWidget();
        QTest::keyClick(picker, Qt::Key_F);
        QCOMPARE(edit->text(), QString("photo_<z>trip"));
        QTest::qWait(50);
        QCOMPARE(QApplication::focusWidget(), picker);
        QCOMPARE(edit->cursorPosition(), 9);
        QVERIFY(!edit->hasSelectedText());
        QTest::keyClick(picker, Qt::Key_Down);  // the next entry, "File Size(KB) <zKB>"
        QCOMPARE(edit->text(), QString("photo_<z><zKB>trip"));
        // The wheel over the picker picks nothing.
        QWheelEvent wheel(QPointF(5, 5), picker->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        for (int notch = 0; notch < 3; ++notch)
            QApplication::sendEvent(picker, &wheel);
        QCOMPARE(edit->text(), QString("photo_<z><zKB>trip"));
        // "Add" takes the focus when clicked, and adds the pick at the caret.
        QTest::mouseClick(dialog.findChild<QPushButton*>("button1169"), Qt::LeftButton);
        QCOMPARE(edit->text(), QString("photo_<z><zKB><zKB>trip"));
    }

    void pathsHandedOverDuringARenameWaitForItsEnd() {
        TempDir dir;
        dir.MakeFile("one.txt");
        dir.MakeFile("two.txt");
        TempDir other;
        other.MakeFile("late.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("file_#");
        int rowsDuringRun = -1;
        AnswerNextDialog("Yes", [&] {
            // Delivered while the run goes on (its progress dialog polls every 100 ms).
            QTimer::singleShot(20, [&] {
                dialog.OnAddPath(U16(other.Path("late.txt")), false);
                dialog.OnAddPath(other.u16(), true);
                rowsDuringRun = dialog.PreviewList()->model()->rowCount();
            });
        });
        AnswerNextDialogLater("Restart");
        dialog.OnRename();
        QCOMPARE(rowsDuringRun, 2);
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_1.txt"))));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_2.txt"))));
        QVERIFY(QFile::exists(QString::fromStdString(other.Path("late.txt"))));
        // Added after Restart cleared the list, each once.
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), 1);
        QCOMPARE(Cell(dialog, 0, 0), QString("late.txt"));
    }

    void closeRequestDuringARenameEndsTheWindowAfterTheRun() {
        TempDir dir;
        dir.MakeFile("one.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("file_#");
        bool visibleAfterRequest = false;
        AnswerNextDialog("Yes", [&] {
            QTimer::singleShot(20, [&] {
                dialog.OnCloseRequest();
                visibleAfterRequest = dialog.isVisible();
            });
        });
        // Neither the completion dialog nor a message may wait for the user.
        bool askedUser = false;
        QTimer watch;
        watch.setSingleShot(true);
        connect(&watch, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                askedUser = true;
                modal->close();
            }
        });
        watch.start(2000);
        dialog.OnRename();
        QVERIFY(visibleAfterRequest);
        QVERIFY(!askedUser);
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_1.txt"))));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void closeRequestCancelsAnOpenQuestionAndEndsAsQuit() {
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/d/a.txt"});
        dialog.show();
        QApplication::clipboard()->setText("before");
        QTimer::singleShot(100, [&] { dialog.OnCloseRequest(); });
        dialog.CopyNewNames();  // its question is open when the request comes
        QCOMPARE(QApplication::clipboard()->text(), QString("before"));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }

    void draggedRowsLandInFrontOfTheTargetRow() {
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/d/0", u"/d/1", u"/d/2", u"/d/3", u"/d/4", u"/d/5"});
        dialog.show();
        QAbstractItemModel* model = dialog.PreviewList()->model();
        QItemSelection selection;
        selection.select(model->index(4, 0), model->index(5, 2));
        dialog.PreviewList()->selectionModel()->select(selection,
                                                       QItemSelectionModel::ClearAndSelect);
        std::unique_ptr<QMimeData> rows(model->mimeData({model->index(4, 0)}));
        model->dropMimeData(rows.get(), Qt::MoveAction, -1, -1, model->index(1, 0));
        QStringList order;
        for (int r = 0; r < model->rowCount(); ++r)
            order << Cell(dialog, r, 0);
        QCOMPARE(order, QStringList({"0", "4", "5", "1", "2", "3"}));
        // Dropping onto a selected row changes nothing.
        dialog.PreviewList()->selectRow(2);
        model->dropMimeData(rows.get(), Qt::MoveAction, -1, -1, model->index(2, 0));
        QCOMPARE(Cell(dialog, 2, 0), QString("5"));
    }

    void droppedFilesAreAddedIntact() {
        TempDir dir;
        dir.MakeFile("caf\xe9.txt");  // not UTF-8
        dir.MakeFolder("folder");
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        QMimeData data;
        data.setUrls({QUrl::fromEncoded(QByteArray("file://") +
                                        QByteArray::fromStdString(dir.Path("caf%E9.txt"))),
                      QUrl::fromLocalFile(QString::fromStdString(dir.Path("folder")))});
        dialog.PreviewList()->model()->dropMimeData(&data, Qt::CopyAction, -1, -1, {});
        QCOMPARE(dialog.Logic().List().Count(), std::size_t{2});
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < 2; ++i) {
            paths.push_back(morix::EncodeFileName(dialog.Logic().List().ItemAt(i).Whole()));
        }
        std::sort(paths.begin(), paths.end());
        QCOMPARE(paths[0], dir.Path("caf\xe9.txt"));
        QCOMPARE(paths[1], dir.Path("folder"));  // a dropped folder is one item
    }

    void newerVersionIsOfferedAsPlainText() {
        TempDir dir;
        morix::testing::LoopbackHttpServer service(morix::testing::HttpReply{
            200,
            "<?xml version=\"1.0\"?><version current=\"9.0.0.0\" "
            "display=\"&lt;b&gt;Version 9&lt;/b&gt;\" url=\"http://127.0.0.1:1/\"/>"});
        qputenv("TRELVO_VERSION_SERVICE", QByteArray::fromStdString(service.Root()));
        morix::SettingsStore settings(
            std::make_unique<morix::FileSettingsBackend>(dir.Path("settings.conf")));
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            AnswerNextDialog("Cancel", [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box == nullptr) return;
                shown = box->text();
                format = box->textFormat();
            });
        });
        {
            CBatchRenameDlg dialog(&settings);
            dialog.SetNetworkProbe([] { return true; });
            dialog.show();
            QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 10000);
        }
        qunsetenv("TRELVO_VERSION_SERVICE");
        QVERIFY(shown.contains("<b>Version 9</b>"));
        QCOMPARE(format, Qt::PlainText);
        QVERIFY(shown.startsWith("There is a new version."));
    }

    void nameRangeSelectionFillsStartAndLength() {
        morix::ui::CNameRangeDlg range("abcdef", nullptr);
        range.show();
        QApplication::setActiveWindow(&range);
        auto* name = range.findChildren<QLineEdit*>().first();
        QCOMPARE(name->text(), QString("abcdef"));
        name->setFocus();
        QTRY_VERIFY(name->hasFocus());
        name->setSelection(2, 2);  // "cd"
        QTRY_COMPARE_WITH_TIMEOUT(range.findChildren<QLineEdit*>().at(1)->text(), QString("2"),
                                  1000);
        QCOMPARE(range.findChildren<QLineEdit*>().at(2)->text(), QString("2"));
        for (QPushButton* button : range.findChildren<QPushButton*>()) {
            if (button->text() == "&OK") button->click();
        }
        QCOMPARE(range.result(), int(QDialog::Accepted));
        QCOMPARE(range.Start(), QString("2"));
        QCOMPARE(range.Length(), QString("2"));
    }

    void resizingMovesAndStretchesTheControls() {
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        const QSize start = dialog.size();
        const QRect list = dialog.PreviewList()->geometry();
        const QRect rename = dialog.RenameButton()->geometry();
        const QRect copy = dialog.CopyButton()->geometry();
        const QRect startNumber = dialog.StartNumber()->geometry();
        dialog.resize(start + QSize(100, 60));
        QTRY_COMPARE(dialog.PreviewList()->geometry().size(), list.size() + QSize(100, 60));
        QCOMPARE(dialog.RenameButton()->geometry(), rename.translated(100, 60));
        QCOMPARE(dialog.CopyButton()->geometry(), copy.translated(0, 60));
        QCOMPARE(dialog.StartNumber()->geometry(), startNumber.translated(50, 0));
        dialog.resize(start);
        QTRY_COMPARE(dialog.PreviewList()->geometry(), list);
        QCOMPARE(dialog.RenameButton()->geometry(), rename);
    }

    // The names the window shows with the dates taken are those of
    // --preview; files without one are marked; the choice is kept.
    void dateTakenMatchesThePreviewCommandAndIsKept() {
        const ScopedEnv zone("TZ", "KST-9");
        ::tzset();
        TempDir dir;
        const TempDir config;
        const std::string file = config.Path("settings.conf");
        morix::testing::WriteJpeg(dir.Path("DSC_0001.JPG"),
                                  morix::testing::TakenAt("2019:05:06 07:08:10"));
        morix::testing::WriteJpeg(dir.Path("DSC_0002.JPG"),
                                  morix::testing::TakenAt("2019:05:06 07:08:09"));
        morix::testing::WriteBytes(dir.Path("clip.mp4"),
                                   morix::testing::MovieBytes(3'640'000'000u, false));
        dir.MakeFile("scan.jpg", 10);
        const QString nameTemplate = "<YYYY-MM-DD HH.mm.ss>";
        {
            morix::SettingsStore settings(std::make_unique<morix::FileSettingsBackend>(file));
            CBatchRenameDlg dialog(&settings);
            dialog.SetNetworkProbe([] { return false; });
            QCOMPARE(dialog.DateSourceCombo()->currentIndex(), 0);
            dialog.show();
            dialog.DateSourceCombo()->setCurrentIndex(1);
            dialog.TemplateCombo()->setEditText(nameTemplate);
            dialog.AddFolder(dir.u16());
            dialog.PreviewNow();

            const morix::testing::ProcessResult preview =
                morix::testing::RunProcess({MORIX_BINARY, "--preview", "--date-source", "taken",
                                            "-t", nameTemplate.toStdString(), "-d", dir.bytes()});
            QCOMPARE(preview.exitCode, 0);
            QString shown;
            for (int row = 0; row < 4; ++row) {
                shown += Cell(dialog, row, 0) + '\t' + Cell(dialog, row, 1) + '\t' +
                         Cell(dialog, row, 2) + '\n';
            }
            QCOMPARE(shown, QString::fromStdString(preview.out));
            QCOMPARE(Cell(dialog, 0, 1), QString("2019-05-07 00.06.40.mp4"));  // clip.mp4
            QCOMPARE(Cell(dialog, 1, 1), QString("2019-05-06 07.08.10.JPG"));

            const auto tip = [&](int row) {
                return dialog.PreviewList()
                    ->model()
                    ->index(row, 1)
                    .data(Qt::ToolTipRole)
                    .toString();
            };
            QCOMPARE(Cell(dialog, 3, 0), QString("scan.jpg"));
            QCOMPARE(tip(3), Cell(dialog, 3, 1) + "\nno capture date: modified time used");
            QCOMPARE(tip(0), Cell(dialog, 0, 1));

            AnswerNextDialog("Yes");
            AnswerNextDialogLater("Quit");
            dialog.OnRename();
            QVERIFY(QFile::exists(QString::fromStdString(dir.Path("2019-05-06 07.08.09.JPG"))));
        }
        morix::SettingsStore reread(std::make_unique<morix::FileSettingsBackend>(file));
        QCOMPARE(reread.GetDword(morix::kSettingDateSource, 0), 1u);
        CBatchRenameDlg again(&reread);
        again.SetNetworkProbe([] { return false; });
        QCOMPARE(again.DateSourceCombo()->currentIndex(), 1);
        QCOMPARE(again.DateSourceCombo()->currentText(), QString("Date taken (photos, videos)"));
    }

    void escapeQuitsWithoutSaving() {
        TempDir dir;
        const std::string file = dir.Path("settings.conf");
        {
            morix::SettingsStore settings(std::make_unique<morix::FileSettingsBackend>(file));
            CBatchRenameDlg dialog(&settings);
            dialog.SetNetworkProbe([] { return false; });
            dialog.show();
            QApplication::setActiveWindow(&dialog);
            dialog.StartNumber()->setValue(42);
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        morix::SettingsStore reread(std::make_unique<morix::FileSettingsBackend>(file));
        QCOMPARE(reread.GetDword(morix::kSettingStart, 1), 1u);
    }

    void screenshot() {
        TempDir dir;
        for (const char* name : {"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0010.JPG", "holiday.jpeg"}) {
            dir.MakeFile(name, 100);
        }
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("Trip_<YYYY>_###");
        dialog.RefreshPreview();
        QTest::qWait(400);
        QDir().mkpath(MORIX_SCREENSHOT_DIR);
        QVERIFY(dialog.grab().save(MORIX_SCREENSHOT_DIR "/main-window.png"));
    }
};

QTEST_MAIN(BatchRenameDialogTest)
#include "batch_rename_dialog_test.moc"
