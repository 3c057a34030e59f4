#include "popup/color_key.h"

#include <algorithm>
#include <vector>

namespace tosk {

QRegion OpaqueRegion(const QImage& image, QRgb key) {
    const QImage pixels = image.convertToFormat(QImage::Format_RGB32);
    const QRgb wanted = key | 0xFF000000u;
    std::vector<QRect> runs;
    std::vector<QRect> row;
    std::size_t band = 0;  // first rectangle of the last band
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        row.clear();
        int x = 0;
        while (x < pixels.width()) {
            while (x < pixels.width() && line[x] == wanted)
                ++x;
            const int start = x;
            while (x < pixels.width() && line[x] != wanted)
                ++x;
            if (x > start) row.emplace_back(start, y, x - start, 1);
        }
        // A row like the one above makes the band above one pixel taller.
        const bool same = !runs.empty() && runs.size() - band == row.size() &&
                          runs.back().bottom() == y - 1 &&
                          std::equal(row.begin(), row.end(), runs.begin() + band,
                                     [](const QRect& a, const QRect& b) {
                                         return a.left() == b.left() && a.width() == b.width();
                                     });
        if (same) {
            for (std::size_t i = band; i < runs.size(); ++i)
                runs[i].setHeight(runs[i].height() + 1);
        } else if (!row.empty()) {
            band = runs.size();
            runs.insert(runs.end(), row.begin(), row.end());
        }
    }
    QRegion region;
    // Bands from top to bottom, runs from left to right: the order setRects expects.
    if (!runs.empty()) region.setRects(runs.data(), static_cast<int>(runs.size()));
    return region;
}

}  // namespace tosk
