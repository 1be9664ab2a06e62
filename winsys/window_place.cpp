// SPDX-License-Identifier: GPL-3.0-or-later
#include "window_place.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
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

namespace {

bool on_x11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

xcb_connection_t* x11_connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t frame_extents_atom(xcb_connection_t* c) {
  static const xcb_atom_t atom = [c] {
    static constexpr char name[] = "_NET_FRAME_EXTENTS";
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, false, sizeof name - 1, name), nullptr);
    const xcb_atom_t a = r != nullptr ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
  }();
  return atom;
}

// On X11 the frame is known once the window manager has published it in the window's
// _NET_FRAME_EXTENTS. What the toolkit reports before that is guessed from the window tree,
// which the window manager may still be building: KWin reparents the window into a 1 x 1 frame
// first, whose "margins" are negative, and the client's place in it is not its place on the
// screen.
std::optional<QMargins> x11_frame_extents(const QWidget& w) {
  QWindow* window = w.windowHandle();
  xcb_connection_t* c = x11_connection();
  if (window == nullptr || window->handle() == nullptr || c == nullptr) return std::nullopt;
  const xcb_atom_t atom = frame_extents_atom(c);
  if (atom == XCB_ATOM_NONE) return std::nullopt;
  xcb_get_property_reply_t* r = xcb_get_property_reply(
      c, xcb_get_property(c, false, xcb_window_t(window->winId()), atom, XCB_ATOM_CARDINAL, 0, 4),
      nullptr);
  std::optional<QMargins> extents;
  if (r != nullptr && r->type == XCB_ATOM_CARDINAL && r->format == 32 &&
      xcb_get_property_value_length(r) == 4 * sizeof(uint32_t)) {
    // Left, right, top, bottom, in the X server's pixels.
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r));
    const auto px = [dpr = window->devicePixelRatio()](uint32_t n) {
      return qRound(std::min<uint32_t>(n, QWIDGETSIZE_MAX) / dpr);
    };
    extents = QMargins(px(v[0]), px(v[2]), px(v[1]), px(v[3]));
  }
  std::free(r);
  return extents;
}

// The frame around the client area, when known. Elsewhere than on X11 the toolkit knows it once
// it differs from the client area (on Wayland it draws the frame itself).
std::optional<QMargins> known_frame(const QWidget& w) {
  if (on_x11()) return x11_frame_extents(w);
  const QRect f = w.frameGeometry(), g = w.geometry();
  if (f == g) return std::nullopt;
  return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                  f.bottom() - g.bottom());
}

screen_rect outer_rect(const QWidget& w) {
  const QRect r = w.geometry().marginsAdded(known_frame(w).value_or(QMargins()));
  return screen_rect{r.left(), r.top(), r.width(), r.height()};
}

// Moves the frame's top-left corner to P. Before the window is created QWidget::move takes P as
// the frame's place; after, the client area goes where the known frame puts it (with no frame
// known, to P itself).
void move_frame_to(QWidget& w, QPoint p) {
  if (!on_x11() || !w.testAttribute(Qt::WA_WState_Created)) {
    w.move(p);
    return;
  }
  const QMargins frame = known_frame(w).value_or(QMargins());
  w.setGeometry(QRect(p + QPoint(frame.left(), frame.top()), w.size()));
}

// An outer place asked for before the window manager framed the window: the client area took
// the whole size. Once the frame is known, in one step, the frame gets its share of the size
// and its corner goes back to the place asked for (a resize alone would send the window
// system the client's place as the toolkit last heard it, which may be one the window manager
// had it at only while framing it). Without a window manager no frame comes and nothing
// changes.
class frame_keeper : public QObject, public QAbstractNativeEventFilter {
 public:
  static void want(QWidget& w, const screen_rect& outer) {
    for (QObject* child : w.children()) {
      if (auto* keeper = dynamic_cast<frame_keeper*>(child)) {
        keeper->outer = outer;
        return;
      }
    }
    new frame_keeper(w, outer);
  }
  ~frame_keeper() override {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
  }

