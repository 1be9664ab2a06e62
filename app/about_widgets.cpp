// SPDX-License-Identifier: GPL-3.0-or-later
#include "about_widgets.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "error_boundary.h"

namespace murmelin {

namespace {
constexpr int icon_size = 32;
}  // namespace

about_form::about_form() : QDialog(nullptr) {}

void about_form::keyPressEvent(QKeyEvent* e) {
  // No button is bound to Escape.
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

about_panel::about_panel(QWidget* parent) : QWidget(parent) {}

void about_panel::paintEvent(QPaintEvent* /*e*/) {
  QPainter p(this);
  const QColor light = palette().color(QPalette::Light);
  const QColor dark = palette().color(QPalette::Dark);
  const int w = width();
  const int h = height();
  // Filled one-pixel bands rather than lines, so that they scale with the screen.
  auto bevel = [&p](int l, int t, int r, int b, const QColor& top_left, const QColor& bottom_right) {
    p.fillRect(QRect(l, t, r - l, 1), top_left);
    p.fillRect(QRect(l, t, 1, b - t), top_left);
    p.fillRect(QRect(r, t, 1, b - t + 1), bottom_right);
    p.fillRect(QRect(l, b, r - l + 1, 1), bottom_right);
  };
  bevel(0, 0, w - 1, h - 1, dark, light);   // outer, lowered
  bevel(1, 1, w - 2, h - 2, light, dark);   // inner, raised
}

about_image::about_image(QWidget* parent) : QWidget(parent) {}

void about_image::set_Picture(const QImage& picture) {
  fpicture = picture;
  ficon = QIcon();
  prepare();
}

void about_image::set_Transparent(bool value) {
  ftransparent = value;
  prepare();
}

QRgb about_image::TransparentColor() const {
  if (fpicture.isNull()) return 0;
  return fpicture.pixel(0, fpicture.height() - 1);
}

void about_image::set_Icon(const QIcon& icon) {
  ficon = icon;
  update();
}

void about_image::prepare() {
  if (fpicture.isNull()) {
    fdrawn = QPixmap();
  } else if (!ftransparent) {
    fdrawn = QPixmap::fromImage(fpicture);
  } else {
    const QRgb key = TransparentColor() & RGB_MASK;
    QImage img = fpicture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
      for (int x = 0; x < img.width(); ++x) {
        if ((line[x] & RGB_MASK) == key) line[x] = 0;
      }
    }
    fdrawn = QPixmap::fromImage(img);
  }
  update();
}

void about_image::paintEvent(QPaintEvent* /*e*/) {
  QPainter p(this);
  if (!ficon.isNull()) {
    ficon.paint(&p, QRect(0, 0, icon_size, icon_size), Qt::AlignLeft | Qt::AlignTop);
  } else if (!fdrawn.isNull()) {
    p.drawPixmap(0, 0, fdrawn);
  }
}

void about_image::mouseDoubleClickEvent(QMouseEvent* e) {
  e->accept();
  if (OnDblClick) {
    // Copied: the handler may replace itself.
    const TNotifyEvent handler = OnDblClick;
    guarded([&] { handler(this); });
  }
}

}  // namespace murmelin
