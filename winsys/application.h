// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: the event loop, the program's title and the default error handler
// that shows an error escaping an event handler in a message box and lets the program go on.
#pragma once

#include <QApplication>
#include <QString>

#include <cstdint>
#include <exception>

namespace murmelin {

// The title rule: the program file's name up to its first dot, every letter after the first
// in lower case ("/usr/bin/MURMELIN.bin" gives "Murmelin").
QString title_from_program_file(const QString& path);

// The text the default error handler shows: the message, with a "." appended when its last
// character's code lies above that of ".".
QString error_box_text(const QString& message);

// Shows the application's message box (through the modal seam) and returns the code of the
// pressed button.
int16_t message_box(const QString& text, const QString& caption, uint16_t flags);

class TApplication : public QApplication {
  Q_OBJECT
public:
  // Installs the default error handler as the program's exception reporter.
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  QString Title() const { return ftitle; }
  void set_Title(const QString& value) { ftitle = value; }

  // The default error handler: a message box captioned with the title, error icon, one OK
  // button. Returns when the box is closed; the program goes on.
  void ShowException(const std::exception& e);

private:
  QString ftitle;
};

// The running application object, or nullptr when there is none.
TApplication* Application();

}  // namespace murmelin
