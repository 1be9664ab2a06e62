// SPDX-License-Identifier: GPL-3.0-or-later
// The fixture of the main window's GUI tests: the window as the program makes it, playing on
// the wave-output test backend, with every modal answered by a recorder and the settings file
// in a private folder. The test classes derive from it.
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QStringList>
#include <QToolBar>
#include <QToolButton>

#include <memory>

#include "gui_test_support.h"
#include "smurmelin1.h"
#include "smurmelin2.h"
#include "waveout_test_backend.h"

namespace murmelin::testing {

// What the main window's label says when stopped, playing and after an overload.
inline const QString text_stopped = QStringLiteral("Press play to play pink noise");
inline const QString text_playing = QStringLiteral("Playing pink noise");
inline const QString text_overload = QStringLiteral("Overload, reduce level!");

class main_window_fixture {
protected:
  std::unique_ptr<private_config_home> config;
  std::unique_ptr<waveout_test_backend_scope> backend;
  std::unique_ptr<modal_recorder> modal;
  std::unique_ptr<TForm1> form;
  TForm2* dialog = nullptr;               // owned by form
  std::unique_ptr<QDialog> plain_dialog;  // in its place, for tests of the main window alone

  // Before each test: the private folder, the backend with these devices, the recorder.
  void set_up(const QStringList& devices) {
    config = std::make_unique<private_config_home>();
    backend = std::make_unique<waveout_test_backend_scope>(devices);
    modal = std::make_unique<modal_recorder>();
  }
  // A main window with its settings dialog, as the program creates them (not shown yet); with
  // plain, an empty dialog stands in for the settings dialog.
  void create_windows(bool plain = false) {
    form = std::make_unique<TForm1>();
    if (plain) {
      plain_dialog = std::make_unique<QDialog>();
      form->set_settings_dialog(plain_dialog.get());
    } else {
      dialog = new TForm2(*form, form.get());
      form->set_settings_dialog(dialog);
    }
    Form1 = form.get();
  }
  void destroy_windows() {
    Form1 = nullptr;
    dialog = nullptr;
    form.reset();
    settle();
    plain_dialog.reset();
  }
  // After each test.
  void tear_down() {
    destroy_windows();
    modal.reset();
    backend.reset();
    config.reset();
  }

  waveout_test_backend& tb() const { return **backend; }
  QToolButton* button_for(QAction* a) const {
    return qobject_cast<QToolButton*>(form->ToolBar1->widgetForAction(a));
  }
  // Runs what is posted, and what that posts in turn (a done message, then the reaction the
  // window queues).
  static void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
  }
};

}  // namespace murmelin::testing
