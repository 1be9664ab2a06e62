// SPDX-License-Identifier: GPL-3.0-or-later
#include "fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QWidget>

namespace murmelin {

QString desktop_sans_family() {
  const QString general = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  if (!general.isEmpty() && QFontDatabase::hasFamily(general)) return general;
  QFont hint;
  hint.setStyleHint(QFont::SansSerif);
  return QFontInfo(hint).family();
}

void substitute_missing_fonts(QWidget* root) {
  if (root == nullptr) return;
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  QString sans;
  for (QWidget* w : widgets) {
    if (!w->testAttribute(Qt::WA_SetFont)) continue;
    QFont f = w->font();
    if (QFontDatabase::hasFamily(f.family())) continue;
    if (sans.isEmpty()) sans = desktop_sans_family();
    // Only the family changes; the point size and the style stay.
    f.setFamilies({sans});
    w->setFont(f);
  }
}

}  // namespace murmelin
