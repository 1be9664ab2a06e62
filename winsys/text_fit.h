// SPDX-License-Identifier: GPL-3.0-or-later
// What a control needs so that its text shows whole in the control's own font. The windows
// keep the places and sizes they are described with and grow a control, and themselves, only
// where one of these sizes is larger.
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStyle>
#include <QStyleOption>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <vector>

namespace murmelin {

// A control's place as its window was built: the windows grow from these places to fit their
// texts, and come back to them.
struct described_place {
  QWidget* control;
  // In the control's parent, as built.
  QRect place;
  // The control's font as built: its average character width and its line height. A
  // control grows at least as its font does, so a window in a larger font keeps its
  // proportions.
  QSize unit{0, 0};
  // A group box's title line as built; its contents move down by what the line grows.
  int title_line = 0;
  // Room the control needs whatever its text is now (for a label that shows several texts).
  QSize least{0, 0};
  // Room kept on either side of its text.
  int padding = 0;
};

// The control at place, in the font it has now.
described_place described(QWidget* control, QRect place);
// The controls at their present places.
std::vector<described_place> described_places(std::initializer_list<QWidget*> controls);

// Gives every control the room its text needs, starting from the described places, and returns
// the room they need together in their window, described as described_size. The places are
// the controls of one window: the controls of the first level share one parent, and a control
// may be the parent of others in the list, which are fitted inside it first.
//
// A control grows right and down. Growing, it pushes the controls beyond it that face it
// (that share part of its rows for a push to the right, part of its columns for a push
// down), keeping the gaps described between them; edges that were one line stay one line,
// so columns and rows stay aligned. The window's edge keeps the described margin, or
// edge_margin where more was described. Near the far edge (within edge_margin), a text field
// stretches across and other controls move along as the window widens; a control without
// text keeps its size and its anchoring: centred where it was centred, at the far edge where
// it was nearer that. A hidden control keeps its place and size. A control that a Qt layout
// places gets its size; the layout places it.
QSize fit_places(const std::vector<described_place>& places, QSize described_size);
constexpr int edge_margin = 10;

// For an event filter on a window's controls: after a font or style change of a control, runs
// fit from the event loop, once the change is through (a control takes in its new font after
// the filter has seen the change). Changes in a row give one run; posted keeps that state.
inline void refit_after_change(QObject& window, const QEvent& e, bool& posted,
                               std::function<void()> fit) {
  if ((e.type() != QEvent::FontChange && e.type() != QEvent::StyleChange) || posted) return;
  posted = true;
  QMetaObject::invokeMethod(
      &window,
      [&posted, fit = std::move(fit)] {
        posted = false;
        fit();
      },
      Qt::QueuedConnection);
}

// The text as drawn: "&x" marks an accelerator and draws as "x", "&&" draws as "&".
inline QString without_mnemonic(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QChar(u'&') && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// A label: its text on one line, or, when it wraps, its text wrapped at its present width.
inline QSize label_room(const QLabel& l) {
  if (l.wordWrap()) return {l.width(), std::max(l.fontMetrics().height(), l.heightForWidth(l.width()))};
  return l.sizeHint();
}

// A push button: its caption inside the part that the style leaves for it within the frame.
// The style's preferred minimum width is no need: a narrow button with a short caption is fine.
inline QSize push_button_room(const QPushButton& b) {
  QStyleOptionButton opt;
  opt.initFrom(&b);
  opt.text = b.text();
  opt.icon = b.icon();
  opt.iconSize = b.iconSize();
  if (b.isDefault()) opt.features |= QStyleOptionButton::DefaultButton;
  if (b.autoDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
  const QRect contents = b.style()->subElementRect(QStyle::SE_PushButtonContents, &opt, &b);
  const QFontMetrics fm = b.fontMetrics();
  const int frame_w = std::max(0, b.width() - contents.width());
  const int frame_h = std::max(0, b.height() - contents.height());
  return {fm.horizontalAdvance(without_mnemonic(b.text())) + frame_w, fm.height() + frame_h};
}

// A tool button with its caption under its image: the caption on one line and the image
// inside a one-pixel border, with the 4 pixels the style keeps between image and caption.
inline QSize tool_button_room(const QToolButton& b) {
  constexpr int border = 1;
  constexpr int gap = 4;
  const QFontMetrics fm = b.fontMetrics();
  return {fm.horizontalAdvance(without_mnemonic(b.text())) + 2 * border,
          b.iconSize().height() + gap + fm.height() + 2 * border};
}

// A check box: its box and its caption side by side; one line of text high.
inline QSize check_box_room(const QCheckBox& c) {
  const int indicator = c.style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, &c);
  return {c.sizeHint().width(), std::max(c.fontMetrics().height(), indicator)};
}

// A one-line text field (also the field of an editable combo box): one line of text inside
// its frame. Its width holds whatever is typed by scrolling, so it needs none.
inline QSize text_field_room(const QWidget& field) {
  const int frame = field.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &field);
  // A line edit keeps one pixel above and below its text.
  return {0, field.fontMetrics().height() + 2 * frame + 2};
}

// A group box: its title on its frame.
inline QSize group_box_room(const QGroupBox& g) { return g.minimumSizeHint(); }

// Whichever of the above fits the control; an empty size for anything else.
inline QSize text_room(const QWidget& w) {
  if (const auto* l = qobject_cast<const QLabel*>(&w)) return label_room(*l);
  if (const auto* b = qobject_cast<const QPushButton*>(&w)) return push_button_room(*b);
  if (const auto* t = qobject_cast<const QToolButton*>(&w)) return tool_button_room(*t);
  if (const auto* c = qobject_cast<const QCheckBox*>(&w)) return check_box_room(*c);
  if (const auto* g = qobject_cast<const QGroupBox*>(&w)) return group_box_room(*g);
  if (qobject_cast<const QLineEdit*>(&w) != nullptr || qobject_cast<const QComboBox*>(&w) != nullptr)
    return text_field_room(w);
  return {0, 0};
}

}  // namespace murmelin
