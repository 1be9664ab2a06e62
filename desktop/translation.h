// SPDX-License-Identifier: GPL-3.0-or-later
// The program in the user's language: its own translations, embedded in the program, and Qt's
// for the standard buttons, for the first of the user's UI languages (LANGUAGE, LC_ALL,
// LC_MESSAGES, LANG) that the program has. English, which the texts are written in, and the C
// locale need none: a language list that reaches English before any translated language keeps
// the texts as they are.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

namespace murmelin {

// Loads the translations for the first of LANGUAGES ("de-DE", "fr", ...; a region falls back
// to its language) that the program has, stopping at English or "C", in place of those loaded
// before; with the application object there, they are in force at once. Call it before
// anything is printed, also before the application object exists. Gives the language loaded
// ("de", "fr_CA", ...), or an empty text when the texts stay English.
QString use_translations(const QStringList& languages = QLocale::system().uiLanguages());

// Puts the translations loaded before the application object existed in force for it, so that
// tr(), the windows and the standard buttons use them.
void install_translations();

// TEXT of CONTEXT in the user's language; also before the application object exists.
QString translated(const char* context, const char* text);

}  // namespace murmelin
