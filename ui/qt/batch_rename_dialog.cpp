#include "ui/qt/batch_rename_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QShortcut>
#include <QSpinBox>
#include <QTableView>
#include <QUrl>
#include <iterator>
#include <type_traits>
#include <variant>

#include "base/journaled_run.h"
#include "engine/file_info.h"
#include "engine/paths.h"
#include "engine/rename_run.h"
#include "engine/run_history.h"
#include "engine/safe_move.h"
#include "engine/text.h"
#include "ui/logic/option_settings.h"
#include "ui/qt/chosen_paths.h"
#include "ui/qt/combo_box_edit.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/preset_menu.h"
#include "ui/qt/preview_model.h"
#include "ui/qt/program_icon.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/row_marks.h"
#include "ui/qt/secondary_dialogs.h"
#include "ui/qt/widget_layout.h"
#include "ui/qt/window_input_guard.h"
#include "update/network_state.h"

namespace morix::ui {
namespace {

constexpr int kPreviewDelayMs = 300;
constexpr int kColumnWidth = 180;
constexpr int kTemplateLimit = 128;

}  // namespace

CBatchRenameDlg::CBatchRenameDlg(SettingsStore* settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    if (settings_ != nullptr) logic_.Options() = ui::LoadOptions(*settings_);
    setWindowTitle(tr("Trelvo Renamer") + QStringLiteral(" 1.8"));
    setWindowIcon(ProgramIcon());  // the dialogs it owns show it too
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    previewTimer_.setSingleShot(true);
    previewTimer_.setInterval(kPreviewDelayMs);
    connect(&previewTimer_, &QTimer::timeout, this, &CBatchRenameDlg::PreviewNow);
    const std::vector<Control> table = ControlTable();
    const std::vector<QWidget*> widgets = BuildControls(table);
    ShowOptions();
    RegisterLayout(table, widgets);
    TakeDropsAnywhere();
    setMinimumSize(600, 380);
    // Rows added before the window existed are sorted once, then previewed.
    if (logic_.Rows().Count() > 0) logic_.SortList();
    AfterRowsChanged();

    if (settings_ != nullptr) {
        checker_ = std::make_unique<CUpdateChecker>(*settings_);
        versionCheckTimer_.setSingleShot(true);
        connect(&versionCheckTimer_, &QTimer::timeout, this,
                &CBatchRenameDlg::CheckVersionOnceConnected);
        versionCheckTimer_.start(100);
    }
}

CBatchRenameDlg::~CBatchRenameDlg() {
    if (checker_) {
        checker_->RequestStop();
        checker_->Join(JThread::kInfinite);
    }
}

void CBatchRenameDlg::CheckVersionOnceConnected() {
    // Wait up to ten ticks for a connection, then check either way.
    const bool connected = networkProbe_ ? networkProbe_() : HasUsableNetwork();
    if (updateRetries_++ < 10 && !connected) {
        versionCheckTimer_.start(3000);
        return;
    }
    checker_->SetOwner(this);
    checker_->SetLanguageCode(UiLanguageCode());
    checker_->Start();
}

void CBatchRenameDlg::PostCheckResult(int result) {
    // Called on the checker's thread: hand the result to the window's thread.
    // The call is dropped if the window is gone by then.
    QMetaObject::invokeMethod(
        this, [this, result] { OnUpdateResult(result); }, Qt::QueuedConnection);
}

void CBatchRenameDlg::OnUpdateResult(int result) {
    if (result != CUpdateChecker::kAnswered || !checker_) return;
    if (!checker_->ApplyAnswer() || !checker_->NeedsUpdate(kProgramVersion, false)) return;
    // The prompt would open over the rename command, and its answer may end
    // the window in the middle of the run: it waits for the command's end.
    // The answer itself (the notice among it) is taken at once.
    if (renameCommand_) {
        updatePromptHeld_ = true;
        return;
    }
    checker_->PromptUpdate();
}

bool CBatchRenameDlg::ConfirmUpdate(const std::u16string& display) {
    QMessageBox box(QMessageBox::NoIcon, tr("Trelvo Renamer"),
                    tr("There is a new version.\n%1\n\nPress the [OK] button to check for new "
                       "versions.")
                        .arg(ToQString(display)),
                    QMessageBox::Ok | QMessageBox::Cancel, this);
    box.setTextFormat(Qt::PlainText);  // the text comes from the network
    return box.exec() == QMessageBox::Ok;
}

void CBatchRenameDlg::OpenPage(const std::u16string& url) {
    if (IsWebAddress(url)) QDesktopServices::openUrl(QUrl(ToQString(url)));
}

void CBatchRenameDlg::CloseWindow() {
    reject();
}

// One control of the window: what it is, its text, its place in dialog units,
// how it follows the window's size, the member that keeps it, what it needs
// beyond its kind (done before it is placed, as a combo box's own field is
// made then), and what a click on it does. The object name lets scripts and
// tests find controls that have no member.
struct CBatchRenameDlg::Control {
    enum Kind { kGroup, kLabel, kButton, kCheckBox, kLineEdit, kComboBox, kSpinBox, kList };
    template <typename Widget>
    using Slot = Widget* CBatchRenameDlg::*;
    using Member =
        std::variant<std::monostate, Slot<QComboBox>, Slot<QSpinBox>, Slot<QCheckBox>,
                     Slot<QLineEdit>, Slot<QPushButton>, Slot<QTableView>, Slot<QLabel>>;

