// SPDX-License-Identifier: GPL-3.0-or-later
// An image list and the image index of an action, as toolbars and menus use them.
#pragma once

#include <QIcon>
#include <QList>

#include <cstdint>

class QAction;

namespace murmelin {

class TImageList {
public:
  TImageList(int32_t width, int32_t height) : fwidth(width), fheight(height) {}

  int32_t Width() const { return fwidth; }
  int32_t Height() const { return fheight; }
  int32_t Count() const { return static_cast<int32_t>(fimages.size()); }

  void add(const QIcon& image) { fimages.append(image); }
  // The image at index; raises the range error outside 0 .. Count - 1.
  QIcon image(int32_t index) const;

private:
  int32_t fwidth;
  int32_t fheight;
  QList<QIcon> fimages;
};

// Gives the action the image at index of the list (-1: no image) and remembers the index.
void set_ImageIndex(QAction* action, const TImageList& list, int32_t index);
// The index last given by set_ImageIndex, -1 when none was.
int32_t ImageIndex(const QAction* action);

}  // namespace murmelin
