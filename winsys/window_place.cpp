#include "window_place.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <algorithm>

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

void set_window_top(QWidget& w, int32_t value) {
  value = representable_coordinate(value);
  if (value != window_top(w)) w.move(window_left(w), value);
}

void set_window_left(QWidget& w, int32_t value) {
  value = representable_coordinate(value);
  if (value != window_left(w)) w.move(value, window_top(w));
}

// The outer size minus what the frame adds gives the client size that resize() takes.
void set_window_height(QWidget& w, int32_t value) {
  value = representable_size(value);
  const int32_t frame = checked_sub(window_height(w), w.height());
  if (value != window_height(w)) w.resize(w.width(), checked_sub(value, frame));
}

void set_window_width(QWidget& w, int32_t value) {
  value = representable_size(value);
  const int32_t frame = checked_sub(window_width(w), w.width());
  if (value != window_width(w)) w.resize(checked_sub(value, frame), w.height());
}

void keep_on_desktop(QWidget* form) {
  if (form == nullptr) return;
  const screen_rect now{window_left(*form), window_top(*form), window_width(*form),
                        window_height(*form)};
  const screen_rect kept = kept_on_desktop(now, desktop_rect());
  set_window_top(*form, kept.top);
  set_window_left(*form, kept.left);
}

}  // namespace murmelin