    Kind kind;
    QString text;
    QRect place;
    std::uint16_t anchors;
    Member member = {};
    void (*setUp)(CBatchRenameDlg&) = nullptr;
    void (CBatchRenameDlg::*clicked)() = nullptr;
    const char* name = nullptr;
};

std::vector<CBatchRenameDlg::Control> CBatchRenameDlg::ControlTable() {
    // Stays where it is; stretches across; follows the right edge; moves
    // with half the growth; follows the bottom; stretches both ways.
    constexpr std::uint16_t kStays = AnchorTop | AnchorLeft;
    constexpr std::uint16_t kWide = AnchorTop | AnchorLeft | AnchorRight;
    constexpr std::uint16_t kRight = AnchorTop | AnchorRight;
    constexpr std::uint16_t kCentred = AnchorTop;
    constexpr std::uint16_t kLeftBottom = AnchorLeft | AnchorBottom;
    constexpr std::uint16_t kRightBottom = AnchorRight | AnchorBottom;
    constexpr std::uint16_t kWideBottom = AnchorLeft | AnchorRight | AnchorBottom;
    constexpr std::uint16_t kAll = AnchorTop | AnchorLeft | AnchorRight | AnchorBottom;
    using C = Control;
    using D = CBatchRenameDlg;
    // In the order of creation: the frames first, so the controls drawn over
    // them stay on top; then the dialog's tab order.
    // clang-format off
    return {
        {C::kGroup, tr("Name"), {7, 7, 223, 79}, kWide, {}, nullptr, nullptr, "group1006"},
        {C::kGroup, tr("Extension"), {237, 7, 147, 29}, kRight, {}, nullptr, nullptr, "group1005"},
        {C::kGroup, tr("Change Case"), {237, 39, 147, 31}, kRight, {}, nullptr, nullptr,
            "group1004"},
        {C::kGroup, tr("Replace"), {7, 90, 377, 45}, kWide, {}, nullptr, nullptr, "group1003"},
        {C::kComboBox, {}, {12, 18, 213, 14}, kWide, &D::template_,
            [](D& d) { d.SetUpTemplateField(); }},
        {C::kComboBox, {}, {12, 34, 178, 14}, kWide, &D::picker_,
            [](D& d) { d.FillTokenPicker(); }},
        {C::kButton, tr("Add"), {192, 33, 34, 14}, kRight, {}, nullptr, &D::AddPickedToken,
            "button1169"},
        {C::kLabel, tr("Start Num:"), {24, 53, 40, 8}, kCentred, {}, nullptr, nullptr, "label1007"},
        {C::kSpinBox, {}, {68, 51, 46, 14}, kCentred, &D::start_,
            [](D& d) { d.start_->setRange(0, BatchRenameLogic::kMaxNumber); }},
        {C::kLabel, tr("Increment:"), {120, 53, 39, 8}, kCentred, {}, nullptr, nullptr,
            "label1008"},
        {C::kSpinBox, {}, {163, 51, 43, 14}, kCentred, &D::step_,
            [](D& d) { d.step_->setRange(1, BatchRenameLogic::kMaxNumber); }},
        {C::kLabel, tr("Date source:"), {14, 69, 50, 8}, kCentred},
        {C::kComboBox, {}, {68, 67, 138, 14}, kCentred, &D::dateSource_,
            [](D& d) { d.FillDateSources(); }},
        {C::kCheckBox, tr("Change"), {246, 19, 48, 10}, kRight, &D::changeExtension_},
        {C::kLineEdit, {}, {300, 18, 48, 12}, kRight, &D::extension_},
        {C::kComboBox, {}, {244, 52, 133, 14}, kRight, &D::case_,
            [](D& d) { d.FillCaseModes(); }},
        {C::kLabel, tr("Find what:"), {13, 103, 49, 8}, kStays},
        {C::kLineEdit, {}, {66, 101, 90, 12}, kStays, &D::find_},
        {C::kLabel, tr("Replace with:"), {13, 118, 49, 8}, kStays},
        {C::kLineEdit, {}, {66, 117, 90, 12}, kStays, &D::replace_},
        {C::kCheckBox, tr("Case Sensitive"), {167, 103, 66, 10}, kStays, &D::caseSensitive_},
        {C::kCheckBox, tr("Regular expression"), {167, 118, 82, 10}, kStays, &D::regex_},
        {C::kCheckBox, tr("Normalize unicode (Mac filenames)"), {246, 103, 136, 10}, kStays,
            &D::normalize_},
        {C::kComboBox, {}, {7, 141, 76, 14}, kStays, &D::sortKey_,
            [](D& d) { d.FillSortKeys(); }},
        {C::kCheckBox, tr("Descending"), {90, 142, 53, 10}, kStays, &D::descending_},
        {C::kButton, tr("Sort"), {147, 140, 56, 14}, kStays, {}, nullptr, &D::SortList},
        {C::kButton, tr("Presets"), {206, 140, 40, 14}, kStays, &D::presetsButton_,
            [](D& d) { d.SetUpPresets(); }},
        {C::kButton, tr("&Add Files"), {250, 140, 65, 14}, kRight, {}, nullptr,
            &D::AddFilesCommand, "button1000"},
        {C::kButton, tr("Add &Folder"), {319, 140, 65, 14}, kRight, {}, nullptr,
            &D::AddFolderCommand, "button1002"},
        {C::kList, {}, {7, 160, 377, 116}, kAll, &D::list_, [](D& d) { d.SetUpList(); }},
        {C::kButton, QStringLiteral("\u25B2"), {7, 292, 30, 14}, kLeftBottom, {}, nullptr,
            &D::MoveSelectionUp, "button1183"},
        {C::kButton, QStringLiteral("\u25BC"), {41, 292, 30, 14}, kLeftBottom, {}, nullptr,
            &D::MoveSelectionDown, "button1184"},
        {C::kButton, tr("&Copy to Clipboard"), {80, 292, 90, 14}, kLeftBottom, &D::copy_, nullptr,
            &D::CopyNewNames},
        {C::kButton, tr("&Rename"), {214, 292, 61, 14}, kRightBottom, &D::rename_,
            [](D& d) { d.rename_->setDefault(true); }, &D::OnRename},
        {C::kButton, tr("&Quit"), {280, 292, 50, 14}, kRightBottom, {}, nullptr, &D::reject,
            "button2"},
        {C::kButton, tr("&Help"), {334, 292, 50, 14}, kRightBottom, {}, nullptr, &D::OpenHelpPage,
            "button9"},
        // Last, so that it names no field: the states of the rows.
        {C::kLabel, {}, {7, 279, 377, 9}, kWideBottom, &D::counts_, nullptr, nullptr, "countLine"},
    };
    // clang-format on
}

namespace {

// Stores widget in the member that member points to, if any.
template <typename Owner, typename... Slots>
void FillMember(Owner& owner, const std::variant<Slots...>& member, QWidget* widget) {
    std::visit(
        [&](auto slot) {
            if constexpr (!std::is_same_v<decltype(slot), std::monostate>) {
                using Widget = std::remove_reference_t<decltype(*(owner.*slot))>;
                owner.*slot = qobject_cast<Widget*>(widget);
                Q_ASSERT(owner.*slot != nullptr);  // the kind matches the member's type
            }
        },
        member);
}

template <typename Widget>
QWidget* NewControl(const QString& text, QWidget* parent) {
    if constexpr (std::is_constructible_v<Widget, const QString&, QWidget*>) {
        return new Widget(text, parent);
    } else {
        return new Widget(parent);
    }
}

// Makes a control of each kind, in the order of Control::Kind.
constexpr QWidget* (*kNewControl[])(const QString&, QWidget*) = {
    NewControl<QGroupBox>, NewControl<QLabel>,    NewControl<QPushButton>, NewControl<QCheckBox>,
    NewControl<QLineEdit>, NewControl<QComboBox>, NewControl<QSpinBox>,    NewControl<QTableView>,
};

}  // namespace

QWidget* CBatchRenameDlg::CreateControl(const Control& control, const DialogUnits& du) {
    static_assert(std::size(kNewControl) == Control::kList + 1);
    QWidget* widget = kNewControl[control.kind](control.text, this);
    FillMember(*this, control.member, widget);
    if (control.setUp != nullptr) control.setUp(*this);
    const QRect& p = control.place;
    QRect place = du.Rect(p.x(), p.y(), p.width(), p.height());
    // Labels get room above and below, so that no font cuts their text.
    if (control.kind == Control::kLabel) place.adjust(0, -2, 0, 2);
    widget->setGeometry(place);
    if (control.name != nullptr) widget->setObjectName(QLatin1String(control.name));
    if (control.clicked != nullptr) {
        connect(qobject_cast<QPushButton*>(widget), &QPushButton::clicked, this, control.clicked);
    }
    return widget;
}

std::vector<QWidget*> CBatchRenameDlg::BuildControls(const std::vector<Control>& table) {
    const DialogUnits du(font());
    resize(du.X(391), du.Y(313));
    std::vector<QWidget*> widgets;
    for (const Control& control : table)
        widgets.push_back(CreateControl(control, du));
    // A label names the field that follows it.
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
        if (table[i].kind == Control::kLabel) {
            static_cast<QLabel*>(widgets[i])->setBuddy(widgets[i + 1]);
        }
    }
    // Tab order follows the order of creation; the template field comes
    // first and has the focus.
    template_->setFocus();
    ConnectControls();
    return widgets;
}

