#include "ui/logic/layout_manager.h"

namespace morix::ui {
namespace {

// Moves one axis of an anchored entry: both anchors stretch it, the far one
// alone moves it, neither keeps it centred (half the growth).
void Follow(int& nearEdge, int& farEdge, bool nearAnchor, bool farAnchor, int grow) {
    if (nearAnchor && farAnchor) {
        farEdge += grow;
    } else if (farAnchor) {
        nearEdge += grow;
        farEdge += grow;
    } else if (!nearAnchor) {
        nearEdge += grow / 2;
        farEdge += grow / 2;
    }
}

}  // namespace

void CLayoutManager::Resize(const Rect& r) {
    current_ = r;
    const int dx = r.left - initial_.left;
    const int dy = r.top - initial_.top;
    const int growW = r.Width() - initial_.Width();
    const int growH = r.Height() - initial_.Height();
    Rect free{r.left + margins_.left, r.top + margins_.top, r.right - margins_.right,
              r.bottom - margins_.bottom};

    for (const std::unique_ptr<CLayout>& entry : entries_) {
        const Rect& e = entry->Initial();
        Rect target;
        switch (entry->Mode()) {
            case DockTop:
                target = {free.left, free.top, free.right, free.top + e.Height()};
                break;
            case DockLeft:
                target = {free.left, free.top, free.left + e.Width(), free.bottom};
                break;
            case DockRight:
                target = {free.right - e.Width(), free.top, free.right, free.bottom};
                break;
            case DockBottom:
                target = {free.left, free.bottom - e.Height(), free.right, free.bottom};
                break;
            case DockFill:
                target = free;
                break;
            default: {
                target = {e.left + dx, e.top + dy, e.right + dx, e.bottom + dy};
                const std::uint16_t a = entry->Anchors();
                Follow(target.top, target.bottom, a & AnchorTop, a & AnchorBottom, growH);
                Follow(target.left, target.right, a & AnchorLeft, a & AnchorRight, growW);
                break;
            }
        }
        entry->MoveTo(target);
        // Docked entries take their room out of the free area as they really
        // took it.
        const Rect b = entry->GetBounds();
        switch (entry->Mode()) {
            case DockTop:
                free.top = b.bottom;
                break;
            case DockLeft:
                free.left = b.right;
                break;
            case DockRight:
                free.right = b.left;
                break;
            case DockBottom:
                free.bottom = b.top;
                break;
            case DockFill:
                free.top = b.bottom;
                free.left = b.right;
                break;
            default:
                break;
        }
    }
}

}  // namespace morix::ui
