// SPDX-License-Identifier: GPL-3.0-or-later
#include "sabout.h"

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QtEndian>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "build_date.h"
#include "error_boundary.h"
#include "exceptions.h"
#include "fonts.h"
#include "modal_seam.h"
#include "sdbra.h"
#include "text_fit.h"
#include "translation.h"
#include "version.h"

// Qt's resource initialiser must be named outside any namespace.
static void init_about_resources() { Q_INIT_RESOURCE(murmelin); }

namespace murmelin {

const char* const corvel_bitmap_resource = ":/bitmaps/CORVELBMP";

namespace {

// Places at 96 pixels per inch, where a line of the dialog font is 13 pixels high.
constexpr int client_width = 410;
constexpr int label_left = 172;
constexpr int label_width = 237;
constexpr int panel_left = 10;
constexpr int panel_width = 163;
constexpr int panel_height = 234;
constexpr int picture_offset = 4;
constexpr int picture_width = 153;
constexpr int picture_height = 225;
constexpr int icon_size = 32;
constexpr int title_top = 16;
constexpr int title_height = 23;
// The least room kept above the title when it grows, and beside a line that widens the
// text column.
constexpr int title_min_top = 8;
constexpr int column_padding = 6;


// The program's texts end lines with a carriage return; the labels want line feeds.
QString display_text(const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QChar(u'\r'), QChar(u'\n'));
  return t;
}

void set_label_text(QLabel* label, const QString& text) { label->setText(display_text(text)); }

// The height of a label that follows its text: the text wrapped at the label's width, and one
// line when the text is empty.
void fit_height(QLabel* label) {
  const int line = label->fontMetrics().height();
  const int h = label->text().isEmpty() ? line : std::max(line, label->heightForWidth(label->width()));
  label->resize(label->width(), h);
}

QLabel* make_label(QWidget* parent, bool wrap) {
  auto* l = new QLabel(parent);
  l->setTextFormat(Qt::PlainText);
  l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  l->setWordWrap(wrap);
  return l;
}

int bottom_of(const QWidget* w) { return w->y() + w->height(); }

// Little-endian fields of the bitmap; a field beyond the data raises.
QByteArray read_resource(const char* path) {
  QFile f(QString::fromLatin1(path));
  if (!f.open(QIODevice::ReadOnly)) {
    throw EInOutError(std::string("Resource ") + path + " not found");
  }
  return f.readAll();
}

// A whole number in 32 bits, as the standard conversion reads it.
bool to_int32(const QString& text, int32_t& out) {
  bool ok = false;
  out = text.toInt(&ok, 10);
  return ok;
}

}  // namespace

QDate build_date() { return QDate(murmelin_build_year, murmelin_build_month, murmelin_build_day); }


// ---- TAbout

