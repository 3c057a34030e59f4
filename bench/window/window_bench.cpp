// The main window with 100,000 rows: adding a folder until the preview is
// shown, the cost of one template change (preview pass with the check of
// every row against the disk, plus model update) on the user-interface
// thread, and of the check alone; moving and sorting a selection of all rows
// but one (target: each command at most 100 ms). Then a start with 5,000
// paths named on the command line, until the preview shows. Prints its
// figures.
//
//   QT_QPA_PLATFORM=offscreen build/bench/window/window_bench
#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "engine/preview.h"
#include "engine/row_check.h"
#include "engine/text.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_rename_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Processor time of the process, all threads: what a step costs whatever
// else the machine runs (the wall-clock figures grow with the machine's load).
double CpuMs() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// How long one command of the window takes until its result is painted.
template <typename Command>
double TimeCommand(Command command) {
    const Clock::time_point start = Clock::now();
    command();
    QApplication::processEvents();
    return Ms(Clock::now() - start);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    constexpr int kFiles = 100000;
    morix::testing::TempDir dir("/dev/shm");
    for (int i = 0; i < kFiles; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "IMG_%06d holiday.JPG", (i * 7919) % kFiles);
        dir.MakeFile(name);
    }

    morix::ui::CBatchRenameDlg dialog(nullptr);
    dialog.show();
    QApplication::processEvents();

    const Clock::time_point addStart = Clock::now();
    dialog.AddFolder(dir.u16());
    QApplication::processEvents();  // the list paints its first rows
    const double addMs = Ms(Clock::now() - addStart);

    std::vector<double> passes;
    std::vector<double> passesCpu;
    const char* templates[] = {"a", "ab", "abc", "abc_#", "abc_##", "<N>_###", "<N>-x", "<ND>"};
    for (const char* text : templates) {
        dialog.TemplateCombo()->setEditText(QString::fromLatin1(text));
        const Clock::time_point start = Clock::now();
        const double cpuStart = CpuMs();
        dialog.PreviewNow();  // what the 300 ms timer does after a keystroke
        QApplication::processEvents();
        passes.push_back(Ms(Clock::now() - start));
        passesCpu.push_back(CpuMs() - cpuStart);
    }
    std::sort(passes.begin(), passes.end());
    std::sort(passesCpu.begin(), passesCpu.end());

    // The check of the rows of the last pass against the folder, alone, with
    // the folder's listing kept between passes as the window keeps it.
    std::vector<double> checks;
    std::vector<double> checksCpu;
    const morix::ui::BatchRenameLogic& logic = dialog.Logic();
    morix::NameList names;
    for (std::size_t r = 0; r < logic.Rows().Count(); ++r) names.push_back(logic.NewNameAt(r));
    morix::RealFileSystem fs;
    morix::FolderListings listings;
    for (int i = 0; i < 8; ++i) {
        const Clock::time_point start = Clock::now();
        const double cpuStart = CpuMs();
        const auto states = morix::CheckPreviewRows(fs, logic.List(), logic.Rows().Rows(), names, &listings);
        checks.push_back(Ms(Clock::now() - start));
        checksCpu.push_back(CpuMs() - cpuStart);
        if (states.size() != static_cast<std::size_t>(kFiles)) return 1;
    }
    std::sort(checks.begin(), checks.end());
    std::sort(checksCpu.begin(), checksCpu.end());
    // The new names alone, as a pass computed them before rows were checked.
    std::vector<double> namesOnly;
    morix::NameRegistry registry;
    for (int i = 0; i < 8; ++i) {
        const Clock::time_point start = Clock::now();
        morix::ComputeNewNames(logic.List(), logic.Rows().Rows(), logic.Options(), registry, names);
        namesOnly.push_back(Ms(Clock::now() - start));
    }
    std::sort(namesOnly.begin(), namesOnly.end());
    std::printf("rows: %d\n", kFiles);
    std::printf("add folder until preview shown: %.1f ms\n", addMs);
    std::printf(
        "template change (preview pass + model update + paint): median %.1f ms, max %.1f ms\n",
        passes[passes.size() / 2], passes.back());
    std::printf("  (processor time, all threads: median %.1f ms)\n", passesCpu[passesCpu.size() / 2]);
    std::printf("of which the check of every row against the disk: median %.1f ms, max %.1f ms\n",
                checks[checks.size() / 2], checks.back());
    std::printf("  (processor time of the check, all threads: median %.1f ms)\n",
                checksCpu[checksCpu.size() / 2]);
    std::printf("and the new names alone: median %.1f ms, max %.1f ms\n",
                namesOnly[namesOnly.size() / 2], namesOnly.back());

    // All rows but the first selected, as with Shift+End from the second row.
    QTableView* list = dialog.PreviewList();
    QAbstractItemModel* model = list->model();
    list->selectionModel()->select(QItemSelection(model->index(1, 0), model->index(kFiles - 1, 2)),
                                   QItemSelectionModel::ClearAndSelect);
    std::printf("selection of %d rows (target: each at most 100 ms):\n", kFiles - 1);
    std::printf("  down, at the bottom already: %.1f ms\n",
                TimeCommand([&] { dialog.MoveSelectionDown(); }));
    std::printf("  down again: %.1f ms\n", TimeCommand([&] { dialog.MoveSelectionDown(); }));
    std::printf("  sort: %.1f ms\n", TimeCommand([&] { dialog.SortList(); }));
    std::printf("  up: %.1f ms\n", TimeCommand([&] { dialog.MoveSelectionUp(); }));

    // A file manager hands the window 5,000 selected files; with a date in
    // the template every name also asks the file system.
    constexpr int kStartPaths = 5000;
    std::vector<morix::ui::StartPath> start;
    for (int i = 0; i < kStartPaths; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "IMG_%06d holiday.JPG", (i * 7919) % kFiles);
        start.push_back({morix::DecodeFileName(dir.Path(name)), false});
    }
    const Clock::time_point startedAt = Clock::now();
    {
        morix::ui::CBatchRenameDlg started(nullptr);
        started.TemplateCombo()->setEditText(QStringLiteral("<YYYYMMDD>_###"));
        started.PreviewNow();
        const int passesBefore = started.PreviewPasses();
        started.AddStartPaths(start);
        started.show();
        QApplication::processEvents();
        std::printf(
            "start with %d paths until the preview shows (template <YYYYMMDD>_###): "
            "%.1f ms, %d name pass(es)\n",
            kStartPaths, Ms(Clock::now() - startedAt), started.PreviewPasses() - passesBefore);
    }
    return 0;
}
