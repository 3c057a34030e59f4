// The small dialogs of the main window: picking a part of a name, following
// a rename run, and the end of a run.
#pragma once

#include <QDialog>
#include <QTimer>

class QLineEdit;
class QProgressBar;

namespace morix {
class RenameProgress;
}

namespace morix::ui {

// The address of the help page in the user-interface language: the vendor
// site when TRELVO_HELP_ROOT names one, else the page installed with the
// program (found relative to the program, as its build folder has it too).
QString HelpPageAddress();

// Selecting part of the name fills its start and length.
class CNameRangeDlg : public QDialog {
    Q_OBJECT

  public:
    CNameRangeDlg(const QString& name, QWidget* parent);
    QString Start() const { return start_; }
    QString Length() const { return length_; }

  private:
    void FollowNameSelection();

    QLineEdit* name_ = nullptr;
    QLineEdit* startEdit_ = nullptr;
    QLineEdit* lengthEdit_ = nullptr;
    QString start_;
    QString length_;
    int lastStart_ = 0;
    int lastEnd_ = 0;
    QTimer selectionPoll_;  // copies the selection of the name into the fields
};

// Follows a run ten times a second; shown only once the run has taken a
// second, and ended only by the run.
class CProgressDlg : public QDialog {
    Q_OBJECT

  public:
    CProgressDlg(const QString& title, const QString& message, RenameProgress& progress,
                 QWidget* parent);

    // Runs until the job has finished: 1 normally, 2 when it was cancelled.
    // The caller keeps its own window from taking input meanwhile.
    int Run();

  protected:
    void reject() override {}  // Esc and the close box cannot stop a run

  private:
    void Poll();

    RenameProgress& progress_;
    QProgressBar* bar_ = nullptr;
    QTimer poll_;
};

// "Restart" or "Quit" (the default) after a successful run; "Undo" where
// the run was kept so that it can be taken back.
class CRenameCompleteDlg : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kRestart = 1;
    static constexpr int kQuit = 2;
    static constexpr int kUndo = 3;
    explicit CRenameCompleteDlg(QWidget* parent, bool canUndo = false);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    class QPushButton* restart_ = nullptr;
};

}  // namespace morix::ui
