// The main window: the noise options, the player and the pink noise generator it owns, the
// "Play" toggle and the "Settings..." action, and the status label.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>

#include "TComponent.h"
#include "cMPC.h"
#include "imagelist.h"
#include "sdbra_types.h"
#include "spinknoise.h"

class QAction;
class QDialog;
class QLabel;
class QToolBar;

namespace Ui {
class TForm1;
}

namespace murmelin {

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

  // The play control. Assigning runs it, also when the value does not change.
  bool playing() const { return fplaying; }
  void set_playing(bool v);

  // Handlers. Each may raise; the connections made by the window catch at their boundary.
  void FormActivate(QObject* Sender);
  void PlayactionExecute(QObject* Sender);
  void settingsactionExecute(QObject* Sender);
  // The player's refill callback: fills the block with pink noise and, when it overloaded,
  // stops playback, says so and opens the settings dialog.
  void MPCPlay1Stash(TWaveChunk& arr, int32_t& used, bool& last);

  // Components and controls, created with the window.
  TMPCPlay* MPCPlay1 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QAction* Playaction = nullptr;
  QAction* settingsaction = nullptr;
  QLabel* Label1 = nullptr;
  TImageList ImageList1{16, 16};

  // The generator: onset fields and the pink filter bank.
  tpinknoise pinknoise;

  // The dialog that "Settings..." and the overload reaction open modally; none until set.
  void set_settings_dialog(QDialog* dialog) { fsettingsdialog = dialog; }
  QDialog* settings_dialog() const { return fsettingsdialog; }

  bool is_activated() const { return activated; }

protected:
  bool event(QEvent* e) override;

private:
  void set_label_text(const QString& text);
  void show_settings_dialog();

  std::unique_ptr<Ui::TForm1> ui;
  QDialog* fsettingsdialog = nullptr;
  bool fplaying = false;
  bool activated = false;
};

// The program's main window.
extern TForm1* Form1;

}  // namespace murmelin
