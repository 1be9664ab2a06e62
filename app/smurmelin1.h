// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the noise options, the player and the pink noise generator it owns, the
// "Play" toggle and the "Settings..." action, and the status label.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "TComponent.h"
#include "cMPC.h"
#include "cProgId.h"
#include "cQOBFile.h"
#include "imagelist.h"
#include "sabout.h"
#include "sdbra_types.h"
#include "spinknoise.h"
#include "text_fit.h"

class QAction;
class QDialog;
class QLabel;
class QToolBar;

namespace Ui {
class TForm1;
}

namespace murmelin {

struct form1_test_access;

class TForm1 : public QMainWindow, public TComponent {
  Q_OBJECT
public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The program's options.
  int32_t fs = 0;
  double noiselevel = 0.0;
  bool softnoiseonset = false;
  bool noiseplayleft = false;
  bool noiseplayright = false;
  // Minutes of playback after which the noise fades out and playback stops; 0: never.
  int32_t stopafter = 0;

  // The play control. Assigning runs it, also when the value does not change.
  bool playing() const { return fplaying; }
  void set_playing(bool v);

  // Listeners told the play state, the level and the clock time at which a timed playback
  // stops (in the user's locale; empty without a timer) after every run of the play control
  // (whatever ran it: the button, an overload, an error, the timer, a media key, the settings
  // dialog) and after the options were read or changed. Listeners must not raise; what they
  // raise is reported.
  using play_state_listener =
      std::function<void(bool playing, double level_db, const QString& stop_time)>;
  void add_play_state_listener(play_state_listener listener);
  void notify_play_state() noexcept;

  // Handlers. Each may raise; the connections made by the window catch at their boundary.
  void FormActivate(QObject* Sender);
  void PlayactionExecute(QObject* Sender);
  void settingsactionExecute(QObject* Sender);
  // The player's refill callback: fills the block with pink noise and, when it overloaded,
  // stops playback, says so and opens the settings dialog. A timed playback stops once its
  // fade-out has played out.
  void MPCPlay1Stash(TWaveChunk& arr, int32_t& used, bool& last);

  // Writes the options, the selected device's name and, for an empty fname, the places of
  // both windows (each only when not maximised) to the settings file: fname, or the program's
  // own file when empty. Raises what the store raises on writing; the store is emptied
  // afterwards either way, and a failed write leaves the previous file as it was.
  void save_settings(const QString& fname);
  // The program's own settings file: "MurmelinSettings.qobfile" in the store's settings folder
  // (which this creates).
  QString settings_file_name();

  // Components and controls, created with the window.
  TMPCPlay* MPCPlay1 = nullptr;
  TQOBFile* QOBFile1 = nullptr;
  TProgId* ProgId1 = nullptr;
  TCorvelAbout* CorvelAbout1 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QAction* Playaction = nullptr;
  QAction* settingsaction = nullptr;
  // The media pause and stop keys: stop playback through Playaction when it plays.
  QAction* stopaction = nullptr;
  QLabel* Label1 = nullptr;
  TImageList ImageList1{16, 16};

  // The dialog that "Settings..." and the overload reaction open modally, and whose place the
  // settings file keeps; none until set.
  void set_settings_dialog(QDialog* dialog) { fsettingsdialog = dialog; }
  // After an error while playing (the output lost, a buffer refused): playback stops and the
  // window shows so, so that the next press plays again; the listeners hear of it.
  void stop_after_error() noexcept;

protected:
  bool event(QEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  friend struct form1_test_access;

  // Reads the settings file (fname, or the program's own when empty): for an empty fname the
  // places of both windows first, kept on the desktop, whatever the file; then, only when
  // the file's id is "MurmelinSettings", the options and the device (by name, letter case
  // ignored, the default device when the name is gone). A file of another id shows the
  // wrong-file message. A value of the wrong type raises the store's error: the values read
  // before it stay. The store is emptied afterwards either way.
  void load_settings(const QString& fname);
  // The selected device's name; empty for the default device or a number naming none.
  QString selected_device_name() const;
  // The first device whose name equals name, letter case ignored; -1 when none does.
  int32_t find_device(const QString& name) const;
  // Whether the store holds a value under section and key (letter case ignored).
  bool stored(const std::string& section, const std::string& key) const;
  // The stopped display: label, button image and state.
  void show_stopped();
  // Stops the player, ignoring what that raises, and shows the stopped display.
  void stop_quietly() noexcept;
  void set_label_text(const QString& text);
  void show_settings_dialog();
  // The toolbar's look for the present palette.
  void apply_toolbar_style();
  // Grows the toolbar buttons, the toolbar and the window so that the captions and every text
  // the label shows fit in their fonts; never below the described sizes.
  void fit_to_texts();
  // The room of the widest text the label shows, in the user's language or as written.
  QSize every_label_text(bool in_language) const;
  std::vector<described_place> fbar_places;
  std::vector<described_place> flabel_places;

  // The generator: onset fields and the pink filter bank.
  tpinknoise pinknoise;

  std::unique_ptr<Ui::TForm1> ui;
  QDialog* fsettingsdialog = nullptr;
  // Where the window system keeps the windows' places to itself (Wayland), the places the
  // settings file held, written back unchanged: "Section/Key" -> value.
  std::map<std::string, int32_t> fforeign_places;
  bool fplaying = false;
  // A timed playback: the frame count at which playback stops (0: no timer), and the clock
  // time at which it does, as the window title and the listeners show it.
  int64_t fstop_frame = 0;
  QString fstop_time;
  std::vector<play_state_listener> flisteners;
  bool activated = false;
  bool ffit_posted = false;
};

// The program's main window.
extern TForm1* Form1;

}  // namespace murmelin