void CBatchRenameDlg::SetUpTemplateField() {
    template_->setEditable(true);
    template_->setInsertPolicy(QComboBox::NoInsert);
    // The field takes what is typed as it stands: a completion from the
    // history would be previewed, renamed with and accepted by Enter.
    template_->setCompleter(nullptr);
    template_->lineEdit()->setMaxLength(kTemplateLimit);
    new CMyComboBoxEdit(template_->lineEdit());
}

void CBatchRenameDlg::FillTokenPicker() {
    picker_->addItems({
        tr("Select a template to add."),
        tr("Original File Name <N>"),
        tr("Original File Name excluding Numbers <NS>"),
        tr("Numbers of Original File Name <ND>"),
        tr("Original File Extension <E>"),
        tr("Sequence Number #~####"),
        tr("File Size <z>"),
        tr("File Size(KB) <zKB>"),
        tr("Folder Name <P>"),
        tr("File Modified Date <YYYYMMDD> - 20031004"),
        tr("File Modified Date <YYMMDD> - 031004"),
        tr("File Modified Date <YYYY-MM-DD> - 2003-10-04"),
        tr("File Modified Date <YY-MM-DD> - 03-10-04"),
        tr("File Modified Time <HHmmss> - 031045"),
        tr("File Modified Time <HH_mm_ss> - 03_10_45"),
        tr("Current Date <TYYYYMMDD> - 20031004"),
        tr("Current Date <TYYMMDD> - 031004"),
        tr("Current Date <TYYYY-MM-DD> - 2003-10-04"),
        tr("Current Date <TYY-MM-DD> - 03-10-04"),
        tr("Current Time <THHmmss> - 031045"),
        tr("Current Time <THH_mm_ss> - 03_10_45"),
    });
}

