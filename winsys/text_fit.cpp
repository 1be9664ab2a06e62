// SPDX-License-Identifier: GPL-3.0-or-later
#include "text_fit.h"

#include <QLayout>

#include <cstdlib>
#include <map>

namespace murmelin {

described_place described(QWidget* control, QRect place) {
  control->ensurePolished();  // a style sheet's font is the control's once it is polished
  const QFontMetrics fm = control->fontMetrics();
  described_place p{control, place, QSize(fm.averageCharWidth(), fm.height())};
  if (qobject_cast<QGroupBox*>(control) != nullptr) p.title_line = fm.height();
  return p;
}

std::vector<described_place> described_places(std::initializer_list<QWidget*> controls) {
  std::vector<described_place> places;
  for (QWidget* w : controls) places.push_back(described(w, w->geometry()));
  return places;
}

namespace {

bool placed_by_layout(const QWidget& w) {
  const QWidget* parent = w.parentWidget();
  return parent != nullptr && parent->layout() != nullptr && parent->layout()->indexOf(&w) >= 0;
}

enum class kind { text, field, fixed };

// A control along one axis: where it was described, the part of the other axis it covers
// (controls that share some of it face each other), and the room its text needs.
struct span {
  int from;
  int to;
  int across_from;
  int across_to;
  int need;
  kind what;
};

struct placed_axis {
  std::vector<std::pair<int, int>> spans;
  int size;
};

// Places the spans along one axis as fit_places describes; start is where the container's
// contents begin now, against 0 as described.
placed_axis place_axis(const std::vector<span>& spans, int described, int start, bool stretch_fields) {
  enum class anchor { near, centre, far };
  const std::size_t n = spans.size();
  std::vector<anchor> anchors(n, anchor::near);
  for (std::size_t i = 0; i < n; ++i) {
    if (spans[i].what != kind::fixed) continue;
    const int before = spans[i].from;
    const int after = described - spans[i].to;
    if (std::abs(before - after) <= 1) anchors[i] = anchor::centre;
    else if (after < before) anchors[i] = anchor::far;
  }
  const auto flows = [&](std::size_t i) { return anchors[i] == anchor::near; };

  // The edges as lines, each at its described place until something pushes it on.
  std::map<int, int> line{{0, start}, {described, described}};
  struct push {
    int from;
    int to;
    int by;
  };
  std::vector<push> pushes;
  for (std::size_t i = 0; i < n; ++i) {
    if (!flows(i)) continue;
    const span& s = spans[i];
    line.try_emplace(s.from, s.from);
    line.try_emplace(s.to, s.to);
    if (s.from >= 0) pushes.push_back({0, s.from, s.from});
    pushes.push_back({s.from, s.to, std::max(s.to - s.from, s.need)});
    if (s.to <= described) pushes.push_back({s.to, described, std::min(described - s.to, edge_margin)});
    for (std::size_t j = 0; j < n; ++j) {
      const span& t = spans[j];
      const bool facing = std::max(s.across_from, t.across_from) < std::min(s.across_to, t.across_to);
      if (j != i && flows(j) && facing && s.to <= t.from) pushes.push_back({s.to, t.from, t.from - s.to});
    }
  }
  // Every push runs from a line to a later one, so one pass in order settles them all.
  for (auto& [at, value] : line) {
    for (const push& p : pushes) {
      if (p.to == at && p.from < at) value = std::max(value, line.at(p.from) + p.by);
    }
  }

  placed_axis out{{}, line[described]};
  for (std::size_t i = 0; i < n; ++i) {
    const span& s = spans[i];
    const int width = s.to - s.from;
    const int margin = described - s.to;
    if (anchors[i] == anchor::centre) {
      const int from = (out.size - width) / 2;
      out.spans.emplace_back(from, from + width);
    } else if (anchors[i] == anchor::far) {
      out.spans.emplace_back(out.size - margin - width, out.size - margin);
    } else {
      int from = line[s.from];
      int to = line[s.to];
      const int shift = out.size - margin - to;
      if (s.what != kind::fixed && margin >= 0 && margin <= edge_margin && shift > 0) {
        if (s.what != kind::field || !stretch_fields) from += shift;
        to += shift;
      }
      out.spans.emplace_back(from, to);
    }
  }
  return out;
}

bool listed(const std::vector<described_place>& places, const QWidget* w) {
  for (const described_place& p : places) {
    if (p.control == w) return true;
  }
  return false;
}

// Fits the controls of one level: those whose parent is parent, or, for the first level, all
// those whose parent is not in the list.
QSize fit_level(const std::vector<described_place>& places, const QWidget* parent, QSize described,
                int start_y) {
  std::vector<const described_place*> level;
  for (const described_place& p : places) {
    const QWidget* up = p.control->parentWidget();
    if (parent != nullptr ? up == parent : !listed(places, up)) level.push_back(&p);
  }
  const std::size_t n = level.size();

  // What each control's contents and text need, its contents fitted first.
  std::vector<QSize> inner(n, QSize(0, 0));
  std::vector<kind> kinds(n, kind::text);
  // The room the text needs, and at least the described size grown as the font has grown.
  const auto room = [&](std::size_t i) {
    const described_place& p = *level[i];
    if (p.control->isHidden()) return QSize(0, 0);
    QSize r = text_room(*p.control);
    if (r == QSize(0, 0) && p.least == QSize(0, 0) && inner[i] == QSize(0, 0)) return r;
    if (r.width() > 0) r.rwidth() += 2 * p.padding;
    if (p.unit.width() > 0 && p.unit.height() > 0) {
      const QFontMetrics fm = p.control->fontMetrics();
      r = r.expandedTo({p.place.width() * fm.averageCharWidth() / p.unit.width(),
                        p.place.height() * fm.height() / p.unit.height()});
    }
    return r.expandedTo(p.least).expandedTo(inner[i]);
  };
  for (std::size_t i = 0; i < n; ++i) {
    const described_place& p = *level[i];
    bool container = false;
    for (const described_place& q : places) container = container || q.control->parentWidget() == p.control;
    if (container) {
      const int grown = p.title_line > 0 ? std::max(0, p.control->fontMetrics().height() - p.title_line) : 0;
      inner[i] = fit_level(places, p.control, p.place.size(), grown);
    }
  }
  // Across first: a label that wraps needs its height at the width it gets.
  std::vector<span> xs;
  for (std::size_t i = 0; i < n; ++i) {
    const described_place& p = *level[i];
    const QSize need = room(i);
    const QSize text = p.control->isHidden() ? QSize(0, 0) : text_room(*p.control);
    if (!p.control->isHidden() && need == QSize(0, 0)) kinds[i] = kind::fixed;
    else if (text.width() == 0 && text.height() > 0) kinds[i] = kind::field;
    const QRect& r = p.place;
    xs.push_back({r.x(), r.x() + r.width(), r.y(), r.y() + r.height(), need.width(), kinds[i]});
  }
  const placed_axis x = place_axis(xs, described.width(), 0, true);
  for (std::size_t i = 0; i < n; ++i) {
    QWidget& c = *level[i]->control;
    const QRect& r = level[i]->place;
    if (!placed_by_layout(c)) c.setGeometry(x.spans[i].first, r.y(), x.spans[i].second - x.spans[i].first, r.height());
  }

  std::vector<span> ys;
  for (std::size_t i = 0; i < n; ++i) {
    const QRect& r = level[i]->place;
    ys.push_back({r.y(), r.y() + r.height(), r.x(), r.x() + r.width(), room(i).height(), kinds[i]});
  }
  const placed_axis y = place_axis(ys, described.height(), start_y, false);
  for (std::size_t i = 0; i < n; ++i) {
    QWidget& c = *level[i]->control;
    const QRect at(QPoint(x.spans[i].first, y.spans[i].first), QPoint(x.spans[i].second - 1, y.spans[i].second - 1));
    if (!placed_by_layout(c)) c.setGeometry(at);
    else if (c.size() != at.size() || c.minimumSize() != c.maximumSize()) c.setFixedSize(at.size());
  }
  return {x.size, y.size};
}

}  // namespace

QSize fit_places(const std::vector<described_place>& places, QSize described_size) {
  // Measured at the described places: a push button's frame and a wrapped label's lines
  // depend on its size.
  for (const described_place& p : places) {
    if (!placed_by_layout(*p.control)) p.control->setGeometry(p.place);
  }
  return fit_level(places, nullptr, described_size, 0);
}

}  // namespace murmelin
