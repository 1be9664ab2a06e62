// SPDX-License-Identifier: GPL-3.0-or-later
// TProgId: the program's identity (product name, version, company, copyright notice).
#pragma once

#include <QString>

#include "TComponent.h"

namespace murmelin {

class TProgId : public TComponent {
public:
  // Starts with empty strings and AutoVersion off; the owner sets the properties.
  explicit TProgId(TComponent* aowner = nullptr);

  const QString& ProductName() const { return fProductName; }
  void set_ProductName(const QString& value) { fProductName = value; }

  bool AutoVersion() const { return fautoversion; }
  void set_AutoVersion(bool value) { fautoversion = value; }

  // "3.0" while AutoVersion is on, otherwise the stored version.
  QString Version() const;
  // Stores the version, also while AutoVersion is on (it shows once AutoVersion is off).
  void set_Version(const QString& value) { fVersion = value; }

  const QString& Company() const { return fCompany; }
  void set_Company(const QString& value) { fCompany = value; }

  const QString& Copyright() const { return fCopyright; }
  void set_Copyright(const QString& value) { fCopyright = value; }

private:
  QString fProductName;
  QString fVersion;
  bool fautoversion = false;
  QString fCompany;
  QString fCopyright;
};

}  // namespace murmelin
