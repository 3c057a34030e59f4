// The main window with a regular expression in find and replace (a pattern
// that cannot be used, one stopped on a name) and with presets saved,
// applied, renamed and deleted through the real file by two windows.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>

#include "engine/text.h"
#include "support/modal_answers.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/preset_menu.h"

using morix::testing::AnswerNextDialog;
using morix::testing::TempDir;
using morix::ui::CBatchRenameDlg;

namespace {

QString ModalText() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr ? box->text() : QString();
}

QString Cell(const CBatchRenameDlg& dialog, int row, int column, int role = Qt::DisplayRole) {
    return dialog.PreviewList()->model()->index(row, column).data(role).toString();
}

// Starts Rename, says yes, and returns the text of the message that follows.
QString RenameAndReadTheAnswer(CBatchRenameDlg& dialog) {
    QString said;
    AnswerNextDialog("Yes");
    QTimer::singleShot(400, [&] { AnswerNextDialog("OK", [&] { said = ModalText(); }); });
    dialog.OnRename();
    return said;
}

void SetFindAndReplace(CBatchRenameDlg& dialog, const QString& find, const QString& replace) {
    dialog.RegexBox()->setChecked(true);
    dialog.FindField()->setText(find);
    dialog.ReplaceField()->setText(replace);
    dialog.PreviewNow();
}

}  // namespace

class RegexPresetsWindowTest : public QObject {
    Q_OBJECT