void CBatchRenameDlg::FillCaseModes() {
    case_->addItems({tr("No Change"), tr("Change all to uppercase"), tr("Change all to lowercase"),
                     tr("Change the name to uppercase"), tr("Change the name to lowercase"),
                     tr("Change the extension to uppercase"),
                     tr("Change the extension to lowercase"),
                     tr("Change the first letter to uppercase")});
}

void CBatchRenameDlg::FillSortKeys() {
    sortKey_->addItems({tr("Name"), tr("Extension"), tr("Modified Time"), tr("File Size")});
}

void CBatchRenameDlg::FillDateSources() {
    // In the order of DateSource.
    dateSource_->addItems({tr("File modified date"), tr("Date taken (photos, videos)")});
    dateSource_->setToolTip(
        tr("The date of the date fields and of the sort by time. A file "
           "without a date taken uses its modified date."));
}

void CBatchRenameDlg::SetUpList() {
    model_ = new PreviewModel(logic_, this);
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setShowGrid(false);
    list_->setWordWrap(false);
    list_->verticalHeader()->hide();
    list_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list_->verticalHeader()->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setSectionsClickable(false);
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int c = 0; c < 3; ++c)
        list_->setColumnWidth(c, kColumnWidth);
    list_->setDragEnabled(true);
    list_->setAcceptDrops(true);
    list_->setDropIndicatorShown(true);
    list_->setDragDropMode(QAbstractItemView::DragDrop);
    list_->setDefaultDropAction(Qt::MoveAction);
}

