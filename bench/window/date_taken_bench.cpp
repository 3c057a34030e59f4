// The main window naming 10,000 camera JPEGs by the date they were taken:
// adding their folder until the preview is shown (every file's EXIF read
// once, on all cores), then the cost of one template change, which reads no
// file's metadata again. The files are 3 MB each, as a camera's are, with a
// maker note and a thumbnail in their EXIF; their picture data is a hole in
// the file, so they take no room on disk. Prints its figures.
//
//   QT_QPA_PLATFORM=offscreen build/bench/date_taken_bench
#include <time.h>
#include <unistd.h>
#include <QApplication>
#include <QComboBox>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "support/media_samples.h"
#include "support/temp_dir.h"
#include "ui/qt/batch_rename_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Processor time of all the process's threads, in ms: on a busy machine the
// wall-clock figures grow, this one much less.
double CpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Figure {
    double wall;
    double cpu;
};

constexpr int kFiles = 10000;
constexpr off_t kFileSize = 3 * 1024 * 1024;

void MakeCameraFolder(const morix::testing::TempDir& dir) {
    const std::string first = dir.Path("IMG_0000.JPG");
    morix::testing::WriteJpeg(first,
                              {{"Exif.Image.Make", "Canon"},
                               {"Exif.Image.Model", "Canon EOS 5D Mark IV"},
                               {"Exif.Image.Orientation", "1"},
                               {"Exif.Image.XResolution", "72/1"},
                               {"Exif.Image.YResolution", "72/1"},
                               {"Exif.Photo.ExposureTime", "1/250"},
                               {"Exif.Photo.FNumber", "56/10"},
                               {"Exif.Photo.ISOSpeedRatings", "400"},
                               {"Exif.Photo.FocalLength", "50/1"},
                               {"Exif.Photo.DateTimeOriginal", "2023:07:14 10:00:00"},
                               {"Exif.Canon.OwnerName", "Ann"},
                               {"Exif.Canon.FirmwareVersion", "Firmware Version 1.1.2"},
                               {"Exif.Canon.ModelID", "2147484417"},
                               {"Exif.Canon.SerialNumber", "123456789"},
                               {"Exif.CanonCs.Macro", "2"},
                               {"Exif.CanonCs.Quality", "4"},
                               {"Exif.CanonSi.ISOSpeed", "160"},
                               {"Exif.CanonFi.FileNumber", "1000001"}},
                              12000);
    const std::string header = morix::testing::ReadBytes(first);
    for (int i = 0; i < kFiles; ++i) {
        // Each photo a second later than the one before, so names differ.
        std::string bytes = header;
        char date[20];
        std::snprintf(date, sizeof date, "2023:07:14 %02d:%02d:%02d", 10 + i / 3600, i / 60 % 60,
                      i % 60);
        const std::size_t at = bytes.find("2023:07:14 10:00:00");
        bytes.replace(at, 19, date);
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", (i * 7919) % kFiles);
        const std::string path = dir.Path(name);
        morix::testing::WriteBytes(path, bytes);
        if (::truncate(path.c_str(), kFileSize) != 0) std::perror("truncate");
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    morix::testing::TempDir dir;
    MakeCameraFolder(dir);

    const auto addFolder = [&](morix::ui::CBatchRenameDlg& dialog) {
        dialog.DateSourceCombo()->setCurrentIndex(1);  // date taken
        dialog.TemplateCombo()->setEditText(QStringLiteral("<YYYYMMDD_HHmmss>"));
        dialog.PreviewNow();
        dialog.Logic().Options().sortKey = morix::SortKey::kModifiedTime;
        const double cpu = CpuMs();
        const Clock::time_point start = Clock::now();
        dialog.AddFolder(dir.u16());
        QApplication::processEvents();  // the list paints its first rows
        return Figure{Ms(Clock::now() - start), CpuMs() - cpu};
    };
    {
        // The first reading brings the files' headers into the page cache.
        morix::ui::CBatchRenameDlg warmUp(nullptr);
        addFolder(warmUp);
    }
    morix::ui::CBatchRenameDlg dialog(nullptr);
    dialog.show();
    QApplication::processEvents();
    const Figure add = addFolder(dialog);
    const QString firstName = dialog.PreviewList()->model()->index(0, 1).data().toString();

    std::vector<double> passes;
    std::vector<double> passesCpu;
    const char* templates[] = {"<YYYYMMDD_HHmmss>_", "<YYYYMMDD_HHmmss>_#", "<YYYY-MM-DD>_#",
                               "<YYYY-MM-DD>_##",    "Trip <YYYY>_##",      "Trip <YYYY>_###"};
    for (const char* text : templates) {
        dialog.TemplateCombo()->setEditText(QString::fromLatin1(text));
        const double cpu = CpuMs();
        const Clock::time_point start = Clock::now();
        dialog.PreviewNow();  // what the 300 ms timer does after a keystroke
        QApplication::processEvents();
        passes.push_back(Ms(Clock::now() - start));
        passesCpu.push_back(CpuMs() - cpu);
    }
    std::sort(passes.begin(), passes.end());
    std::sort(passesCpu.begin(), passesCpu.end());
    std::printf("files: %d camera JPEGs of %lld bytes (maker note, thumbnail), warm page cache\n",
                kFiles, static_cast<long long>(kFileSize));
    std::printf("first row: %s\n", firstName.toUtf8().constData());
    std::printf("add folder (sort by date taken) until preview shown: %.1f ms (processor time of "
                "all threads %.1f ms)\n",
                add.wall, add.cpu);
    std::printf(
        "template change (preview pass + model update + paint): median %.1f ms, max %.1f ms "
        "(processor time median %.1f ms)\n",
        passes[passes.size() / 2], passes.back(), passesCpu[passesCpu.size() / 2]);
    return 0;
}
