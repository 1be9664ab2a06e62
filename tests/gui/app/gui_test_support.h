// SPDX-License-Identifier: GPL-3.0-or-later
// Shared by the GUI tests of the application: answers every message box and modal dialog
// through the seam and keeps what was asked, so no test ever waits on a real modal window.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <vector>

#include "modal_seam.h"

namespace murmelin::testing {

class modal_recorder {
public:
  modal_recorder()
      : fscope(
            [this](const message_box_request& r) {
              boxes.push_back(r);
              return box_answer;
            },
            [this](QDialog& d) {
              dialogs.push_back(&d);
              if (on_dialog) on_dialog(d);
              return dialog_answer;
            }) {}

  std::vector<message_box_request> boxes;
  std::vector<QDialog*> dialogs;
  int16_t box_answer = IDOK;
  int dialog_answer = QDialog::Rejected;
  // Runs while the dialog "is open", to look at the program's state at that moment.
  std::function<void(QDialog&)> on_dialog;

private:
  scoped_modal_handlers fscope;
};

// Points the per-user config folder (where the settings file lives) at a private, empty
// folder for its lifetime, so no test reads or writes the user's own settings.
class private_config_home {
public:
  private_config_home()
      : fold(qgetenv("XDG_CONFIG_HOME")), fhad(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", fdir.path().toLocal8Bit());
  }
  ~private_config_home() {
    if (fhad) {
      qputenv("XDG_CONFIG_HOME", fold);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }
  private_config_home(const private_config_home&) = delete;
  private_config_home& operator=(const private_config_home&) = delete;
  QString path() const { return fdir.path(); }
  // Where the program keeps its settings file under this folder.
  QString settings_file() const {
    return fdir.path() + QStringLiteral("/BriskoData/Murmelin/0.1/MurmelinSettings.qobfile");
  }

private:
  QTemporaryDir fdir;
  QByteArray fold;
  bool fhad;
};

}  // namespace murmelin::testing
