// SPDX-License-Identifier: GPL-3.0-or-later
// The about box: a dialog built in code with the program's title, version line, build date,
// copyright, a free text line, a picture on a bevelled panel, the program's icon and an OK
// button. TAbout is the plain box; TCorvelAbout adds the family line and loads its picture
// from the bitmap resource CORVELBMP.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QRect>
#include <QRgb>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

#include "TComponent.h"
#include "about_widgets.h"
#include "bitmap_file.h"
#include "text_fit.h"

class QLabel;
class QPushButton;

namespace murmelin {

// The day the program was built (UTC; the day of SOURCE_DATE_EPOCH when the build sets it).
QDate build_date();

// The resource path of the picture CORVELBMP: a device-independent bitmap without a file
// header (40-byte info header, colour table, uncompressed pixels).
extern const char* const corvel_bitmap_resource;

class TAbout : public TComponent {
public:
  // Builds the hidden dialog with the default properties. The dialog has no parent window;
  // it goes with the component.
  explicit TAbout(TComponent* aowner);
  ~TAbout() override;

  // Runs the "auto" rules: a Version of "auto" becomes "3.0" (the version line is not
  // rebuilt), a Revision of "auto" becomes empty.
  void Loaded() override;

  // Shows the dialog modally, centred on the screen (that of above when given), and returns
  // when it is closed. With above, the dialog is kept in front of that window.
  void showmodal(QWidget* above = nullptr);

  // Properties. Each setter stores its value and does what the comment says.
  QString Title() const { return ftitle; }
  void set_Title(const QString& value);  // the title label shows it
  QString Version() const { return fversion; }
  void set_Version(const QString& value);  // rebuilds the version line
  QString Copyright() const { return fcopyright; }
  void set_Copyright(const QString& value);  // the copyright label shows it
  // The extra label shows it, at the title's width, visible exactly when the text is not empty.
  QString Extra() const { return fextra; }
  void set_Extra(const QString& value);
  bool ShowACorvel() const { return fshowacorvel; }
  void set_ShowACorvel(bool value) { fshowacorvel = value; }
  bool ShowCompileDate() const { return fshowcompiledate; }
  void set_ShowCompileDate(bool value) { fshowcompiledate = value; }
  const TNotifyEvent& OnEggClick() const { return foneggclick; }
  void set_OnEggClick(TNotifyEvent value) { foneggclick = std::move(value); }
  QString Revision() const { return frevision; }
  void set_Revision(const QString& value);  // rebuilds the version line
  bool BMP256() const { return fbmp256; }
  void set_BMP256(bool value) { fbmp256 = value; }
  QString OSVersions() const { return fosversions; }
  void set_OSVersions(const QString& value);  // rebuilds the version line
  bool beta() const { return fbeta; }
  void set_beta(bool value);  // rebuilds the version line
  QString betaversion() const { return fbetaversion; }
  void set_betaversion(const QString& value);  // rebuilds the version line
  const TNotifyEvent& OnActivateErrLog() const { return fonactivateerrlog; }
  void set_OnActivateErrLog(TNotifyEvent value) { fonactivateerrlog = std::move(value); }

  // Runs Loaded again in full, then reads Version with a full stop as the decimal separator;
  // 0 when anything fails.
  double VersionNumber();
  // Version as a 16-bit number: a whole number from 0 to 65535 as it is; "major.minor" as the
  // low 8 bits of major times 256 plus the low 8 bits of minor; 0 for anything else.
  uint16_t intversion() const;

  // The dialog and its controls, owned by the dialog.
  about_form* form = nullptr;
  about_panel* panel = nullptr;
  QPushButton* okbutton = nullptr;
  QLabel* titlelabel = nullptr;
  QLabel* corvellabel = nullptr;
  QLabel* compiledatelabel = nullptr;
  QLabel* versionlabel = nullptr;
  QLabel* copyrightlabel = nullptr;
  QLabel* extralabel = nullptr;
  QLabel* memorylabel = nullptr;
  about_image* corvelimage = nullptr;
  about_image* progicon = nullptr;

protected:
  // Title, copyright, extra text, build date visibility and the icon from the properties.
  void update_labels();
  void update_version_label();
  void corvelimage_dblclick(QObject* Sender);

  QString ftitle;
  QString fversion;
  QString fcopyright;
  QString fextra;
  bool fbeta = false;
  QString frevision;
  QString fbetaversion;
  bool fshowacorvel = false;
  bool fshowcompiledate = true;
  TNotifyEvent foneggclick;
  TNotifyEvent fonactivateerrlog;
  bool fbmp256 = true;
  QString fosversions;

private:
  void okbutton_click();
  void centre_on_screen(QWidget* above);
  // Grows the labels, the button and the dialog from their places at construction so that
  // every shown text fits in its font (see fit_places): the text column widens, a taller line
  // pushes what is below it down, and nothing ever shrinks below the places at construction.
  // Runs at every showing.
  void fit_to_texts();

  std::vector<described_place> fplaces;
  QSize fdescribed_size;
};

class TCorvelAbout : public TAbout {
public:
  explicit TCorvelAbout(TComponent* aowner);

  // TAbout's load completion, the family and version lines, the "auto" rules again, and the
  // picture from CORVELBMP: with BMP256 as a 256-colour bitmap at its own size (155 x 226),
  // otherwise as a picture for the display, without a colour table, in a 153 x 225 image.
  // Raises when the resource cannot be read.
  void Loaded() override;

protected:
  void update_labels();

private:
  void load_picture();
};

// The program's about box, configured as the main window keeps it: title "Murmelin",
// version 0.1 for Linux, the copyright of BriskoData in the year of the build, "Pink noise,
// simply", no family line, the build date shown, the 256-colour picture. The owner runs its
// Loaded with its other components.
TCorvelAbout* new_CorvelAbout1(TComponent* aowner);

}  // namespace murmelin