  private slots:
    // The two new controls show their whole text and cover no other control.
    void newControlsFitBesideTheirNeighbours() {
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        QPushButton* presets = nullptr;
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == "Presets") presets = button;
        }
        QVERIFY(presets != nullptr);
        // A check box asks for the room of its box and text; a button's text
        // needs a little room on either side.
        QVERIFY(dialog.RegexBox()->sizeHint().width() <= dialog.RegexBox()->width());
        QVERIFY(presets->fontMetrics().horizontalAdvance(presets->text()) + 16 <= presets->width());
        for (QWidget* added :
             {static_cast<QWidget*>(dialog.RegexBox()), static_cast<QWidget*>(presets)}) {
            for (QWidget* other : dialog.findChildren<QWidget*>()) {
                if (other == added || other->parentWidget() != added->parentWidget() ||
                    !other->isVisible() || other->inherits("QGroupBox")) {
                    continue;
                }
                QVERIFY2(!other->geometry().intersects(added->geometry()),
                         qPrintable(other->metaObject()->className()));
            }
        }
    }

    void groupsRenameInThePreview() {
        TempDir dir;
        dir.MakeFile("20240131_beach.jpg");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        SetFindAndReplace(dialog, "^(?<y>\\d{4})(\\d\\d)(\\d\\d)_", "${y}-$2-$3 ");
        QCOMPARE(Cell(dialog, 0, 1), QString("2024-01-31 beach.jpg"));
        QVERIFY(!dialog.FindField()->property("regexError").toBool());
        // Unticked, the same text is plain text again.
        dialog.RegexBox()->setChecked(false);
        dialog.PreviewNow();
        QCOMPARE(Cell(dialog, 0, 1), QString("20240131_beach.jpg"));
    }

    void invalidPatternIsMarkedAndNothingIsRenamed() {
        TempDir dir;
        dir.MakeFile("abc.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        SetFindAndReplace(dialog, "a(b", "x");
        QVERIFY(dialog.FindField()->property("regexError").toBool());
        QCOMPARE(dialog.FindField()->toolTip(),
                 QString("The regular expression is not valid: missing closing parenthesis (at "
                         "character 4)."));
        QCOMPARE(Cell(dialog, 0, 1), QString("abc.txt"));  // without the replacement

        const QString said = RenameAndReadTheAnswer(dialog);
        QVERIFY2(said.startsWith("Nothing can be renamed with this find and replace."),
                 qPrintable(said));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("abc.txt"))));
        QVERIFY(dialog.isVisible());

        // A replacement naming a group the pattern lacks marks the other field.
        SetFindAndReplace(dialog, "a(b)", "$2");
        QVERIFY(!dialog.FindField()->property("regexError").toBool());
        QVERIFY(dialog.ReplaceField()->property("regexError").toBool());
        SetFindAndReplace(dialog, "a(b)", "$1");
        QVERIFY(!dialog.ReplaceField()->property("regexError").toBool());
        QCOMPARE(Cell(dialog, 0, 1), QString("bc.txt"));
    }

    void rowOfAStoppedNameSaysSoAndRenameRefuses() {
        TempDir dir;
        dir.MakeFile(std::string(60, 'a') + "!");
        dir.MakeFile("b.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        SetFindAndReplace(dialog, "^(a+)+$|b", "c");
        QCOMPARE(Cell(dialog, 1, 1), QString("c.txt"));
        QVERIFY(
            Cell(dialog, 0, 1, Qt::ToolTipRole).startsWith("The regular expression took too long"));
        QVERIFY(!Cell(dialog, 1, 1, Qt::ToolTipRole).startsWith("The regular expression"));

        const QString said = RenameAndReadTheAnswer(dialog);
        QVERIFY2(said.contains("took too long on 1 of the names"), qPrintable(said));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("b.txt"))));
    }

    // Two windows on one presets file: each saves, either sees both, and
    // applying, renaming and deleting go through the file.
    void presetsRoundTripBetweenTwoWindows() {
        TempDir config;
        const std::string file = config.Path("presets.conf");
        CBatchRenameDlg::UsePresetFile(file);
        CBatchRenameDlg first(nullptr);
        CBatchRenameDlg second(nullptr);
        CBatchRenameDlg::UsePresetFile(std::nullopt);
        TempDir dir;
        dir.MakeFile("photo.jpg");
        second.AddFolder(dir.u16());

        first.TemplateCombo()->setEditText("trip###");
        first.StartNumber()->setValue(5);
        SetFindAndReplace(first, "p(\\d)", "P$1");
        QVERIFY(first.Presets()->Save("Trip"));
        second.TemplateCombo()->setEditText("<N>");
        QVERIFY(second.Presets()->Save("Plain"));
        QCOMPARE(first.Presets()->Names(), QStringList({"Trip", "Plain"}));

        QVERIFY(second.Presets()->Apply("Trip"));
        QCOMPARE(second.TemplateCombo()->currentText(), QString("trip###"));
        QCOMPARE(second.StartNumber()->value(), 5);
        QVERIFY(second.RegexBox()->isChecked());
        QCOMPARE(second.FindField()->text(), QString("p(\\d)"));
        QCOMPARE(Cell(second, 0, 1), QString("triP005.jpg"));

        QVERIFY(first.Presets()->Rename("Trip", "Holiday"));
        QVERIFY(first.Presets()->Delete("Plain"));
        QCOMPARE(second.Presets()->Names(), QStringList({"Holiday"}));
        AnswerNextDialog("OK", [] { QVERIFY(ModalText().contains("no preset named Trip")); });
        QVERIFY(!second.Presets()->Apply("Trip"));
    }

    void damagedPresetFileIsReportedOnceAndTheRestIsUsed() {
        TempDir config;
        const std::string file = config.Path("presets.conf");
        std::ofstream(file) << "Preset=sz:\"Upper\"\nCase=dword:1\nStart=dword:x\n";
        CBatchRenameDlg::UsePresetFile(file);
        CBatchRenameDlg dialog(nullptr);
        CBatchRenameDlg::UsePresetFile(std::nullopt);
        QString said;
        AnswerNextDialog("OK", [&] { said = ModalText(); });
        QCOMPARE(dialog.Presets()->Names(), QStringList({"Upper"}));
        QVERIFY2(said.contains("(lines 3)"), qPrintable(said));
        // Once told, the window does not ask again.
        QCOMPARE(dialog.Presets()->Names(), QStringList({"Upper"}));
        QVERIFY(dialog.Presets()->Save("Second"));
        QCOMPARE(dialog.Presets()->Names(), QStringList({"Upper", "Second"}));
    }
};

QTEST_MAIN(RegexPresetsWindowTest)
#include "regex_presets_window_test.moc"
