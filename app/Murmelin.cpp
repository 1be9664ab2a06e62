// SPDX-License-Identifier: GPL-3.0-or-later
// Murmelin: plays continuous pink noise until "Play" is pressed again.
#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QPixmapCache>
#include <QThreadPool>

#include <memory>

#include "application.h"
#include "command_line.h"
#include "display_session.h"
#include "error_boundary.h"
#include "mpris.h"
#include "sdbra.h"
#include "single_instance.h"
#include "sleep_inhibitor.h"
#include "smurmelin1.h"
#include "smurmelin2.h"
#include "translation.h"

int main(int argc, char** argv) {
  using namespace murmelin;

  // Everything the program says, from the first line on, in the user's language.
  use_translations();

  // --version and --help answer without a display; anything else on the command line is an
  // error.
  switch (read_command_line(argc, argv, stdout, stderr)) {
    case command_line_action::run: break;
    case command_line_action::exit_ok: return 0;
    case command_line_action::misuse: return 2;
  }

  // Without a desktop session Qt would abort; say so plainly instead.
  if (!prepare_display_session()) return 1;

  // Each run plays a different noise sequence.
  seed_random_source();

  // The launcher's activation, for the running window should this start be a second one.
  const launch_activation launch = launch_activation::from_environment();

  // The toolkit sees the program's name and nothing else.
  int app_argc = 1;
  char* app_argv[] = {argv[0], nullptr};
  TApplication app(app_argc, app_argv);
  display_session_opened();
  install_translations();
  // Nothing may wake the program while it is stopped. Two things of Qt's would, 30 s after
  // the window was last painted: the shared thread pool, which helps painting large areas,
  // ends its idle threads then (idle threads that never end sleep for good), and the pixmap
  // cache trims itself on a timer while it holds pixmaps (the few pixmaps of these small
  // windows are drawn again at each painting instead).
  QThreadPool::globalInstance()->setExpiryTimeout(-1);
  QPixmapCache::setCacheLimit(0);

  // One instance per session: a second start brings the first one's window to the front and
  // ends before it makes a window, plays or touches the settings file.
  single_instance instance;
  if (!instance.acquire()) {
    instance.raise_running(launch);
    return 0;
  }

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

  // The desktop's media controls run the same play control as the button, except while a
  // dialog or message box is open; no automatic suspend while noise plays. Without a bus
  // both stay silent.
  mpris_callbacks media;
  media.request_play = [f = form1.get()](bool wanted) { f->set_playing(wanted); };
  media.can_control = [] { return QApplication::activeModalWidget() == nullptr; };
  const auto raise = [f = form1.get()] {
    f->showNormal();
    f->raise();
    f->activateWindow();
  };
  media.raise = raise;
  // A second start that handed over no activation may not get the focus: the window asks for
  // the user's attention instead (a compositor shows it as ready, a window manager marks it).
  instance.on_raise_request([raise, f = form1.get()](bool with_activation) {
    raise();
    if (!with_activation) QApplication::alert(f);
  });
  // The desktop ending the program: an open dialog or message box counts as "Cancel", then the
  // main window closes; QApplication::quit ends the dialogs' own loops too.
  media.quit = [f = form1.get()] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* dialog = qobject_cast<QDialog*>(w); dialog != nullptr && dialog->isVisible())
        dialog->reject();
    }
    f->close();
    QApplication::quit();
  };
  auto mpris = std::make_unique<mpris_player>(std::move(media));
  auto no_sleep = std::make_unique<sleep_inhibitor>();
  form1->add_play_state_listener([m = mpris.get(), s = no_sleep.get()](bool playing, double level,
                                                                        const QString& stop_time) {
    m->set_level(level, stop_time);
    m->set_playing(playing);
    s->set_active(playing);
  });
  // An error while playing (a device that cannot be opened, a sound server gone, a buffer
  // refused) ends playback: the window shows that nothing plays, and the inhibitor and the
  // media controls hear of it, before the error is shown.
  set_exception_reporter([&app, f = form1.get()](const std::exception& e) {
    f->stop_after_error();
    app.ShowException(e);
  });

  // The loop shows the main window; closing it ends the program. Nothing is saved at exit.
  form1->show();
  const int result = app.exec();
  // Playback stops before the media controls and the inhibitor go, so their listener is
  // never told anything after them.
  guarded([&form1] { form1->set_playing(false); });
  mpris.reset();
  set_exception_reporter([&app](const std::exception& e) { app.ShowException(e); });
  no_sleep.reset();
  form1->set_settings_dialog(nullptr);
  Form2 = nullptr;
  form2.reset();
  Form1 = nullptr;
  form1.reset();
  return result;
}