// Every change of an option previews again, once typing pauses.
void CBatchRenameDlg::ConnectControls() {
    connect(template_, &QComboBox::editTextChanged, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(template_, qOverload<int>(&QComboBox::activated), this,
            &CBatchRenameDlg::ScheduleRefresh);
    connect(start_, &QSpinBox::textChanged, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(step_, &QSpinBox::textChanged, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(extension_, &QLineEdit::textChanged, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(find_, &QLineEdit::textChanged, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(replace_, &QLineEdit::textChanged, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(case_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CBatchRenameDlg::ScheduleRefresh);
    connect(dateSource_, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &CBatchRenameDlg::ScheduleRefresh);
    connect(caseSensitive_, &QCheckBox::clicked, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(regex_, &QCheckBox::clicked, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(normalize_, &QCheckBox::clicked, this, &CBatchRenameDlg::ScheduleRefresh);
    connect(changeExtension_, &QCheckBox::clicked, this, [this](bool on) {
        extension_->setEnabled(on);
        ScheduleRefresh();
    });
    connect(picker_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        templatePick_ = index;
        InsertTemplateToken(index);
    });
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &CBatchRenameDlg::OpenHelpPage);
    // A text field with the focus takes Ctrl+Z for its own text first.
    connect(new QShortcut(QKeySequence::Undo, this), &QShortcut::activated, this,
            &CBatchRenameDlg::UndoLastRename);
    connect(model_, &PreviewModel::rowsDropped, this, &CBatchRenameDlg::DropRows);
    connect(model_, &PreviewModel::pathsDropped, this, &CBatchRenameDlg::AddDroppedPaths);
}

void CBatchRenameDlg::AddPickedToken() {
    InsertTemplateToken(templatePick_);
}

void CBatchRenameDlg::ShowOptions() {
    picker_->setCurrentIndex(0);
    ShowOptionValues(logic_.Options());
    ShowHistory();
}

// Every option but the template and the picker.
void CBatchRenameDlg::ShowOptionValues(const RenameOptions& o) {
    case_->setCurrentIndex(static_cast<int>(o.caseMode));
    sortKey_->setCurrentIndex(static_cast<int>(o.sortKey));
    dateSource_->setCurrentIndex(static_cast<int>(o.dateSource));
    start_->setValue(o.startNumber);
    step_->setValue(o.increment);
    extension_->setText(ToQString(o.newExtension));
    find_->setText(ToQString(o.findText));
    replace_->setText(ToQString(o.replaceText));
    changeExtension_->setChecked(o.changeExtension);
    caseSensitive_->setChecked(o.caseSensitive);
    regex_->setChecked(o.regex);
    normalize_->setChecked(o.normalizeUnicode);
    descending_->setChecked(o.descending);
    extension_->setEnabled(o.changeExtension);
}

// The template history, its first entry as the template.
void CBatchRenameDlg::ShowHistory() {
    if (settings_ != nullptr) {
        for (const std::u16string& entry : ui::LoadHistory(*settings_)) {
            template_->addItem(ToQString(entry));
        }
    }
    if (template_->count() > 0) {
        template_->setCurrentIndex(0);
        template_->lineEdit()->selectAll();
    }
    logic_.Options().nameTemplate = ToU16(template_->currentText());
    previewTimer_.stop();  // filling the controls is not a change by the user
    MarkRegexProblem();
}

void CBatchRenameDlg::SetUpPresets() {
    PresetFile file = presetFile_ ? PresetFile(*presetFile_) : PresetFile::UserFile();
    presets_ = new PresetMenu(
        presetsButton_, std::move(file),
        [this] {
            GatherOptions();
            return logic_.Options();
        },
        [this](const RenameOptions& o) { ApplyPreset(o); });
}

void CBatchRenameDlg::ApplyPreset(const RenameOptions& options) {
    ShowOptionValues(options);
    template_->setEditText(ToQString(options.nameTemplate));
    PreviewNow();
}

void CBatchRenameDlg::MarkRegexProblem() {
    for (QLineEdit* field : {find_, replace_}) {
        field->setPalette(QPalette());
        field->setToolTip(QString());
        field->setProperty("regexError", false);
    }
    const std::optional<RegexError> problem = logic_.RegexProblem();
    if (!problem) return;
    QLineEdit* field = problem->field == RegexError::Field::kFind ? find_ : replace_;
    QPalette marked = field->palette();
    marked.setColor(QPalette::Base, QColor(255, 205, 205));
    field->setPalette(marked);
    field->setToolTip(RegexProblemText(*problem));
    field->setProperty("regexError", true);
}

QString CBatchRenameDlg::RegexProblemText(const RegexError& problem) {
    return (problem.field == RegexError::Field::kFind
                ? tr("The regular expression is not valid: %1 (at character %2).")
                : tr("The replacement does not fit the regular expression: %1 (at character %2)."))
        .arg(QString::fromStdString(problem.message))
        .arg(problem.offset + 1);
}

bool CBatchRenameDlg::RegexAllowsRename() {
    MarkRegexProblem();
    if (const std::optional<RegexError> problem = logic_.RegexProblem()) {
        QMessageBox::critical(this, tr("Trelvo Renamer"),
                              tr("Nothing can be renamed with this find and replace.") +
                                  QLatin1Char('\n') + RegexProblemText(*problem));
        find_->setFocus();
        return false;
    }
    RefreshPreview();
    if (!logic_.RegexStoppedRows().empty()) {
        QMessageBox::critical(this, tr("Trelvo Renamer"), RegexStoppedText());
        return false;
    }
    return true;
}

QString CBatchRenameDlg::RegexStoppedText() const {
    const std::vector<std::size_t>& rows = logic_.RegexStoppedRows();
    const RenameItem item = logic_.List().ItemAt(logic_.Rows().ItemAt(rows.front()));
    return tr("The regular expression took too long on %1 of the names, such as %2, and was "
              "stopped there. Nothing was renamed.")
        .arg(rows.size())
        .arg(ToQString(item.name));
}

void CBatchRenameDlg::RegisterLayout(const std::vector<Control>& table,
                                     const std::vector<QWidget*>& widgets) {
    layout_.SetInitialRect(Rect{0, 0, width(), height()});
    for (std::size_t i = 0; i < table.size(); ++i) {
        layout_.Add(std::make_unique<CWndLayout>(widgets[i], table[i].anchors, DockNone));
    }
}

// Files can be dropped anywhere on the window, not only on the list: on its
// background, frames, labels, buttons and fields alike (a field would
// otherwise take the paths as text). The list takes its own drops.
void CBatchRenameDlg::TakeDropsAnywhere() {
    setAcceptDrops(true);
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        if (child == list_ || list_->isAncestorOf(child)) continue;
        child->setAcceptDrops(true);
        child->installEventFilter(this);
    }
}

bool CBatchRenameDlg::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::Wheel:
            // Turning the wheel over the picker would insert a token per notch.
            return watched == picker_;
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (DroppedFileBytes(*drag->mimeData()).isEmpty()) return false;
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            const QList<QByteArray> paths = DroppedFileBytes(*drop->mimeData());
            if (paths.isEmpty()) return false;
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            AddDroppedPaths(paths);
            return true;
        }
        default:
            return QDialog::eventFilter(watched, event);
    }
}

void CBatchRenameDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (layout_.Count() > 0)
        layout_.Resize(Rect{0, 0, event->size().width(), event->size().height()});
}

void CBatchRenameDlg::ScheduleRefresh() {
    previewTimer_.start();  // restarting replaces the pending preview
}

void CBatchRenameDlg::PreviewNow() {
    previewTimer_.stop();
    GatherOptions();
    MarkRegexProblem();
    RefreshPreview();
}

void CBatchRenameDlg::GatherOptions() {
    OptionInputs in;
    in.templatePick = templatePick_;
    in.caseMode = case_->currentIndex();
    in.sortKey = sortKey_->currentIndex();
    in.dateSource = dateSource_->currentIndex();
    // The values, not the texts: a locale may write numbers in its own digits.
    const auto number = [](const QSpinBox* field) -> std::optional<std::int32_t> {
        if (!field->hasAcceptableInput()) return std::nullopt;
        return field->value();
    };
    in.startNumber = number(start_);
    in.increment = number(step_);
    in.nameTemplate = ToU16(template_->currentText());
    in.newExtension = ToU16(extension_->text());
    in.findText = ToU16(find_->text());
    in.replaceText = ToU16(replace_->text());
    in.changeExtension = changeExtension_->isChecked();
    in.caseSensitive = caseSensitive_->isChecked();
    in.regex = regex_->isChecked();
    in.normalizeUnicode = normalize_->isChecked();
    in.descending = descending_->isChecked();
    const BadField bad = logic_.GatherOptions(in);
    if (bad != BadField::kNone) {
        QApplication::beep();
        (bad == BadField::kStartNumber ? start_ : step_)->setFocus();
    }
}

void CBatchRenameDlg::RefreshPreview() {
    logic_.RefreshPreview();
    model_->NamesChanged();
    counts_->setText(RowMarks::CountLine(logic_.Counts(), logic_.Rows().Count()));
    copy_->setEnabled(logic_.HasRows());
    rename_->setEnabled(logic_.HasRows());
}

void CBatchRenameDlg::AfterRowsChanged(std::optional<std::uint32_t> focusItem) {
    model_->RowsChanged();
    SelectionToView(focusItem);
    RefreshPreview();
}

void CBatchRenameDlg::SortList() {
    GatherOptions();
    SelectionFromView();
    const QModelIndex current = list_->currentIndex();
    std::optional<std::uint32_t> focusItem;
    if (current.isValid())
        focusItem = logic_.Rows().ItemAt(static_cast<std::size_t>(current.row()));
    logic_.SortList();
    AfterRowsChanged(focusItem);
}

// The selection travels as ranges of adjacent rows: row by row, a selection
// of many rows would cost time that grows with the square of its size.
void CBatchRenameDlg::SelectionFromView() {
    logic_.Rows().ClearSelection();
    if (list_->selectionModel() == nullptr) return;
    for (const QItemSelectionRange& range : list_->selectionModel()->selection()) {
        if (!range.isValid()) continue;
        logic_.Rows().SelectRange(
            {static_cast<std::size_t>(range.top()), static_cast<std::size_t>(range.bottom())});
    }
}

void CBatchRenameDlg::SelectionToView(std::optional<std::uint32_t> focusItem) {
    QItemSelection selection;
    for (const RowOrder::Range& range : logic_.Rows().SelectedRanges()) {
        selection.append(QItemSelectionRange(model_->index(static_cast<int>(range.first), 0),
                                             model_->index(static_cast<int>(range.last), 2)));
    }
    QItemSelectionModel* view = list_->selectionModel();
    view->select(selection, QItemSelectionModel::ClearAndSelect);
    const std::optional<std::size_t> focusRow =
        focusItem ? logic_.Rows().RowOf(*focusItem) : std::nullopt;
    if (focusRow) {
        const QModelIndex focus = model_->index(static_cast<int>(*focusRow), 0);
        view->setCurrentIndex(focus, QItemSelectionModel::NoUpdate);
        list_->scrollTo(focus);
    } else if (!selection.isEmpty()) {
        list_->scrollTo(model_->index(selection.last().bottom(), 0));
    }
}

void CBatchRenameDlg::AddRows(const std::function<void()>& add,
                              BatchRenameLogic::SortAfterAdd sort) {
    logic_.Rows().ClearSelection();
    const std::size_t before = logic_.List().Count();
    add();
    if (logic_.FinishAdding(before, sort)) {
        AfterRowsChanged(static_cast<std::uint32_t>(logic_.List().Count() - 1));
    }
}

void CBatchRenameDlg::AddPaths(const std::vector<std::u16string>& paths) {
    AddRows(
        [&] {
            for (const std::u16string& path : paths)
                logic_.AddFile(path);
        },
        BatchRenameLogic::SortAfterAdd::kWhenListWasEmpty);
}

void CBatchRenameDlg::AddStartPaths(const std::vector<StartPath>& paths) {
    AddRows(
        [&] {
            for (const StartPath& start : paths) {
                if (start.isFolder) {
                    logic_.AddFolder(start.path);
                } else {
                    logic_.AddFile(start.path);
                }
            }
        },
        BatchRenameLogic::SortAfterAdd::kAlways);
}

void CBatchRenameDlg::AddFilesCommand() {
    const QStringList files =
        QFileDialog::getOpenFileNames(this, tr("Add Files"), QString(), tr("All Files (*)"));
    std::vector<std::u16string> paths;
    for (const QString& file : files) {
        for (std::u16string& path : PathsOnDisk(file))
            paths.push_back(std::move(path));
    }
    if (!paths.empty()) AddPaths(paths);
}

void CBatchRenameDlg::AddFolderCommand() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Add all files under the selected folder."), QString(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    AddRows(
        [&] {
            for (const std::u16string& path : PathsOnDisk(folder))
                logic_.AddFolder(path);
        },
        BatchRenameLogic::SortAfterAdd::kAlways);
}