 protected:
  // X11: the window manager publishes the frame's extents as a property of the window.
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "xcb_generic_event_t" || !window || window->windowHandle() == nullptr ||
        window->windowHandle()->handle() == nullptr) {
      return false;
    }
    const auto* e = static_cast<const xcb_generic_event_t*>(message);
    if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
    const auto* p = static_cast<const xcb_property_notify_event_t*>(message);
    if (p->window == xcb_window_t(window->windowHandle()->winId()) &&
        p->atom == frame_extents_atom(x11_connection()) && p->state == XCB_PROPERTY_NEW_VALUE) {
      QMetaObject::invokeMethod(this, &frame_keeper::apply, Qt::QueuedConnection);
    }
    return false;
  }
  // Elsewhere the frame becomes known with the first move, resize or paint after mapping (on
  // Wayland the window never learns a place to move to).
  bool eventFilter(QObject* watched, QEvent* e) override {
    const auto t = e->type();
    if (watched == window && (t == QEvent::Move || t == QEvent::Resize || t == QEvent::Paint) &&
        known_frame(*window)) {
      window->removeEventFilter(this);
      QMetaObject::invokeMethod(this, &frame_keeper::apply, Qt::QueuedConnection);
    }
    return false;
  }

 private:
  frame_keeper(QWidget& w, const screen_rect& outer) : QObject(&w), window(&w), outer(outer) {
    if (on_x11()) {
      QCoreApplication::instance()->installNativeEventFilter(this);
    } else {
      w.installEventFilter(this);
    }
  }
  void apply() {
    const std::optional<QMargins> frame = window ? known_frame(*window) : std::nullopt;
    if (!frame) return;
    const QRect wanted(outer.left, outer.top, outer.width, outer.height);
    if (on_x11()) {
      window->setGeometry(wanted.marginsRemoved(*frame));
    } else {
      window->resize(wanted.size().shrunkBy(*frame));
    }
    deleteLater();
  }

  QPointer<QWidget> window;
  screen_rect outer;
};

// A created X11 window that is not mapped yet: the window manager frames it only once it is
// mapped, and QWidget::move alone would take the place for the client area, so the frame would
// be counted twice. The widget takes size and place first, then the window's own frame position
// (at the same place, so showing the window keeps it) has it mapped with north-west gravity:
// the window manager puts the frame's corner there. A later resize or move before mapping would
// undo that, so the place is set last and in one step.
bool frame_comes_later(const QWidget& w) {
  return on_x11() && !w.testAttribute(Qt::WA_Mapped) && w.windowHandle() != nullptr &&
         w.windowHandle()->handle() != nullptr && !known_frame(w);
}

}  // namespace

int32_t window_top(const QWidget& w) { return outer_rect(w).top; }
int32_t window_left(const QWidget& w) { return outer_rect(w).left; }
int32_t window_height(const QWidget& w) { return outer_rect(w).height; }
int32_t window_width(const QWidget& w) { return outer_rect(w).width; }

bool window_places_are_ours() {
  return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void set_outer_place(QWidget& w, const screen_rect& outer, bool with_size) {
  const screen_rect r{representable_coordinate(outer.left), representable_coordinate(outer.top),
                      representable_size(outer.width), representable_size(outer.height)};
  if (frame_comes_later(w)) {
    if (with_size) {
      w.resize(r.width, r.height);
      frame_keeper::want(w, r);
    }
    w.move(r.left, r.top);
    w.windowHandle()->setFramePosition(QPoint(r.left, r.top));
    return;
  }
  if (with_size) {
    const std::optional<QMargins> frame = known_frame(w);
    w.resize(QSize(r.width, r.height).shrunkBy(frame.value_or(QMargins())));
    if (!frame && !w.testAttribute(Qt::WA_Mapped)) frame_keeper::want(w, r);
  }
  move_frame_to(w, QPoint(r.left, r.top));
}

screen_rect kept_on_work_area(const QWidget& w, const screen_rect& window) {
  // First what the window can take: coordinates the toolkit can compute with, a size within
  // the window's minimum and maximum (the frame's share counted as far as it is known now).
  const QMargins known = known_frame(w).value_or(QMargins());
  const QSize frame(known.left() + known.right(), known.top() + known.bottom());
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
  // Hidden and shown again, a window is mapped anew: its frame goes back where it was. The
  // toolkit's own frame serves here, as the one it had the last time the window moved: once the
  // window is hidden, the window manager may have taken its published frame away.
  class keeper : public QObject {
   public:
    explicit keeper(QWidget& w) : QObject(&w), window(w) { w.installEventFilter(this); }

   protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
      if (watched != &window || e->spontaneous()) return false;
      if (e->type() == QEvent::Hide && window.frameGeometry() != window.geometry()) {
        place = window.frameGeometry().topLeft();
      } else if (e->type() == QEvent::Show && place) {
        window.move(*place);
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

}  // namespace murmelin
