// Paths that reach the window through Qt, as the file system's own bytes. Qt
// carries names as text, so a name that is not valid UTF-8 loses its bytes
// on the way; these functions find them again.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <string>
#include <vector>

class QMimeData;

namespace morix::ui {

// The local files of a drop, taken from the URLs' percent-encoded bytes
// rather than their decoded text.
QList<QByteArray> DroppedFileBytes(const QMimeData& data);

// The paths on disk that a path chosen in a file dialog stands for. A path
// that exists as Qt encodes it is itself; otherwise each folder on the way is
// read and its names decoded as Qt decodes them, and every name that reads
// the same is taken (names that differ only in bytes Qt cannot decode look
// alike to the user too). A path that matches nothing stays as Qt gave it.
std::vector<std::u16string> PathsOnDisk(const QString& chosen);

}  // namespace morix::ui
