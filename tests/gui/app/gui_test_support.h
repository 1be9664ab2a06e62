// Shared by the GUI tests of the application: answers every message box and modal dialog
// through the seam and keeps what was asked, so no test ever waits on a real modal window.
#pragma once

#include <QDialog>
#include <QString>

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

}  // namespace murmelin::testing
