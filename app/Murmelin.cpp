// Murmelin: plays continuous pink noise until "Play" is pressed again.
#include <QIcon>

#include <memory>

#include "application.h"
#include "display_session.h"
#include "error_boundary.h"
#include "sdbra.h"
#include "smurmelin1.h"

int main(int argc, char** argv) {
  using namespace murmelin;

  // Without a desktop session Qt would abort; say so plainly instead.
  if (!prepare_display_session()) return 1;

  // Each run plays a different noise sequence.
  seed_random_source();

  TApplication app(argc, argv);

  // The main window with its components; it owns its own taskbar entry.
  std::unique_ptr<TForm1> form1;
  guarded([&form1] { form1 = std::make_unique<TForm1>(); });
  if (!form1) return 1;
  Form1 = form1.get();
  app.setWindowIcon(QIcon(QStringLiteral(":/icons/murmelin.svg")));

  // The settings dialog is created here, hidden, once it exists.

  // The loop shows the main window; closing it ends the program. Nothing is saved at exit.
  form1->show();
  const int result = app.exec();
  Form1 = nullptr;
  form1.reset();
  return result;
}
