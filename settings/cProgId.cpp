// SPDX-License-Identifier: GPL-3.0-or-later
#include "cProgId.h"

namespace murmelin {

TProgId::TProgId(TComponent* aowner) : TComponent(aowner) {}

QString TProgId::Version() const {
  if (fautoversion) return QStringLiteral("3.0");
  return fVersion;
}

}  // namespace murmelin