void CBatchRenameDlg::AddFolder(const std::u16string& folder) {
    AddRows([&] { logic_.AddFolder(folder); }, BatchRenameLogic::SortAfterAdd::kAlways);
}

void CBatchRenameDlg::AddDroppedPaths(const QList<QByteArray>& dropped) {
    std::vector<std::u16string> paths;
    for (const QByteArray& bytes : dropped)
        paths.push_back(DecodeFileName(bytes.toStdString()));
    AddPaths(paths);  // dropped folders are single items
}

void CBatchRenameDlg::MoveSelectionUp() {
    SelectionFromView();
    logic_.Rows().MoveSelectionUp();
    list_->setFocus();
    AfterRowsChanged();
}

void CBatchRenameDlg::MoveSelectionDown() {
    SelectionFromView();
    logic_.Rows().MoveSelectionDown();
    list_->setFocus();
    AfterRowsChanged();
}

void CBatchRenameDlg::DropRows(int target) {
    SelectionFromView();
    if (!logic_.Rows().DropSelectionBefore(static_cast<std::size_t>(target))) return;
    AfterRowsChanged();
}

void CBatchRenameDlg::InsertTemplateToken(int pick) {
    QString token;
    if (pick == 1) {
        CNameRangeDlg range(ToQString(logic_.NameForRange()), this);
        if (range.exec() != QDialog::Accepted) return;
        token = ToQString(
            BatchRenameLogic::NameRangeToken(ToU16(range.Start()), ToU16(range.Length())));
    } else {
        token = ToQString(BatchRenameLogic::TemplateToken(pick));
    }
    if (token.isEmpty()) return;
    // Replaces the selection of the template field, or goes in at the caret;
    // the focus stays where the pick was made.
    template_->lineEdit()->insert(token);
}

