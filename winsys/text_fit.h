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

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <vector>

namespace murmelin {

// A control's place as its window was built: the windows grow from these places to fit their
// texts, and come back to them.
struct described_place {
  QWidget* control;
  QRect place;
};

inline std::vector<described_place> described_places(std::initializer_list<QWidget*> controls) {
  std::vector<described_place> places;
  for (QWidget* w : controls) places.push_back({w, w->geometry()});
  return places;
}

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
  if (const auto* c = qobject_cast<const QCheckBox*>(&w)) return check_box_room(*c);
  if (const auto* g = qobject_cast<const QGroupBox*>(&w)) return group_box_room(*g);
  if (qobject_cast<const QLineEdit*>(&w) != nullptr || qobject_cast<const QComboBox*>(&w) != nullptr)
    return text_field_room(w);
  return {0, 0};
}

}  // namespace murmelin
