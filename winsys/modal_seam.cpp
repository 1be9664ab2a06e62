// SPDX-License-Identifier: GPL-3.0-or-later
#include "modal_seam.h"

#include <QDialog>
#include <QMessageBox>

#include <utility>

namespace murmelin {

namespace {

message_box_handler& box_slot() {
  static message_box_handler slot;
  return slot;
}

modal_dialog_handler& dialog_slot() {
  static modal_dialog_handler slot;
  return slot;
}

QMessageBox::Icon icon_for(uint16_t flags) {
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONEXCLAMATION: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons buttons_for(uint16_t flags) {
  switch (flags & MB_TYPEMASK) {
    case MB_OKCANCEL: return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_ABORTRETRYIGNORE: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case MB_YESNOCANCEL: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MB_YESNO: return QMessageBox::Yes | QMessageBox::No;
    case MB_RETRYCANCEL: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
  }
}

int16_t code_for(int button, uint16_t flags) {
  switch (button) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Abort: return IDABORT;
    case QMessageBox::Retry: return IDRETRY;
    case QMessageBox::Ignore: return IDIGNORE;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default:
      // Closed without a button: a box with a single OK button counts that as OK.
      return (flags & MB_TYPEMASK) == MB_OK ? IDOK : IDCANCEL;
  }
}

}  // namespace

int16_t run_real_message_box(const message_box_request& request) {
  // A lone carriage return ends a line in the program's texts; the label wants line feeds.
  QString text = request.text;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QChar(u'\r'), QChar(u'\n'));
  QMessageBox box(icon_for(request.flags), request.caption, text, buttons_for(request.flags));
  box.setTextFormat(Qt::PlainText);
  return code_for(box.exec(), request.flags);
}

int16_t show_message_box(const message_box_request& request) {
  if (box_slot()) return box_slot()(request);
  return run_real_message_box(request);
}

int exec_modal(QDialog& dialog) {
  if (dialog_slot()) return dialog_slot()(dialog);
  return dialog.exec();
}

message_box_handler set_message_box_handler(message_box_handler handler) {
  return std::exchange(box_slot(), std::move(handler));
}

modal_dialog_handler set_modal_dialog_handler(modal_dialog_handler handler) {
  return std::exchange(dialog_slot(), std::move(handler));
}

scoped_modal_handlers::scoped_modal_handlers(message_box_handler boxes,
                                             modal_dialog_handler dialogs)
    : fprevious_boxes(set_message_box_handler(std::move(boxes))),
      fprevious_dialogs(set_modal_dialog_handler(std::move(dialogs))) {}

scoped_modal_handlers::~scoped_modal_handlers() {
  set_message_box_handler(std::move(fprevious_boxes));
  set_modal_dialog_handler(std::move(fprevious_dialogs));
}

}  // namespace murmelin
