// The renamer's main window: options, the preview list and the commands.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/logic/batch_rename_logic.h"
#include "ui/logic/extra_win_receiver.h"
#include "ui/logic/layout_manager.h"
#include "update/update_checker.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;
class QWidget;

namespace morix {
class RenameRun;
class RunJournal;
class SettingsStore;
}  // namespace morix

namespace morix::ui {

// A path named when the program starts: a file (or a folder as one item), or
// a folder whose files are added.
struct StartPath {
    std::u16string path;
    bool isFolder = false;
};

class DialogUnits;
class PresetMenu;
class PreviewModel;

class CBatchRenameDlg : public QDialog, public CExtraWinReceiver, private IUpdateOwner {
    Q_OBJECT

  public:
    // settings may be null (nothing is read or written then, and no version
    // check runs).
    explicit CBatchRenameDlg(SettingsStore* settings, QWidget* parent = nullptr);
    ~CBatchRenameDlg() override;

    BatchRenameLogic& Logic() { return logic_; }

    // Adds paths before or after the window is shown; sorts and refreshes as
    // adding files does.
    void AddPaths(const std::vector<std::u16string>& paths);
    // Puts the paths the program was started with into the list in the order
    // given, then sorts all rows and previews, once.
    void AddStartPaths(const std::vector<StartPath>& paths);
    // Adds the files directly inside folder, then sorts and refreshes.
    void AddFolder(const std::u16string& folder);

    // Requests from another start of the program. While the rename command
    // runs, paths are held and added when it is over (the worker reads the
    // list), and a close request waits for the end of the rename run.
    void OnCloseRequest() override;
    void OnAddPath(const std::u16string& path, bool isFolder) override;

    // The commands, public so tests can drive them.
    void RefreshPreview();
    // What the preview timer does: read the options, then refresh.
    void PreviewNow();
    void SortList();
    void AddFilesCommand();
    void AddFolderCommand();
    void MoveSelectionUp();
    void MoveSelectionDown();
    void CopyNewNames();
    void OnRename();
    // Ctrl+Z outside the template field: offers to take back the most recent
    // rename (kept also from earlier sessions), after a confirmation.
    void UndoLastRename();
    void OpenHelpPage();
    void InsertTemplateToken(int pick);

    // How the version check learns whether the machine is connected (tests
    // replace it).
    void SetNetworkProbe(std::function<bool()> probe) { networkProbe_ = std::move(probe); }

