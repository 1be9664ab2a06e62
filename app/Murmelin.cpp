// Murmelin: plays continuous pink noise until "Play" is pressed again.
#include <QIcon>

#include <memory>

#include "application.h"
#include "error_boundary.h"
#include "sdbra.h"
#include "smurmelin1.h"
#include "smurmelin2.h"

int main(int /*argc*/, char** argv) {
  using namespace murmelin;

  // Each run plays a different noise sequence.
  seed_random_source();

  // The program takes no arguments: the toolkit sees the program's name and nothing else.
  int app_argc = 1;
  char* app_argv[] = {argv[0], nullptr};
  TApplication app(app_argc, app_argv);

  // The main window with its components; it owns its own taskbar entry.
  std::unique_ptr<TForm1> form1;
  guarded([&form1] { form1 = std::make_unique<TForm1>(); });
  if (!form1) return 1;
  Form1 = form1.get();
  app.setWindowIcon(QIcon(QStringLiteral(":/icons/murmelin.svg")));

  // The settings dialog, hidden until "Settings..." or an overload shows it.
  std::unique_ptr<TForm2> form2;
  guarded([&form1, &form2] { form2 = std::make_unique<TForm2>(*form1, form1.get()); });
  if (!form2) return 1;
  Form2 = form2.get();
  form1->set_settings_dialog(form2.get());

  // The loop shows the main window; closing it ends the program. Nothing is saved at exit.
  form1->show();
  const int result = app.exec();
  form1->set_settings_dialog(nullptr);
  Form2 = nullptr;
  form2.reset();
  Form1 = nullptr;
  form1.reset();
  return result;
}
