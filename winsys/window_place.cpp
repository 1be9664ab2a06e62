// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_place.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <optional>

#include "checked_int.h"

namespace murmelin {

namespace {

// The toolkit computes with a window's edges in plain int: a place beyond the largest window
// size it takes would make those sums overflow, so such a place is brought to that bound
// first. The desktop lies well inside, so the desktop rule gives the same result.
int32_t representable_coordinate(int32_t v) {
  return std::clamp<int32_t>(v, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}
int32_t representable_size(int32_t v) { return std::clamp<int32_t>(v, 0, QWIDGETSIZE_MAX); }

}  // namespace

screen_rect kept_on_desktop(screen_rect w, const screen_rect& d) {
  const int32_t right = checked_add(d.left, d.width);
  const int32_t bottom = checked_add(d.top, d.height);
  if (w.left > checked_sub(right, 50)) w.left = checked_sub(right, 50);
  if (w.top > checked_sub(bottom, 100)) w.top = checked_sub(bottom, 100);
  if (checked_add(w.top, w.height) < checked_add(d.top, 50)) w.top = d.top;
  if (checked_add(w.left, w.width) < checked_add(d.left, 100))
    w.left = checked_add(checked_sub(d.left, w.width), 100);
  return w;
}

screen_rect desktop_rect() {
  QRect all;
  for (const QScreen* s : QGuiApplication::screens()) all |= s->geometry();
  return screen_rect{all.left(), all.top(), all.width(), all.height()};
}

// A window's frame is known only once the window system has framed it; before that the frame
// adds nothing to the client area.
int32_t window_top(const QWidget& w) { return w.frameGeometry().top(); }
int32_t window_left(const QWidget& w) { return w.frameGeometry().left(); }
int32_t window_height(const QWidget& w) { return w.frameGeometry().height(); }
int32_t window_width(const QWidget& w) { return w.frameGeometry().width(); }

namespace {

bool frame_known(const QWidget& w) { return w.frameGeometry() != w.geometry(); }

// Moves the frame's top-left corner to P: with the frame known, or before the window is
// created, QWidget::move takes P as the frame's place.
void move_frame_to(QWidget& w, QPoint p) { w.move(p); }

// An outer size asked for before the window manager framed the window: the client area got the
// whole size; once the frame is known it gives the frame's share back, once. Without a window
// manager no frame comes and nothing changes.
class outer_size_keeper : public QObject {
 public:
  outer_size_keeper(QWidget& w, QSize outer) : QObject(&w), window(&w), outer(outer) {
    w.installEventFilter(this);
  }
  static void want(QWidget& w, QSize outer) {
    for (QObject* child : w.children()) {
      if (auto* keeper = dynamic_cast<outer_size_keeper*>(child)) {
        keeper->outer = outer;
        return;
      }
    }
    new outer_size_keeper(w, outer);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    // The frame becomes known with the first move, resize or paint after mapping (on Wayland
    // the toolkit draws it itself, and the window never learns a place to move to).
    const auto t = e->type();
    if (watched == window && (t == QEvent::Move || t == QEvent::Resize || t == QEvent::Paint) &&
        frame_known(*window)) {
      const QSize frame = window->frameGeometry().size() - window->size();
      window->removeEventFilter(this);
      QMetaObject::invokeMethod(
          window, [w = window, size = outer - frame] { if (w) w->resize(size); },
          Qt::QueuedConnection);
      deleteLater();
    }
    return false;
  }