TAbout::TAbout(TComponent* aowner) : TComponent(aowner) {
  init_about_resources();
  form = new about_form();
  // Made in the order they are read, top to bottom: a screen reader goes through the texts
  // in this order.
  panel = new about_panel(form);
  corvelimage = new about_image(panel);
  progicon = new about_image(form);
  titlelabel = make_label(form, false);
  versionlabel = make_label(form, false);
  corvellabel = make_label(form, false);
  copyrightlabel = make_label(form, false);
  compiledatelabel = make_label(form, true);
  extralabel = make_label(form, true);
  memorylabel = make_label(form, true);
  okbutton = new QPushButton(form);

  form->setObjectName(QStringLiteral("AboutForm"));
  form->setWindowTitle(translated("murmelin::TAbout", "About"));
  form->setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  // The dialog frame: fixed size, a close box, no minimise, maximise or help button.
  form->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  form->setModal(true);
  QFont title_font(QStringLiteral("Arial"), 16);
  title_font.setBold(true);
  titlelabel->setFont(title_font);
  // Faces the desktop lacks give way to its sans-serif before anything is measured.
  substitute_missing_fonts(form);

  ftitle = QStringLiteral("AppName");
  fversion = QStringLiteral("auto");
  fcopyright = QString::fromUtf8("Copyright \u00A9 19xx-19xx, the author");
  fextra.clear();
  fshowacorvel = false;
  fshowcompiledate = true;
  frevision.clear();
  fbmp256 = true;
  fosversions = QStringLiteral("Win95/98/NT");
  fbeta = false;
  fbetaversion.clear();

  titlelabel->setGeometry(label_left, title_top, label_width, title_height);
  titlelabel->setAlignment(Qt::AlignCenter);
  titlelabel->setForegroundRole(QPalette::WindowText);
  versionlabel->setGeometry(label_left, bottom_of(titlelabel) + 2, label_width, 13);
  corvellabel->setGeometry(label_left, bottom_of(versionlabel) + 2, label_width, 13);
  copyrightlabel->setGeometry(label_left, bottom_of(corvellabel) + 4, label_width, 13);
  compiledatelabel->setGeometry(label_left, bottom_of(copyrightlabel) + 2, label_width, 13);
  fit_height(compiledatelabel);
  const int line = compiledatelabel->fontMetrics().height();
  extralabel->setGeometry(label_left, bottom_of(compiledatelabel) + 5 * line + 7, label_width, 13);
  extralabel->setText(display_text(QStringLiteral(" \r \r ")));
  fit_height(extralabel);
  memorylabel->setGeometry(label_left, bottom_of(extralabel) + 2, label_width, 13);
  fit_height(memorylabel);

  set_label_text(compiledatelabel, translated("murmelin::TAbout", "Compiled %1")
                                       .arg(QLocale().toString(build_date(), QLocale::ShortFormat)));
  compiledatelabel->resize(titlelabel->width(), compiledatelabel->height());
  fit_height(compiledatelabel);

  okbutton->setText(translated("murmelin::TAbout", "&Ok"));
  okbutton->setGeometry(254, bottom_of(memorylabel) + 5, 75, 25);
  okbutton->setDefault(true);
  QObject::connect(okbutton, &QPushButton::clicked, form, [this] { okbutton_click(); });

  const int client_height = bottom_of(okbutton) + 10;
  form->setFixedSize(client_width, client_height);

  panel->setGeometry(panel_left, (client_height - panel_height) / 2, panel_width, panel_height);
  corvelimage->setGeometry(picture_offset, picture_offset, picture_width, picture_height);
  corvelimage->set_Transparent(true);
  progicon->setGeometry(372, 9, 41, 37);

  update_labels();
  fdescribed_size = form->size();
  fplaces = described_places({titlelabel, versionlabel, corvellabel, copyrightlabel,
                              compiledatelabel, extralabel, memorylabel, okbutton, panel,
                              progicon});
  // The one-line texts keep some room beside them in the column.
  for (described_place& p : fplaces) {
    if (p.control == titlelabel || p.control == versionlabel || p.control == corvellabel ||
        p.control == copyrightlabel)
      p.padding = column_padding;
  }
}

TAbout::~TAbout() { delete form; }

void TAbout::Loaded() {
  TComponent::Loaded();
  if (fversion == QLatin1String("auto")) fversion = QStringLiteral("3.0");
  if (frevision == QLatin1String("auto")) frevision.clear();
}

void TAbout::update_labels() {
  set_label_text(titlelabel, ftitle);
  compiledatelabel->setVisible(fshowcompiledate);
  set_label_text(copyrightlabel, fcopyright);
  set_label_text(extralabel, fextra);
  fit_height(extralabel);
  QIcon icon = QGuiApplication::windowIcon();
  if (icon.isNull()) icon = QIcon(QStringLiteral(":/icons/murmelin.svg"));
  progicon->set_Icon(icon);
}

void TAbout::update_version_label() {
  QString version = fversion + frevision;
  if (fbeta) version += QString::fromUtf8(" \u00DF") + fbetaversion;
  //: The about box's version line: the version, then the systems it runs on.
  set_label_text(versionlabel, translated("murmelin::TAbout", "Version %1 for %2").arg(version, fosversions));
}

void TAbout::set_Title(const QString& value) {
  ftitle = value;
  set_label_text(titlelabel, value);
}

void TAbout::set_Version(const QString& value) {
  fversion = value;
  update_version_label();
}

void TAbout::set_Copyright(const QString& value) {
  fcopyright = value;
  set_label_text(copyrightlabel, value);
}

void TAbout::set_Extra(const QString& value) {
  fextra = value;
  set_label_text(extralabel, value);
  extralabel->resize(titlelabel->width(), extralabel->height());
  fit_height(extralabel);
  extralabel->setVisible(!value.isEmpty());
}

void TAbout::set_Revision(const QString& value) {
  frevision = value;
  update_version_label();
}

void TAbout::set_OSVersions(const QString& value) {
  fosversions = value;
  update_version_label();
}

void TAbout::set_beta(bool value) {
  fbeta = value;
  update_version_label();
}

void TAbout::set_betaversion(const QString& value) {
  fbetaversion = value;
  update_version_label();
}

double TAbout::VersionNumber() {
  try {
    Loaded();
    return str_to_float_dot(fversion.toStdString());
  } catch (...) {
    return 0.0;
  }
}

