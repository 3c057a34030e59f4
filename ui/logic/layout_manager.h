// A small layout library: entries registered with anchors or a docking mode
// are moved and stretched when their container is resized. It places plain
// rectangles; a view supplies an entry type that maps a rectangle onto one of
// its widgets.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace morix::ui {

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

enum Anchor : std::uint16_t {
    AnchorTop = 1,
    AnchorLeft = 2,
    AnchorRight = 4,
    AnchorBottom = 8,
};

enum Dock : std::uint16_t {
    DockNone = 0,
    DockTop = 1,
    DockLeft = 2,
    DockRight = 3,
    DockBottom = 4,
    DockFill = 5,
};

// One laid-out entry.
class CLayout {
  public:
    CLayout(const Rect& initial, std::uint16_t anchors, std::uint16_t mode)
        : initial_(initial), anchors_(anchors), mode_(mode) {}
    virtual ~CLayout() = default;

    // The entry's current place in its container's coordinates.
    virtual Rect GetBounds() const = 0;
    virtual void MoveTo(const Rect& rect) = 0;

    const Rect& Initial() const { return initial_; }
    std::uint16_t Anchors() const { return anchors_; }
    std::uint16_t Mode() const { return mode_; }

  protected:
    void SetInitial(const Rect& initial) { initial_ = initial; }

  private:
    Rect initial_;
    std::uint16_t anchors_;
    std::uint16_t mode_;
};

// The container: its entries in registration order.
class CLayoutManager {
  public:
    CLayoutManager() = default;
    explicit CLayoutManager(const Rect& initial) : initial_(initial), current_(initial) {}
    virtual ~CLayoutManager() = default;

    // The container's rectangle at the time the entries are registered.
    void SetInitialRect(const Rect& rect) {
        initial_ = rect;
        current_ = rect;
    }
    void SetMargins(const Rect& margins) { margins_ = margins; }
    void Add(std::unique_ptr<CLayout> entry) { entries_.push_back(std::move(entry)); }

    // Lays out every entry for the container's new rectangle.
    void Resize(const Rect& rect);

    const Rect& Current() const { return current_; }
    std::size_t Count() const { return entries_.size(); }

  private:
    std::vector<std::unique_ptr<CLayout>> entries_;
    Rect initial_;
    Rect current_;
    Rect margins_;  // insets of the free area: left, top, right, bottom
};

// An entry that is itself a container of entries.
class CPanel : public CLayout, public CLayoutManager {
  public:
    CPanel(const Rect& rect, std::uint16_t anchors, std::uint16_t mode)
        : CLayout(rect, anchors, mode), CLayoutManager(rect), bounds_(rect) {}

    Rect GetBounds() const override { return bounds_; }
    void MoveTo(const Rect& rect) override {
        bounds_ = rect;
        Resize(rect);
    }

  private:
    Rect bounds_;
};

// An entry that only records where it was put (for containers whose children
// are not widgets, and for tests).
class CRectLayout : public CLayout {
  public:
    CRectLayout(const Rect& rect, std::uint16_t anchors, std::uint16_t mode)
        : CLayout(rect, anchors, mode), bounds_(rect) {}
    Rect GetBounds() const override { return bounds_; }
    void MoveTo(const Rect& rect) override { bounds_ = rect; }

  private:
    Rect bounds_;
};

}  // namespace morix::ui