 private:
  QPointer<QWidget> window;
  QSize outer;
};

void resize_outer(QWidget& w, int32_t width, int32_t height) {
  const QSize frame = w.frameGeometry().size() - w.size();
  w.resize(QSize(width, height) - frame);
  if (!frame_known(w) && !w.testAttribute(Qt::WA_Mapped)) outer_size_keeper::want(w, QSize(width, height));
}

// A created X11 window that is not mapped yet: the window manager frames it only once it is
// mapped, and QWidget::move alone would take the place for the client area, so the frame would
// be counted twice. The widget takes size and place first, then the window's own frame position
// (at the same place, so showing the window keeps it) has it mapped with north-west gravity:
// the window manager puts the frame's corner there. A later resize or move before mapping would
// undo that, so the place is set last and in one step.
bool frame_comes_later(const QWidget& w) {
  return !frame_known(w) && !w.testAttribute(Qt::WA_Mapped) && w.windowHandle() != nullptr &&
         w.windowHandle()->handle() != nullptr &&
         QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace

void set_window_top(QWidget& w, int32_t value) {
  value = representable_coordinate(value);
  if (value != window_top(w)) move_frame_to(w, QPoint(window_left(w), value));
}

void set_window_left(QWidget& w, int32_t value) {
  value = representable_coordinate(value);
  if (value != window_left(w)) move_frame_to(w, QPoint(value, window_top(w)));
}

// The outer size minus what the frame adds gives the client size that resize() takes.
void set_window_height(QWidget& w, int32_t value) {
  value = representable_size(value);
  if (value != window_height(w)) resize_outer(w, window_width(w), value);
}

void set_window_width(QWidget& w, int32_t value) {
  value = representable_size(value);
  if (value != window_width(w)) resize_outer(w, value, window_height(w));
}

bool window_places_are_ours() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void set_outer_place(QWidget& w, const screen_rect& outer, bool with_size) {
  const screen_rect r{representable_coordinate(outer.left), representable_coordinate(outer.top),
                      representable_size(outer.width), representable_size(outer.height)};
  if (frame_comes_later(w)) {
    if (with_size) {
      w.resize(r.width, r.height);
      outer_size_keeper::want(w, QSize(r.width, r.height));
    }
    w.move(r.left, r.top);
    w.windowHandle()->setFramePosition(QPoint(r.left, r.top));
    return;
  }
  if (with_size) resize_outer(w, r.width, r.height);
  move_frame_to(w, QPoint(r.left, r.top));
}

screen_rect kept_on_work_area(const QWidget& w, const screen_rect& window) {
  // First what the window can take: coordinates the toolkit can compute with, a size within
  // the window's minimum and maximum (the frame's share counted as the window has it now).
  const QSize frame = w.frameGeometry().size() - w.size();
  const auto outer = [](int32_t v, int limit, int share) {
    return std::clamp<int64_t>(v, int64_t(limit) + share,
                               std::min<int64_t>(int64_t(QWIDGETSIZE_MAX), int64_t(INT32_MAX)));
  };
  screen_rect r{representable_coordinate(window.left), representable_coordinate(window.top),
                static_cast<int32_t>(outer(window.width, w.minimumWidth(), frame.width())),
                static_cast<int32_t>(outer(window.height, w.minimumHeight(), frame.height()))};
  r.width = std::min<int32_t>(r.width, representable_size(w.maximumWidth() + frame.width()));
  r.height = std::min<int32_t>(r.height, representable_size(w.maximumHeight() + frame.height()));
  screen_rect kept = kept_on_desktop(r, desktop_rect());
  // The title bar is what the user takes a window by: its top edge stays inside the work area.
  QRect work;
  for (const QScreen* s : QGuiApplication::screens()) work |= s->availableGeometry();
  if (!work.isEmpty() && kept.top < work.top()) kept.top = work.top();
  return kept;
}

void keep_place_across_shows(QWidget& w) {
  // Hidden and shown again, a window is mapped anew: its frame goes back where it was.
  class keeper : public QObject {
   public:
    explicit keeper(QWidget& w) : QObject(&w), window(w) { w.installEventFilter(this); }

   protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
      if (watched != &window || e->spontaneous()) return false;
      if (e->type() == QEvent::Hide && frame_known(window)) {
        place = window.frameGeometry().topLeft();
      } else if (e->type() == QEvent::Show && place) {
        move_frame_to(window, *place);
        place.reset();
      }
      return false;
    }

   private:
    QWidget& window;
    std::optional<QPoint> place;
  };
  new keeper(w);
}

void keep_on_desktop(QWidget* form) {
  if (form == nullptr) return;
  const screen_rect now{window_left(*form), window_top(*form), window_width(*form),
                        window_height(*form)};
  const screen_rect kept = kept_on_work_area(*form, now);
  if (kept != now) set_outer_place(*form, kept, false);
}

}  // namespace murmelin
