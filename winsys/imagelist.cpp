// SPDX-License-Identifier: GPL-3.0-or-later
#include "imagelist.h"

#include <QAction>
#include <QVariant>

#include "checked_int.h"

namespace murmelin {

namespace {
constexpr const char* image_index_property = "ImageIndex";
}

QIcon TImageList::image(int32_t index) const {
  return checked_at(fimages, index);
}

void set_ImageIndex(QAction* action, const TImageList& list, int32_t index) {
  action->setIcon(index < 0 ? QIcon() : list.image(index));
  action->setProperty(image_index_property, index < 0 ? -1 : index);
}

int32_t ImageIndex(const QAction* action) {
  const QVariant v = action->property(image_index_property);
  return v.isValid() ? v.toInt() : -1;
}

}  // namespace murmelin
