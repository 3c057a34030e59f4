#include "ui/qt/chosen_paths.h"

#include <sys/stat.h>

#include <QFile>
#include <QMimeData>
#include <QUrl>

#include "engine/text.h"
#include "os/dir_stream.h"

namespace morix::ui {
namespace {

bool ExistsOnDisk(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The byte paths on disk that read as path; empty when none does.
std::vector<std::string> MatchOnDisk(const QString& path) {
    const std::string exact = QFile::encodeName(path).toStdString();
    if (ExistsOnDisk(exact)) return {exact};
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) return {};
    const QString name = path.mid(slash + 1);
    if (name.isEmpty()) return {};
    const std::vector<std::string> folders =
        slash == 0 ? std::vector<std::string>{"/"} : MatchOnDisk(path.left(slash));
    std::vector<std::string> matches;
    for (const std::string& folder : folders) {
        DirStream dir(folder);
        while (const dirent* entry = dir.Next()) {
            if (QFile::decodeName(entry->d_name) == name) {
                matches.push_back(folder + (folder.back() == '/' ? "" : "/") + entry->d_name);
            }
        }
    }
    return matches;
}

}  // namespace

QList<QByteArray> DroppedFileBytes(const QMimeData& data) {
    QList<QByteArray> paths;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) continue;
        const QByteArray bytes =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!bytes.isEmpty()) paths << bytes;
    }
    return paths;
}

std::vector<std::u16string> PathsOnDisk(const QString& chosen) {
    std::vector<std::string> matches = MatchOnDisk(chosen);
    if (matches.empty()) matches.push_back(QFile::encodeName(chosen).toStdString());
    std::vector<std::u16string> paths;
    for (const std::string& bytes : matches)
        paths.push_back(DecodeFileName(bytes));
    return paths;
}

}  // namespace morix::ui