void CBatchRenameDlg::CopyNewNames() {
    if (QMessageBox::information(
            this, tr("Trelvo Renamer"), tr("Copy the new name to the clipboard."),
            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) != QMessageBox::Ok) {
        return;
    }
    QApplication::clipboard()->setText(ToQString(logic_.ClipboardText()));
}

void CBatchRenameDlg::OpenHelpPage() {
    QDesktopServices::openUrl(QUrl(HelpPageAddress()));
}

void CBatchRenameDlg::SaveSettings() {
    if (settings_ == nullptr) return;
    std::vector<std::u16string> entries;
    for (int i = 0; i < template_->count(); ++i)
        entries.push_back(ToU16(template_->itemText(i)));
    ui::SaveSettings(*settings_, logic_.Options(), entries);
}

CBatchRenameDlg::RunEnd CBatchRenameDlg::RunRename(QString& details) {
    // A run that cannot keep its journal does not start.
    std::vector<std::size_t> regexStopped;
    RenameJobs jobs =
        BuildRenameJobs(logic_.List(), logic_.Rows().Rows(), logic_.Options(), logic_.Registry(),
                        &regexStopped, &logic_.Dates());
    if (!regexStopped.empty()) {
        details = tr("The regular expression took too long on some names and was stopped.");
        return RunEnd::kNotStarted;
    }
    PreparedRun prepared = PrepareJournaledRun(std::move(jobs));
    if (!prepared.ready) {
        details = QString::fromStdString(prepared.error);
        return RunEnd::kNotStarted;
    }
    RenameRun& run = prepared.ready->run;
    const RunJournal& journal = prepared.ready->journal;
    if (!run.Start()) return RunEnd::kNotStarted;
    FollowRun(run);
    details = FailureDetails(run, journal);
    lastKeptRun_ = KeptRunId(journal.KeptPath());
    if (run.Outcome() == RenameOutcome::kRenamed && journal.Unfinished()) {
        QMessageBox box(QMessageBox::Warning, tr("Trelvo Renamer"),
                        tr("The files were renamed, but the record of the run could not be "
                           "closed. Remove it before the next start, or the next start puts the "
                           "old names back."),
                        QMessageBox::Ok, this);
        box.setDetailedText(QString::fromStdString(journal.Path()) + QLatin1Char('\n') + details);
        box.exec();
    }
    switch (run.Outcome()) {
        case RenameOutcome::kRenamed:
            return RunEnd::kRenamed;
        case RenameOutcome::kTargetExists:
            return RunEnd::kTargetExists;
        case RenameOutcome::kRolledBack:
            break;
    }
    return RunEnd::kFailed;
}

