// The layout of the main window's controls as the window is resized.
#include "ui/logic/layout_manager.h"

#include <gtest/gtest.h>

namespace morix::ui {
namespace {

// A manager over plain rectangles, keeping pointers to look at the results.
struct Board {
    CLayoutManager manager{Rect{0, 0, 600, 400}};
    std::vector<CRectLayout*> entries;

    CRectLayout* Add(Rect r, std::uint16_t anchors, std::uint16_t mode = DockNone) {
        auto entry = std::make_unique<CRectLayout>(r, anchors, mode);
        entries.push_back(entry.get());
        manager.Add(std::move(entry));
        return entries.back();
    }
};

Rect Moved(Rect r, int dx, int dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

TEST(LayoutManager, AnchorsMoveStretchOrCentre) {
    Board b;
    const Rect button{400, 350, 480, 370};
    const Rect arrow{10, 350, 40, 370};
    const Rect list{10, 200, 590, 340};
    const Rect addFiles{400, 180, 480, 195};
    const Rect group{10, 10, 300, 60};
    const Rect startRow{100, 40, 140, 55};
    CRectLayout* rename = b.Add(button, AnchorRight | AnchorBottom);
    CRectLayout* up = b.Add(arrow, AnchorLeft | AnchorBottom);
    CRectLayout* preview = b.Add(list, AnchorTop | AnchorLeft | AnchorRight | AnchorBottom);
    CRectLayout* add = b.Add(addFiles, AnchorTop | AnchorRight);
    CRectLayout* name = b.Add(group, AnchorTop | AnchorLeft | AnchorRight);
    CRectLayout* start = b.Add(startRow, AnchorTop);

    b.manager.Resize({0, 0, 700, 460});  // 100 wider, 60 taller
    EXPECT_EQ(rename->GetBounds(), Moved(button, 100, 60));
    EXPECT_EQ(up->GetBounds(), Moved(arrow, 0, 60));
    EXPECT_EQ(preview->GetBounds(), (Rect{10, 200, 690, 400}));
    EXPECT_EQ(add->GetBounds(), Moved(addFiles, 100, 0));
    EXPECT_EQ(name->GetBounds(), (Rect{10, 10, 400, 60}));
    EXPECT_EQ(start->GetBounds(), Moved(startRow, 50, 0));

    b.manager.Resize({0, 0, 675, 400});  // an odd growth: half rounds toward zero
    EXPECT_EQ(start->GetBounds(), Moved(startRow, 37, 0));

    b.manager.Resize({0, 0, 580, 390});  // smaller than at first: negative growth
    EXPECT_EQ(start->GetBounds(), Moved(startRow, -10, 0));
    EXPECT_EQ(rename->GetBounds(), Moved(button, -20, -10));

    b.manager.Resize({0, 0, 600, 400});  // back: every entry exactly where it began
    EXPECT_EQ(rename->GetBounds(), button);
    EXPECT_EQ(preview->GetBounds(), list);
    EXPECT_EQ(start->GetBounds(), startRow);
}

TEST(LayoutManager, DockedEntriesShareTheFreeArea) {
    CLayoutManager manager(Rect{0, 0, 200, 100});
    manager.SetMargins({5, 5, 5, 5});
    auto panel = std::make_unique<CPanel>(Rect{0, 0, 200, 30}, 0, DockTop);
    auto inner =
        std::make_unique<CRectLayout>(Rect{150, 5, 190, 25}, AnchorTop | AnchorRight, DockNone);
    CRectLayout* innerPtr = inner.get();
    panel->Add(std::move(inner));
    CPanel* panelPtr = panel.get();
    manager.Add(std::move(panel));
    auto left = std::make_unique<CRectLayout>(Rect{0, 0, 20, 10}, 0, DockLeft);
    CRectLayout* leftPtr = left.get();
    manager.Add(std::move(left));
    auto fill = std::make_unique<CRectLayout>(Rect{0, 0, 1, 1}, 0, DockFill);
    CRectLayout* fillPtr = fill.get();
    manager.Add(std::move(fill));

    manager.Resize({0, 0, 300, 150});
    EXPECT_EQ(panelPtr->GetBounds(), (Rect{5, 5, 295, 35}));
    // The panel grew by 90 and moved by 5: its right-anchored child follows.
    EXPECT_EQ(innerPtr->GetBounds(), (Rect{245, 10, 285, 30}));
    EXPECT_EQ(leftPtr->GetBounds(), (Rect{5, 35, 25, 145}));
    EXPECT_EQ(fillPtr->GetBounds(), (Rect{25, 35, 295, 145}));
}

}  // namespace
}  // namespace morix::ui
