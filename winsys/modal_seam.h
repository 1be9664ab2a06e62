// SPDX-License-Identifier: GPL-3.0-or-later
// The one road through which every message box and every modal dialog of the program goes.
// The program shows them for real; tests install handlers that answer them without ever
// blocking on a modal window.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>

class QDialog;

namespace murmelin {

// Message-box flags (16 bits): the buttons in the low nibble, the icon in the next one.
constexpr uint16_t MB_OK = 0x0000;
constexpr uint16_t MB_OKCANCEL = 0x0001;
constexpr uint16_t MB_ABORTRETRYIGNORE = 0x0002;
constexpr uint16_t MB_YESNOCANCEL = 0x0003;
constexpr uint16_t MB_YESNO = 0x0004;
constexpr uint16_t MB_RETRYCANCEL = 0x0005;
constexpr uint16_t MB_TYPEMASK = 0x000F;
constexpr uint16_t MB_ICONERROR = 0x0010;
constexpr uint16_t MB_ICONQUESTION = 0x0020;
constexpr uint16_t MB_ICONEXCLAMATION = 0x0030;
constexpr uint16_t MB_ICONINFORMATION = 0x0040;
constexpr uint16_t MB_ICONMASK = 0x00F0;

// Codes of the pressed message-box button.
constexpr int16_t IDOK = 1;
constexpr int16_t IDCANCEL = 2;
constexpr int16_t IDABORT = 3;
constexpr int16_t IDRETRY = 4;
constexpr int16_t IDIGNORE = 5;
constexpr int16_t IDYES = 6;
constexpr int16_t IDNO = 7;

struct message_box_request {
  QString text;
  QString caption;
  uint16_t flags = MB_OK;
};

// Answers a message box with the code of the button "pressed".
using message_box_handler = std::function<int16_t(const message_box_request&)>;
// Runs a dialog modally and returns its result (QDialog::Accepted / Rejected or done(r)'s r).
using modal_dialog_handler = std::function<int(QDialog&)>;

// Shows a message box through the installed handler, or for real when none is installed.
int16_t show_message_box(const message_box_request& request);

// Shows the dialog modally through the installed handler, or with QDialog::exec when none is
// installed. Returns when the dialog has closed.
int exec_modal(QDialog& dialog);

// Install handlers; an empty function restores the real windows. Each returns the handler it
// replaced.
message_box_handler set_message_box_handler(message_box_handler handler);
modal_dialog_handler set_modal_dialog_handler(modal_dialog_handler handler);

// The real message box: a QMessageBox with the icon and buttons that the flags ask for.
int16_t run_real_message_box(const message_box_request& request);

// Installs both handlers for its lifetime and puts back the previous ones on destruction.
class scoped_modal_handlers {
public:
  scoped_modal_handlers(message_box_handler boxes, modal_dialog_handler dialogs);
  ~scoped_modal_handlers();
  scoped_modal_handlers(const scoped_modal_handlers&) = delete;
  scoped_modal_handlers& operator=(const scoped_modal_handlers&) = delete;

private:
  message_box_handler fprevious_boxes;
  modal_dialog_handler fprevious_dialogs;
};

}  // namespace murmelin