void CBatchRenameDlg::FollowRun(RenameRun& run) {
    runActive_ = true;
    {
        CProgressDlg progress(tr("Trelvo Renamer"), tr("Renaming..."), run.Progress(), this);
        // The run is modal, also while its dialog is still hidden; the
        // window is not drawn disabled for it.
        const WindowInputGuard modal(*this);
        progress.Run();
    }
    run.Join();
    runActive_ = false;
}

QString CBatchRenameDlg::FailureDetails(const RenameRun& run, const RunJournal& journal) {
    // The file that could not move and why, or the journal that could not
    // be closed, for the details of the message.
    QStringList lines;
    for (const RenameJob& job : run.Jobs()) {
        if (job.error != 0) {
            lines << QStringLiteral("%1 \u2192 %2: %3")
                         .arg(ToQString(DecodeFileName(job.oldPath)),
                              ToQString(DecodeFileName(job.newPath)),
                              QString::fromStdString(MoveFailureText(job.error)));
        }
    }
    if (!journal.Error().empty()) lines << QString::fromStdString(journal.Error());
    return lines.join(QLatin1Char('\n'));
}

void CBatchRenameDlg::OnCloseRequest() {
    if (runActive_) {
        closeHeld_ = true;
        return;
    }
    EndForCloseRequest();
}

void CBatchRenameDlg::EndForCloseRequest() {
    // Message boxes and dialogs of this window go first, as if cancelled;
    // whatever command opened them then finds the window ended.
    for (int open = 0; open < 8; ++open) {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (modal == nullptr || modal == this) break;
        modal->reject();
    }
    done(QDialog::Rejected);
}

void CBatchRenameDlg::OnAddPath(const std::u16string& path, bool isFolder) {
    if (renameCommand_) {
        heldPaths_.push_back({path, isFolder});
        return;
    }
    AddHandedPath(path, isFolder);
}

void CBatchRenameDlg::AddHandedPath(const std::u16string& path, bool isFolder) {
    if (path.empty() || !FileExists(path)) return;
    AddStartPaths({{path, isFolder}});
}

void CBatchRenameDlg::OnRename() {
    // Paths handed over from here on would be renamed unseen, or change the
    // list under the worker: they wait for the end of the command.
    renameCommand_ = true;
    const auto addHeldPaths = qScopeGuard([this] {
        renameCommand_ = false;
        std::vector<StartPath> held = std::move(heldPaths_);
        heldPaths_.clear();
        const bool prompt = std::exchange(updatePromptHeld_, false);
        if (!isVisible()) return;  // the window has ended
        for (const StartPath& h : held)
            AddHandedPath(h.path, h.isFolder);
        if (prompt) checker_->PromptUpdate();
    });
    if (QMessageBox::question(
            this, tr("Trelvo Renamer"), tr("Do you want to rename all files to the new name?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes) {
        return;
    }
    GatherOptions();
    if (!RegexAllowsRename()) return;
    // The rows as the disk is now: a run that is sure to fail does not start.
    RefreshPreview();
    if (!logic_.ProblemRows(1).empty()) {
        QMessageBox refused(QMessageBox::Critical, tr("Trelvo Renamer"),
                            tr("Some files cannot be renamed to their new names. Change the "
                               "names of the marked rows first."),
                            QMessageBox::Ok, this);
        refused.setInformativeText(RowMarks::ProblemList(logic_));
        refused.exec();
        return;
    }
    if (!logic_.AnythingToRename()) {
        QMessageBox::information(this, tr("Trelvo Renamer"),
                                 tr("There is nothing to rename: every new name is the old one."));
        return;
    }
    SaveSettings();
    QString details;
    const RunEnd end = RunRename(details);
    if (closeHeld_) {
        closeHeld_ = false;
        EndForCloseRequest();
        return;
    }
    switch (end) {
        case RunEnd::kRenamed:
            OfferRestart();
            return;
        case RunEnd::kTargetExists:
            QMessageBox::critical(
                this, tr("Trelvo Renamer"),
                tr("There is already a file with the same name in this location."));
            return;
        case RunEnd::kFailed:
        case RunEnd::kNotStarted:
            break;
    }
    QMessageBox failed(QMessageBox::Critical, tr("Trelvo Renamer"),
                       tr("Unable to rename the file."), QMessageBox::Ok, this);
    if (!details.isEmpty()) failed.setDetailedText(details);
    failed.exec();
    // Nothing was tried when the run could not start: the list stays for
    // another go.
    if (end == RunEnd::kFailed) done(QDialog::Accepted);
}

void CBatchRenameDlg::OfferRestart() {
    for (;;) {
        CRenameCompleteDlg complete(this, lastKeptRun_ != 0);
        const int answer = complete.exec();
        if (answer == CRenameCompleteDlg::kUndo) {
            const bool undone = UndoRun(lastKeptRun_);
            if (closeHeld_) {
                closeHeld_ = false;
                EndForCloseRequest();
                return;
            }
            // The rows hold the old paths: after the undo they show the
            // files as before the rename, for another go.
            if (undone) return;
            continue;
        }
        if (answer == CRenameCompleteDlg::kRestart) {
            logic_.Restart();
            AfterRowsChanged();
            return;
        }
        done(QDialog::Accepted);
        return;
    }
}

}  // namespace morix::ui