uint16_t TAbout::intversion() const {
  const qsizetype dot = fversion.indexOf(QChar(u'.'));
  if (dot < 0) {
    int32_t v = 0;
    if (!to_int32(fversion, v) || v < 0 || v > 65535) return 0;
    return static_cast<uint16_t>(v);
  }
  int32_t major = 0;
  int32_t minor = 0;
  if (!to_int32(fversion.left(dot), major) || !to_int32(fversion.mid(dot + 1, 255), minor)) return 0;
  return static_cast<uint16_t>(((static_cast<uint32_t>(major) & 0xFFu) << 8) |
                               (static_cast<uint32_t>(minor) & 0xFFu));
}

void TAbout::corvelimage_dblclick(QObject* Sender) {
  if (fonactivateerrlog) fonactivateerrlog(Sender);
}

void TAbout::okbutton_click() { form->accept(); }

void TAbout::fit_to_texts() {
  // The title (the first place) takes the room above it first.
  const int title_need = titlelabel->isHidden() ? 0 : label_room(*titlelabel).height();
  const int up = std::clamp(title_need - title_height, 0, title_top - title_min_top);
  fplaces.front().place = QRect(label_left, title_top - up, label_width, title_height + up);
  form->setFixedSize(fit_places(fplaces, fdescribed_size));
  // "Ok" stays centred under the text column, and the extra line's height follows its text.
  const QRect ok = std::find_if(fplaces.begin(), fplaces.end(), [this](const described_place& p) {
                    return p.control == okbutton;
                  })->place;
  okbutton->move(ok.x() + (titlelabel->width() - label_width - (okbutton->width() - ok.width())) / 2,
                 okbutton->y());
  fit_height(extralabel);
}

void TAbout::centre_on_screen(QWidget* above) {
  QScreen* screen = above != nullptr ? above->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect outer(QPoint(0, 0), form->frameGeometry().size());
  outer.moveCenter(screen->availableGeometry().center());
  form->move(outer.topLeft());
}

void TAbout::showmodal(QWidget* above) {
  progicon->OnDblClick = foneggclick;
  corvelimage->OnDblClick = [this](QObject* Sender) { corvelimage_dblclick(Sender); };
  TAbout::update_labels();
  set_Extra(fextra);
  fit_to_texts();
  // Selecting and realising the picture's palette is left out: today's displays show true
  // colour and have no palette, so it would change nothing.
  if (above != nullptr) {
    QWidget* top = above->window();
    form->winId();
    top->winId();
    if (form->windowHandle() != nullptr) form->windowHandle()->setTransientParent(top->windowHandle());
  }
  centre_on_screen(above);
  exec_modal(*form);
}

// ---- TCorvelAbout

TCorvelAbout::TCorvelAbout(TComponent* aowner) : TAbout(aowner) {
  fcopyright = QString::fromUtf8("Copyright \u00A9 19xx-19xx BriskoData");
  update_labels();
}

void TCorvelAbout::update_labels() {
  TAbout::update_labels();
  set_label_text(corvellabel, translated("murmelin::TAbout", "A Corvel application"));
  corvellabel->setVisible(fshowacorvel);
  update_version_label();
}

void TCorvelAbout::Loaded() {
  TAbout::Loaded();
  update_labels();
  if (fversion == QLatin1String("auto")) fversion = QStringLiteral("3.0");
  if (frevision == QLatin1String("auto")) frevision.clear();
  load_picture();
}

void TCorvelAbout::load_picture() {
  const QByteArray file = bitmap_file_from_dib(read_resource(corvel_bitmap_resource));
  QImage picture;
  if (!picture.loadFromData(file, "BMP")) {
    throw EConvertError(std::string("Resource ") + corvel_bitmap_resource + " is not a bitmap");
  }
  if (fbmp256) {
    // The bitmap as it is, with its own colour table, at its own size.
    corvelimage->set_Picture(picture);
    corvelimage->resize(picture.size());
  } else {
    // A picture for the display: no colour table of its own; the image keeps its size.
    QPixmap display;
    display.loadFromData(file, "BMP");
    corvelimage->set_Picture(display.toImage());
    corvelimage->resize(picture_width, picture_height);
  }
}

TCorvelAbout* new_CorvelAbout1(TComponent* aowner) {
  auto* about = new TCorvelAbout(aowner);
  about->set_Title(QStringLiteral("Murmelin"));
  about->set_Version(QStringLiteral(MURMELIN_VERSION));
  about->set_Copyright(QString::fromUtf8("Copyright \u00A9 %1 BriskoData").arg(build_date().year()));
  about->set_Extra(translated("murmelin::TAbout", "Pink noise, simply"));
  about->set_ShowACorvel(false);
  about->set_ShowCompileDate(true);
  about->set_BMP256(true);
  about->set_OSVersions(QStringLiteral("Linux"));
  return about;
}

}  // namespace murmelin
