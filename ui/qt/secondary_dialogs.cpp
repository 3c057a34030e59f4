#include "ui/qt/secondary_dialogs.h"

#include <QEventLoop>
#include <QFile>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>

#include "base/program_files.h"
#include "engine/rename_run.h"
#include "ui/qt/dialog_units.h"
#include "update/update_checker.h"

namespace morix::ui {

QString HelpPageAddress() {
    // Korean when the user interface is Korean, else English.
    const QString language = QString::fromStdU16String(UiLanguageCode());
    // The vendor's pages only at a web address, as every address the program
    // opens; any other root is ignored.
    const QString web = QString::fromUtf8(qgetenv("TRELVO_HELP_ROOT")) + language +
                        QStringLiteral("/morix/1.0/help");
    if (IsWebAddress(web.toStdU16String())) return web;
    const QString pages = QFile::decodeName(ProgramFilesFolder(ProgramFiles::kData).c_str());
    return QUrl::fromLocalFile(pages + QStringLiteral("/help/") + language +
                               QStringLiteral(".html"))
        .toString();
}

CNameRangeDlg::CNameRangeDlg(const QString& name, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Name Range Selection"));
    const DialogUnits du(font());
    setFixedSize(du.X(267), du.Y(65));
    (new QLabel(tr("Name:"), this))->setGeometry(du.Rect(7, 9, 27, 10));
    name_ = new QLineEdit(name, this);
    name_->setReadOnly(true);
    name_->setGeometry(du.Rect(39, 7, 221, 12));
    name_->setFocusPolicy(Qt::ClickFocus);
    (new QLabel(tr("Start Position:"), this))->setGeometry(du.Rect(45, 26, 51, 10));
    startEdit_ = new QLineEdit(this);
    startEdit_->setValidator(new QIntValidator(0, INT32_MAX, startEdit_));
    startEdit_->setGeometry(du.Rect(101, 24, 35, 14));
    (new QLabel(tr("Length:"), this))->setGeometry(du.Rect(149, 26, 30, 10));
    lengthEdit_ = new QLineEdit(this);
    lengthEdit_->setValidator(new QIntValidator(0, INT32_MAX, lengthEdit_));
    lengthEdit_->setGeometry(du.Rect(184, 24, 35, 14));
    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setGeometry(du.Rect(156, 44, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    cancel->setGeometry(du.Rect(210, 44, 50, 14));
    connect(ok, &QPushButton::clicked, this, [this] {
        start_ = startEdit_->text();
        length_ = lengthEdit_->text();
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(&selectionPoll_, &QTimer::timeout, this, &CNameRangeDlg::FollowNameSelection);
    selectionPoll_.start(100);
    startEdit_->setFocus();
}

void CNameRangeDlg::FollowNameSelection() {
    if (!name_->hasFocus() || !name_->hasSelectedText()) return;
    const int s = name_->selectionStart();
    const int e = s + static_cast<int>(name_->selectedText().size());
    if (s == lastStart_ && e == lastEnd_) return;
    lastStart_ = s;
    lastEnd_ = e;
    startEdit_->setText(QString::number(s));
    lengthEdit_->setText(QString::number(e - s));
}

CProgressDlg::CProgressDlg(const QString& title, const QString& message, RenameProgress& progress,
                           QWidget* parent)
    : QDialog(parent), progress_(progress) {
    setWindowTitle(title);
    const DialogUnits du(font());
    setFixedSize(du.X(269), du.Y(79));
    (new QLabel(message, this))->setGeometry(du.Rect(18, 16, 233, 16));
    bar_ = new QProgressBar(this);
    bar_->setGeometry(du.Rect(18, 41, 233, 10));
    bar_->setTextVisible(false);
    // A full 32-bit range: runs of any length show true progress.
    bar_->setRange(progress_.GetMin(), std::max(progress_.GetMin(), progress_.GetMax()));
    bar_->setValue(progress_.GetMin());
    auto* cancel = new QPushButton(tr("&Cancel"), this);
    cancel->setGeometry(du.Rect(201, 58, 50, 14));
    cancel->setEnabled(progress_.CanCancel());
    connect(&poll_, &QTimer::timeout, this, &CProgressDlg::Poll);
}

int CProgressDlg::Run() {
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::exit);
    // A run that ends within a second never shows the dialog.
    QTimer::singleShot(1000, this, [this] {
        if (!progress_.IsFinished()) open();
    });
    poll_.start(100);
    return loop.exec();
}

void CProgressDlg::Poll() {
    bar_->setValue(progress_.GetPos());
    if (progress_.IsFinished()) {
        poll_.stop();
        done(progress_.IsCancelled() ? 2 : 1);
    }
}

CRenameCompleteDlg::CRenameCompleteDlg(QWidget* parent, bool canUndo) : QDialog(parent) {
    setWindowTitle(tr("Complete"));
    const DialogUnits du(font());
    setFixedSize(du.X(181), du.Y(62));
    auto* text = new QLabel(tr("Rename files was completed."), this);
    text->setAlignment(Qt::AlignCenter);
    text->setGeometry(du.Rect(7, 14, 167, 10));
    restart_ = new QPushButton(tr("&Restart"), this);
    restart_->setGeometry(du.Rect(58, 41, 62, 14));
    auto* quit = new QPushButton(tr("&Quit"), this);
    quit->setGeometry(du.Rect(124, 41, 50, 14));
    quit->setDefault(true);
    quit->setFocus();
    connect(restart_, &QPushButton::clicked, this, [this] { done(kRestart); });
    connect(quit, &QPushButton::clicked, this, [this] { done(kQuit); });
    if (canUndo) {
        auto* undo = new QPushButton(tr("&Undo"), this);
        undo->setGeometry(du.Rect(7, 41, 47, 14));
        connect(undo, &QPushButton::clicked, this, [this] { done(kUndo); });
        QWidget::setTabOrder(undo, restart_);
    }
}

void CRenameCompleteDlg::paintEvent(QPaintEvent*) {
    // A white area above a band in the window colour that centres the buttons.
    const QRect client = rect();
    const QRect button = restart_->geometry();
    const int band = 2 * client.height() - button.top() - (button.bottom() + 1);
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, client.width(), client.height() - band), Qt::white);
    painter.fillRect(QRect(0, client.height() - band, client.width(), band),
                     palette().color(QPalette::Window));
}

}  // namespace morix::ui
