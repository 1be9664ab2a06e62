// SPDX-License-Identifier: GPL-3.0-or-later
#include "translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace murmelin {

namespace {

// The program's translations are resources of the program: ":/i18n/murmelin_<language>.qm".
struct translations {
  QTranslator own;
  QTranslator qt;
  QString language;
};

translations& the_translations() {
  static translations t;
  return t;
}

}  // namespace

QString use_translations(const QStringList& languages) {
  translations& t = the_translations();
  if (QCoreApplication* app = QCoreApplication::instance()) {
    app->removeTranslator(&t.own);
    app->removeTranslator(&t.qt);
  }
  t.language.clear();
  for (QString language : languages) {
    language.replace(QLatin1Char('-'), QLatin1Char('_'));
    if (language == QLatin1String("C") || language.startsWith(QLatin1String("en"))) break;
    // The file for "de_AT" is looked for as murmelin_de_AT.qm, then murmelin_de.qm.
    if (!t.own.load(QStringLiteral("murmelin_") + language, QStringLiteral(":/i18n"))) continue;
    t.language = t.own.language();
    // Where the system has none for the language, Qt's own texts stay English.
    (void)t.qt.load(QStringLiteral("qtbase_") + language,
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    install_translations();
    return t.language;
  }
  return t.language;
}

void install_translations() {
  translations& t = the_translations();
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || t.language.isEmpty()) return;
  if (!t.qt.isEmpty()) app->installTranslator(&t.qt);
  app->installTranslator(&t.own);
}

QString translated(const char* context, const char* text) {
  if (QCoreApplication::instance() != nullptr) return QCoreApplication::translate(context, text);
  translations& t = the_translations();
  const QString s = t.language.isEmpty() ? QString() : t.own.translate(context, text);
  return s.isEmpty() ? QString::fromUtf8(text) : s;
}

}  // namespace murmelin