    QTableView* PreviewList() const { return list_; }
    QComboBox* TemplateCombo() const { return template_; }
    QSpinBox* StartNumber() const { return start_; }
    QComboBox* DateSourceCombo() const { return dateSource_; }
    QPushButton* RenameButton() const { return rename_; }
    QPushButton* CopyButton() const { return copy_; }
    int PreviewPasses() const { return logic_.PreviewPasses(); }
    QCheckBox* RegexBox() const { return regex_; }
    QLineEdit* FindField() const { return find_; }
    QLineEdit* ReplaceField() const { return replace_; }
    PresetMenu* Presets() const { return presets_; }
    // The presets file the window uses instead of the user's; set before the
    // window is made (tests).
    static void UsePresetFile(std::optional<std::string> path) { presetFile_ = std::move(path); }
    QLabel* CountLine() const { return counts_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    // Files dropped anywhere on the window, and the picker's wheel.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Control;
    std::vector<Control> ControlTable();
    QWidget* CreateControl(const Control& control, const DialogUnits& du);
    // Creates the table's controls; the widgets in the table's order.
    std::vector<QWidget*> BuildControls(const std::vector<Control>& table);
    void SetUpTemplateField();
    void FillTokenPicker();
    void FillCaseModes();
    void FillSortKeys();
    void FillDateSources();
    void SetUpList();
    void ConnectControls();
    void RegisterLayout(const std::vector<Control>& table, const std::vector<QWidget*>& widgets);
    void AddPickedToken();
    void ShowOptions();
    void ShowOptionValues(const RenameOptions& options);
    void ShowHistory();
    void SetUpPresets();
    void ApplyPreset(const RenameOptions& options);
    // Marks the find or replace field whose text the regular expression
    // cannot use, with the reason as its tooltip; unmarks both otherwise.
    void MarkRegexProblem();
    static QString RegexProblemText(const RegexError& problem);
    QString RegexStoppedText() const;
    // Says why not, when the regular expression keeps the run from starting.
    bool RegexAllowsRename();
    void SaveSettings();
    void ScheduleRefresh();
    void GatherOptions();
    // Shows the rows anew and previews; focusItem's row gets the focus.
    void AfterRowsChanged(std::optional<std::uint32_t> focusItem = std::nullopt);
    // Adds what add() puts into the list as one command: the rows it creates
    // are the selection, the last one has the focus.
    void AddRows(const std::function<void()>& add, BatchRenameLogic::SortAfterAdd sort);
    void TakeDropsAnywhere();
    void SelectionFromView();
    void SelectionToView(std::optional<std::uint32_t> focusItem);
    void AddDroppedPaths(const QList<QByteArray>& paths);
    void DropRows(int target);
    enum class RunEnd {
        kRenamed,
        kTargetExists,
        kFailed,      // tried and rolled back
        kNotStarted,  // nothing was tried
    };
    // details: what went wrong, for a person, when the run failed or could
    // not start.
    RunEnd RunRename(QString& details);
    // Shows the progress of the started run until it ends.
    void FollowRun(RenameRun& run);
    static QString FailureDetails(const RenameRun& run, const RunJournal& journal);
    void OfferRestart();
    // Takes back the kept run id with the progress of a run; says why not
    // in a message box. True when every file is back under its old name.
    bool UndoRun(std::uint64_t id);
    void CheckVersionOnceConnected();
    void OnUpdateResult(int result);
    void AddHandedPath(const std::u16string& path, bool isFolder);
    void EndForCloseRequest();

    // IUpdateOwner, for the version check.
    void PostCheckResult(int result) override;
    bool ConfirmUpdate(const std::u16string& display) override;
    void OpenPage(const std::u16string& url) override;
    void CloseWindow() override;

    BatchRenameLogic logic_;
    SettingsStore* settings_;
    PreviewModel* model_ = nullptr;
    CLayoutManager layout_;
    QTimer previewTimer_;       // previews once the user pauses
    QTimer versionCheckTimer_;  // waits for a connection, then checks the version
    int updateRetries_ = 0;
    std::function<bool()> networkProbe_;
    std::unique_ptr<CUpdateChecker> checker_;  // stopped and joined with the window
    int templatePick_ = 0;

    bool renameCommand_ = false;  // from the question until the last message
    bool runActive_ = false;      // the worker may read the list
    bool closeHeld_ = false;
    std::uint64_t lastKeptRun_ = 0;        // the id under which the last rename was kept; 0: none
    std::vector<StartPath> heldPaths_;     // handed over during the command
    bool updatePromptHeld_ = false;        // a newer version, offered after the command

    QComboBox* template_ = nullptr;
    QComboBox* picker_ = nullptr;
    QSpinBox* start_ = nullptr;
    QSpinBox* step_ = nullptr;
    QCheckBox* changeExtension_ = nullptr;
    QLineEdit* extension_ = nullptr;
    QComboBox* case_ = nullptr;
    QLineEdit* find_ = nullptr;
    QLineEdit* replace_ = nullptr;
    QCheckBox* caseSensitive_ = nullptr;
    QCheckBox* regex_ = nullptr;
    QCheckBox* normalize_ = nullptr;
    QComboBox* sortKey_ = nullptr;
    QComboBox* dateSource_ = nullptr;
    QCheckBox* descending_ = nullptr;
    QTableView* list_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* rename_ = nullptr;
    QPushButton* presetsButton_ = nullptr;
    PresetMenu* presets_ = nullptr;
    static inline std::optional<std::string> presetFile_;
    QLabel* counts_ = nullptr;
};

}  // namespace morix::ui
