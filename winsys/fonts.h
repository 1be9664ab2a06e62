// SPDX-License-Identifier: GPL-3.0-or-later
// Fonts named by the program's windows that the desktop may not have.
#pragma once

#include <QString>

class QWidget;

namespace murmelin {

// The desktop's own sans-serif family.
QString desktop_sans_family();

// Every widget from root down that sets a font of its own whose family the desktop lacks gets
// the desktop's sans-serif at the same point size instead.
void substitute_missing_fonts(QWidget* root);

}  // namespace murmelin
