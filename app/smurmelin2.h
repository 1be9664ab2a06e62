// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog: edits the main window's five noise options, its player's output
// device and the time after which playback stops. It keeps no values of its own: every show loads the controls from the main window,
// "&Ok" stores them back and saves the settings file.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "text_fit.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class TForm2;
}

namespace murmelin {

class TForm1;

// The first entry of the device list: the sound system's default output.
QString default_soundcard_text();

// Text to number as the dialog converts it. Surrounding blanks are ignored; the integer is
// plain decimal with an optional sign; the float takes the user's locale decimal separator
// (no group separators) and an optional exponent, and must be finite. Anything else raises
// EConvertError with "''<text>'' is not a valid integer value" or
// "'<text>' is not a valid floating point value".
int32_t str_to_int(const QString& text);
double str_to_float(const QString& text);
// General decimal text: at most 15 significant digits, the locale's decimal separator.
QString float_to_str(double value);

// The times "Stop after" offers, in minutes; 0 is "Never".
inline constexpr int32_t stop_after_choices[] = {0, 15, 30, 45, 60, 90, 120, 180, 240, 360, 480};
// A time as the drop-down shows it: "Never", "45 min", "1 h", "1 h 30 min"; a time that is not
// one of the choices as "N min".
QString stop_after_text(int32_t minutes);

class TForm2 : public QDialog {
  Q_OBJECT
public:
  // Created hidden; reads and writes the options of main, which must outlive the dialog.
  explicit TForm2(TForm1& main, QWidget* parent = nullptr);
  ~TForm2() override;

  // Handlers. Each may raise; the connections made by the dialog catch at their boundary.
  // Loads the controls from the main window and the player.
  void FormShow(QObject* Sender);
  // "&Ok": stores the values in order, saves the settings file, closes. A text that does not
  // convert or a failed save raises and leaves the dialog open; earlier steps stay done.
  void Button1Click(QObject* Sender);
  // "&Cancel": closes, changing nothing.
  void Button2Click(QObject* Sender);
  // "...": runs OnAbout when it is set, else shows the main window's about box above the
  // dialog.
  void Button3Click(QObject* Sender);

  // What "..." runs instead of showing the main window's about box.
  const std::function<void()>& OnAbout() const { return fonabout; }
  void set_OnAbout(std::function<void()> handler) { fonabout = std::move(handler); }

  QLabel* Label1 = nullptr;
  QLineEdit* leveledit = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* fsedit = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QGroupBox* GroupBox1 = nullptr;
  QCheckBox* leftcheck = nullptr;
  QCheckBox* rightcheck = nullptr;
  QCheckBox* softonsetcheck = nullptr;
  QLabel* Label3 = nullptr;
  QComboBox* soundcardcombo = nullptr;
  QLabel* Label4 = nullptr;
  QComboBox* stopaftercombo = nullptr;
  QPushButton* Button3 = nullptr;

protected:
  void showEvent(QShowEvent* e) override;
  // Escape is bound to no button: it does not close the dialog.
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  // The selected entry: the current one while the text still names it, else the entry whose
  // text the typed one matches (letter case ignored), else -1.
  int32_t selected_entry() const;
  // Gives every control the room its text needs in its font, from the described places (see
  // fit_places). Runs when the dialog is shown and when a font changes while it shows; the
  // window grows, never shrinks.
  void fit_to_texts();

  std::vector<described_place> fplaces;
  QSize fdescribed_size;
  bool ffit_posted = false;

  std::unique_ptr<Ui::TForm2> ui;
  TForm1& fmain;
  std::function<void()> fonabout;
};

// The program's settings dialog.
extern TForm2* Form2;

}  // namespace murmelin
