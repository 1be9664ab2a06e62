// SPDX-License-Identifier: GPL-3.0-or-later
// The controls of the about box: its dialog window, the bevelled panel around the picture and
// the image control.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRgb>
#include <QWidget>

#include <functional>

namespace murmelin {

// A notify event: a method bound to an object, called with the control that raised it.
// Unassigned when empty.
using TNotifyEvent = std::function<void(QObject* Sender)>;

// The dialog window of the about box: Escape does not close it; Enter presses "&Ok".
class about_form : public QDialog {
  Q_OBJECT
public:
  about_form();

protected:
  void keyPressEvent(QKeyEvent* e) override;
};

// The panel around the picture: outer bevel lowered, inner bevel raised, each 1 pixel wide.
class about_panel : public QWidget {
  Q_OBJECT
public:
  explicit about_panel(QWidget* parent);

protected:
  void paintEvent(QPaintEvent* e) override;
};

// An image control: draws its picture unscaled at its top-left corner, clipped to its own
// size. A picture given as transparent lets the parent show through wherever the picture has
// the colour of its lower-left pixel. Double clicks go to OnDblClick with the control as Sender.
class about_image : public QWidget {
  Q_OBJECT
public:
  explicit about_image(QWidget* parent);

  // The picture as loaded (an indexed picture keeps its colour table) and the colour that is
  // drawn transparently (only meaningful when the picture is transparent).
  const QImage& Picture() const { return fpicture; }
  void set_Picture(const QImage& picture);
  bool Transparent() const { return ftransparent; }
  void set_Transparent(bool value);
  QRgb TransparentColor() const;

  // An icon instead of a picture, drawn at its natural size of 32 x 32.
  void set_Icon(const QIcon& icon);
  const QIcon& Icon() const { return ficon; }

  TNotifyEvent OnDblClick;

protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
  void prepare();

  QImage fpicture;
  QPixmap fdrawn;
  QIcon ficon;
  bool ftransparent = false;
};

}  // namespace murmelin
