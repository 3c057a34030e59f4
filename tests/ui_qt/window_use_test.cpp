// The main window as a new user works with it: the template field and the
// picker, numbers in a locale's own digits, files dropped anywhere, the
// selection through sorts and adds, one preview per command, the window
// during a rename run and what waits for the run's end.
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>

#include "base/settings_file.h"
#include "base/settings_store.h"
#include "support/loopback_http_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_rename_dialog.h"
#include "ui/qt/chosen_paths.h"
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

std::vector<int> SelectedRows(const CBatchRenameDlg& dialog) {
    std::vector<int> rows;
    for (const QModelIndex& index : dialog.PreviewList()->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QStringList OldNames(const CBatchRenameDlg& dialog) {
    QStringList names;
    for (int r = 0; r < dialog.PreviewList()->model()->rowCount(); ++r)
        names << Cell(dialog, r, 0);
    return names;
}

// Drags data over widget and drops it there, as the window system would.
void DropOn(QWidget* widget, const QMimeData& data) {
    const QPoint at = widget->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                    Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
}

}  // namespace

class WindowUseTest : public QObject {
    Q_OBJECT

  private slots:
    void templateFieldTakesWhatIsTypedAndEnterRenames() {
        CBatchRenameDlg dialog(nullptr);
        dialog.TemplateCombo()->addItem("IMG_###");  // a saved template
        dialog.AddPaths({u"/nowhere/a.txt"});
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QLineEdit* edit = dialog.TemplateCombo()->lineEdit();
        edit->clear();
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        QTest::keyClicks(edit, "IMG");
        QCOMPARE(edit->text(), QString("IMG"));
        QTRY_COMPARE_WITH_TIMEOUT(Cell(dialog, 0, 1), QString("IMG.txt"), 2000);
        QString question;
        AnswerNextDialog("No", [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                question = box->text();
        });
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_COMPARE(question, QString("Do you want to rename all files to the new name?"));
        QCOMPARE(edit->text(), QString("IMG"));
    }

    void windowAndItsDialogsShowTheProgramIcon() {
        CBatchRenameDlg dialog(nullptr);
        QVERIFY(!dialog.windowIcon().isNull());
        QVERIFY(!dialog.windowIcon().pixmap(32).isNull());  // the SVG can be drawn
        morix::ui::CRenameCompleteDlg complete(&dialog);
        QCOMPARE(complete.windowIcon().cacheKey(), dialog.windowIcon().cacheKey());
    }

    void numbersWrittenInALocalesOwnDigitsAreRead() {
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/nowhere/a.txt", u"/nowhere/b.txt"});
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        const QLocale arabic(QLocale::Arabic, QLocale::Egypt);
        dialog.StartNumber()->setLocale(arabic);
        dialog.StartNumber()->setValue(3);
        QVERIFY2(dialog.StartNumber()->text() != "3", "the field shows Arabic-Indic digits");
        dialog.TemplateCombo()->setEditText("#");
        dialog.TemplateCombo()->setFocus();
        dialog.PreviewNow();
        QCOMPARE(Cell(dialog, 0, 1), QString("3.txt"));
        QCOMPARE(Cell(dialog, 1, 1), QString("4.txt"));
        QVERIFY(!dialog.StartNumber()->hasFocus());
    }

    void savedStartNumberZeroLeavesTheFocusAtStart() {
        TempDir dir;
        morix::SettingsStore settings(
            std::make_unique<morix::FileSettingsBackend>(dir.Path("settings.conf")));
        settings.SetDword(morix::kSettingStart, 0, 1);
        CBatchRenameDlg dialog(&settings);
        dialog.SetNetworkProbe([] { return false; });
        dialog.AddStartPaths({{u"/nowhere/a.txt", false}});
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QTRY_VERIFY(dialog.TemplateCombo()->lineEdit()->hasFocus());
        QVERIFY(!dialog.StartNumber()->hasFocus());
        QCOMPARE(dialog.StartNumber()->value(), 0);
    }

    void sortAndMovesKeepALargeSelection() {
        CBatchRenameDlg dialog(nullptr);
        std::vector<std::u16string> paths;
        for (int i = 0; i < 2000; ++i)
            paths.push_back(u"/d/f" + morix::AsciiToU16(std::to_string(i)));
        dialog.AddPaths(paths);
        dialog.show();
        QTableView* list = dialog.PreviewList();
        QAbstractItemModel* model = list->model();
        // All but the first row (f0), as a user selects with Shift.
        list->selectionModel()->select(QItemSelection(model->index(1, 0), model->index(1999, 2)),
                                       QItemSelectionModel::ClearAndSelect);
        dialog.MoveSelectionDown();  // the block is at the bottom: nothing moves
        dialog.MoveSelectionUp();
        QCOMPARE(Cell(dialog, 1999, 0), QString("f0"));
        QCOMPARE(SelectedRows(dialog).size(), std::size_t{1999});
        QCOMPARE(SelectedRows(dialog).front(), 0);

        // Sorting puts f0 first again; every other row stays selected.
        dialog.SortList();
        QCOMPARE(Cell(dialog, 0, 0), QString("f0"));
        const std::vector<int> selected = SelectedRows(dialog);
        QCOMPARE(selected.size(), std::size_t{1999});
        QCOMPARE(selected.front(), 1);
    }

    void addedRowsAreSelectedAndFocusedWhereTheSortPutsThem() {
        TempDir dir;
        dir.MakeFile("b.txt");
        dir.MakeFile("d.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddPaths({u"/d/c.txt", u"/d/a.txt", u"/d/e.txt", u"/d/b.txt"});
        dialog.show();
        QCOMPARE(OldNames(dialog), QStringList({"a.txt", "b.txt", "c.txt", "e.txt"}));
        QCOMPARE(SelectedRows(dialog), (std::vector<int>{0, 1, 2, 3}));
        QCOMPARE(dialog.PreviewList()->currentIndex().row(), 1);  // the last one added

        // A folder sorts the whole list: only its rows are selected.
        dialog.AddFolder(dir.u16());
        QCOMPARE(OldNames(dialog),
                 QStringList({"a.txt", "b.txt", "b.txt", "c.txt", "d.txt", "e.txt"}));
        const QString folder = QString::fromStdString(dir.bytes());
        for (int row : SelectedRows(dialog))
            QCOMPARE(Cell(dialog, row, 2), folder);
        QCOMPARE(SelectedRows(dialog).size(), std::size_t{2});
        QCOMPARE(Cell(dialog, dialog.PreviewList()->currentIndex().row(), 2), folder);
    }

    void eachCommandPreviewsOnce() {
        TempDir dir;
        dir.MakeFile("x.txt");
        CBatchRenameDlg dialog(nullptr);
        int passes = dialog.PreviewPasses();
        std::vector<morix::ui::StartPath> start;
        for (int i = 0; i < 50; ++i)
            start.push_back({u"/d/f" + morix::AsciiToU16(std::to_string(i)), false});
        start.push_back({dir.u16(), true});
        dialog.AddStartPaths(start);
        QCOMPARE(dialog.PreviewPasses(), passes + 1);
        QCOMPARE(dialog.PreviewList()->model()->rowCount(), 51);
        dialog.show();
        passes = dialog.PreviewPasses();
        dialog.AddPaths({u"/d/more.txt"});
        QCOMPARE(dialog.PreviewPasses(), passes + 1);
        dialog.SortList();
        QCOMPARE(dialog.PreviewPasses(), passes + 2);
        dialog.MoveSelectionUp();
        QCOMPARE(dialog.PreviewPasses(), passes + 3);
    }

    void filesDroppedAnywhereOnTheWindowAreAdded() {
        TempDir dir;
        dir.MakeFile("one.txt");
        dir.MakeFile("caf\xe9.txt");  // not UTF-8
        CBatchRenameDlg dialog(nullptr);
        dialog.show();
        dialog.TemplateCombo()->setEditText("<N>");
        QWidget* targets[] = {
            dialog.findChild<QGroupBox*>("group1006"),     // a frame
            dialog.findChild<QPushButton*>("button1000"),  // a button
            dialog.TemplateCombo()->lineEdit(),            // a field that takes text
            &dialog,                                       // the window's own background
        };
        QMimeData one;
        one.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.Path("one.txt")))});
        QMimeData odd;
        odd.setUrls({QUrl::fromEncoded(QByteArray("file://") +
                                       QByteArray::fromStdString(dir.Path("caf%E9.txt")))});
        // The first drop adds one file, the second another; the same file
        // again adds nothing.
        const std::size_t counts[] = {1, 2, 2, 2};
        for (std::size_t i = 0; i < std::size(targets); ++i) {
            QVERIFY(targets[i] != nullptr);
            DropOn(targets[i], i == 0 ? one : odd);
            QCOMPARE(dialog.Logic().List().Count(), counts[i]);
        }
        QCOMPARE(dialog.TemplateCombo()->currentText(), QString("<N>"));
        QCOMPARE(morix::EncodeFileName(dialog.Logic().List().ItemAt(1).Whole()),
                 dir.Path("caf\xe9.txt"));
    }

    void chosenNamesThatAreNotUtf8ReachTheirFiles() {
        TempDir dir;
        dir.MakeFolder("d\xe9j\xe0");
        dir.MakeFile("d\xe9j\xe0/caf\xe9.txt");
        dir.MakeFile("plain.txt");
        // What a file dialog hands back: the names as Qt decodes them.
        const QString folder = QFile::decodeName(QByteArray::fromStdString(dir.Path("d\xe9j\xe0")));
        const QString file = folder + QFile::decodeName("/caf\xe9.txt");
        QVERIFY(!QFile::exists(file));

        std::vector<std::u16string> paths = morix::ui::PathsOnDisk(file);
        QCOMPARE(paths.size(), std::size_t{1});
        QCOMPARE(morix::EncodeFileName(paths[0]), dir.Path("d\xe9j\xe0/caf\xe9.txt"));
        paths = morix::ui::PathsOnDisk(folder);
        QCOMPARE(paths.size(), std::size_t{1});
        QCOMPARE(morix::EncodeFileName(paths[0]), dir.Path("d\xe9j\xe0"));
        // Plain names stay as they are, and so does a name that is gone.
        paths = morix::ui::PathsOnDisk(QString::fromStdString(dir.Path("plain.txt")));
        QCOMPARE(morix::EncodeFileName(paths.at(0)), dir.Path("plain.txt"));
        paths = morix::ui::PathsOnDisk(QString::fromStdString(dir.Path("gone.txt")));
        QCOMPARE(morix::EncodeFileName(paths.at(0)), dir.Path("gone.txt"));
    }

    void helpOpensOnlyWebAddressesOfTheVendor() {
        {
            ScopedEnv root("TRELVO_HELP_ROOT", "https://help.example/");
            QCOMPARE(morix::ui::HelpPageAddress(),
                     QString("https://help.example/en/morix/1.0/help"));
        }
        for (const char* bad : {"file:///etc/", "javascript:alert(1)//", "ftp://help.example/"}) {
            ScopedEnv root("TRELVO_HELP_ROOT", bad);
            const QString address = morix::ui::HelpPageAddress();
            QVERIFY2(address.startsWith("file://") && address.endsWith("/en.html"),
                     qPrintable(address));
        }
    }

    void renameRunKeepsTheWindowDrawnButTakesNoInput() {
        TempDir dir;
        dir.MakeFile("one.txt");
        CBatchRenameDlg dialog(nullptr);
        dialog.AddFolder(dir.u16());
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        QLineEdit* edit = dialog.TemplateCombo()->lineEdit();
        dialog.TemplateCombo()->setEditText("file_#");
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        bool enabledDuringRun = true;
        bool ranDuringRun = false;
        QString textAfterTyping;
        AnswerNextDialog("Yes", [&] {
            // While the run goes on (its progress dialog polls every 100 ms).
            QTimer::singleShot(20, [&] {
                ranDuringRun = true;
                enabledDuringRun = dialog.isEnabled() && edit->isEnabled();
                QTest::keyClicks(edit, "xyz");
                textAfterTyping = edit->text();
            });
        });
        AnswerNextDialogLater("Restart");
        dialog.OnRename();
        QVERIFY(ranDuringRun);
        QVERIFY(enabledDuringRun);
        QCOMPARE(textAfterTyping, QString("file_#"));
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_1.txt"))));
        // Afterwards the window takes input again.
        QTest::keyClicks(edit, "x");
        QCOMPARE(edit->text(), QString("file_#x"));
    }

    void newerVersionIsOfferedOnlyOnceTheRenameIsOver() {
        TempDir dir;
        dir.MakeFile("one.txt");
        morix::testing::LoopbackHttpServer service(morix::testing::HttpReply{
            200,
            "<?xml version=\"1.0\"?><version current=\"9.0.0.0\" display=\"Version 9\" "
            "url=\"http://127.0.0.1:1/\"/>"});
        const ScopedEnv root("TRELVO_VERSION_SERVICE", service.Root());
        morix::SettingsStore settings(
            std::make_unique<morix::FileSettingsBackend>(dir.Path("settings.conf")));
        bool restartAnswered = false;
        bool offeredBeforeTheEnd = false;
        bool offered = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->text().startsWith("There is a new version.")) return;
            offered = true;
            offeredBeforeTheEnd = offeredBeforeTheEnd || !restartAnswered;
            box->reject();
        });
        watch.start(20);
        CBatchRenameDlg dialog(&settings);
        dialog.SetNetworkProbe([] { return true; });
        dialog.AddFolder(dir.u16());
        dialog.show();
        dialog.TemplateCombo()->setEditText("file_#");
        // The answer arrives while the question is open.
        QTimer::singleShot(1500, [] { AnswerNextDialog("Yes"); });
        QTimer::singleShot(
            1500, [&] { AnswerNextDialogLater("Restart", [&] { restartAnswered = true; }); });
        dialog.OnRename();
        QCOMPARE(service.Requests().size(), std::size_t{1});
        QVERIFY(QFile::exists(QString::fromStdString(dir.Path("file_1.txt"))));
        QTRY_VERIFY_WITH_TIMEOUT(offered, 5000);
        QVERIFY(!offeredBeforeTheEnd);
        QVERIFY(dialog.isVisible());
    }
};

QTEST_MAIN(WindowUseTest)
#include "window_use_test.moc"
