// SPDX-License-Identifier: GPL-3.0-or-later
#include "application.h"

#include "error_boundary.h"
#include "modal_seam.h"

namespace murmelin {

namespace {
TApplication* the_application = nullptr;
}

QString title_from_program_file(const QString& path) {
  QString name = path.section(QChar(u'/'), -1);
  const qsizetype dot = name.indexOf(QChar(u'.'));
  if (dot >= 0) name.truncate(dot);
  if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
  return name;
}

QString error_box_text(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QChar(u'.');
  return message;
}

int16_t message_box(const QString& text, const QString& caption, uint16_t flags) {
  return show_message_box(message_box_request{text, caption, flags});
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  QString file = QCoreApplication::applicationFilePath();
  if (file.isEmpty() && argc > 0) file = QString::fromLocal8Bit(argv[0]);
  ftitle = title_from_program_file(file);
  the_application = this;
  set_exception_reporter([this](const std::exception& e) { ShowException(e); });
}

TApplication::~TApplication() {
  set_exception_reporter({});
  if (the_application == this) the_application = nullptr;
}

void TApplication::ShowException(const std::exception& e) {
  message_box(error_box_text(QString::fromUtf8(e.what())), ftitle, MB_OK | MB_ICONERROR);
}

TApplication* Application() { return the_application; }

}  // namespace murmelin
