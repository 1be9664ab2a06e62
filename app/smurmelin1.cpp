// SPDX-License-Identifier: GPL-3.0-or-later
#include "smurmelin1.h"

#include <QAction>
#include <QDialog>
#include <QEvent>
#include <QFileInfo>
#include <QFont>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QPalette>
#include <QTime>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cmath>

#include "application.h"
#include "checked_int.h"
#include "error_boundary.h"
#include "fonts.h"
#include "text_fit.h"
#include "modal_seam.h"
#include "ui_smurmelin1.h"
#include "version.h"
#include "window_place.h"

// Qt's resource initialiser must be named outside any namespace.
static void init_murmelin_resources() { Q_INIT_RESOURCE(murmelin); }

namespace murmelin {

TForm1* Form1 = nullptr;

namespace {

constexpr int toolbar_height = 36;
constexpr int toolbutton_width = 58;
constexpr int toolbutton_border = 1;
// The window's client area at the least.
constexpr int client_width = 239;
constexpr int client_height = 78;
// The captions' colour and the least luminance of a window colour that the gradient starts
// from; black text has 11:1 contrast on that.
constexpr const char* toolbar_caption_colour = "rgb(0, 0, 0)";
constexpr double min_start_luminance = 0.5;
// The label's texts, in the user's language where they are shown (tr()).
constexpr const char* text_stopped = QT_TRANSLATE_NOOP("murmelin::TForm1", "Press play to play pink noise");
constexpr const char* text_playing = QT_TRANSLATE_NOOP("murmelin::TForm1", "Playing pink noise");
constexpr const char* text_overload = QT_TRANSLATE_NOOP("murmelin::TForm1", "Overload, reduce level!");
constexpr const char* settings_file_id = "MurmelinSettings";
constexpr const char* window_caption = "Murmelin";
// The longest time "Stop after" takes from the settings file: a day.
constexpr int32_t max_stop_after = 1440;
// A timed playback stops this long after the last of its fade-out was handed to the player,
// so that what the sound server still holds (about 2 s) plays out before the device goes.
constexpr int32_t stop_tail_ms = 2500;

// Empties the store when a settings method ends, also when it ends by an error.
class store_emptier {
public:
  explicit store_emptier(TQOBFile& store) : fstore(store) {}
  ~store_emptier() { fstore.clear(); }
  store_emptier(const store_emptier&) = delete;
  store_emptier& operator=(const store_emptier&) = delete;

private:
  TQOBFile& fstore;
};

std::string to_8bit(const QString& s) { return s.toStdString(); }
QString from_8bit(const std::string& s) { return QString::fromStdString(s); }

// The toolbar's look: a horizontal gradient from the window colour to pink, hot-tracked
// buttons in light grey and checked buttons drawn pressed. The look stays light in every
// colour scheme: a dark window colour gives way to white at the start of the gradient, and
// the captions are drawn in a fixed dark colour that reads on every one of these backgrounds
// (at least 10:1 on the pink end, the darkest of them). The window's font is part of the
// sheet: a widget with a style sheet keeps the font it had when the sheet was applied and
// would not follow the window's later ones.
QString toolbar_style(const QColor& start, const QFont& font) {
  const QString size = font.pointSizeF() > 0 ? QString::number(font.pointSizeF()) + QStringLiteral("pt")
                                              : QString::number(font.pixelSize()) + QStringLiteral("px");
  const QString caption_font =
      QStringLiteral("font-family: \"%1\"; font-size: %2; font-weight: %3; font-style: %4;")
          .arg(font.family(), size)
          .arg(font.weight())
          .arg(QLatin1String(font.italic() ? "italic" : "normal"));
  return QStringLiteral(
             "QToolBar#ToolBar1 { border: 0px; padding: 0px; spacing: 0px;"
             " background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %1,"
             " stop:1 rgb(255, 155, 207)); }"
             "QToolBar#ToolBar1 QToolButton { border: %2px solid transparent; padding: 0px;"
             " margin: 0px; background: transparent; color: %3; %4 }"
             "QToolBar#ToolBar1 QToolButton:hover { background: rgb(228, 228, 228);"
             " border: %2px solid rgb(190, 190, 190); color: %3; }"
             "QToolBar#ToolBar1 QToolButton:checked, QToolBar#ToolBar1 QToolButton:pressed {"
             " background: rgb(214, 214, 214); border-top: %2px solid rgb(128, 128, 128);"
             " border-left: %2px solid rgb(128, 128, 128); border-right: %2px solid white;"
             " border-bottom: %2px solid white; color: %3; }"
             // The keyboard focus: a dotted frame, over every other look.
             "QToolBar#ToolBar1 QToolButton:focus { border: %2px dotted %3; }")
      .arg(start.name())
      .arg(toolbutton_border)
      .arg(QLatin1String(toolbar_caption_colour), caption_font);
}

// Relative luminance as the WCAG defines it: 0 for black, 1 for white.
double relative_luminance(const QColor& c) {
  const auto channel = [](double v) {
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  const QColor rgb = c.toRgb();
  return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) +
         0.0722 * channel(rgb.blueF());
}

// Where the gradient starts: the window colour while it is light, else white.
QColor gradient_start(const QPalette& palette) {
  const QColor base = palette.color(QPalette::Base);
  return relative_luminance(base) >= min_start_luminance ? base : QColor(Qt::white);
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), TComponent(nullptr), ui(new Ui::TForm1) {
  init_murmelin_resources();
  ui->setupUi(this);
  ToolBar1 = ui->ToolBar1;
  Playaction = ui->Playaction;
  settingsaction = ui->settingsaction;
  Label1 = ui->Label1;

  ImageList1.add(QIcon(QStringLiteral(":/icons/play_stopped.svg")));
  ImageList1.add(QIcon(QStringLiteral(":/icons/play_playing.svg")));
  ImageList1.add(QIcon(QStringLiteral(":/icons/settings.svg")));
  set_ImageIndex(Playaction, ImageList1, 0);
  set_ImageIndex(settingsaction, ImageList1, 2);

  // Toolbar: docked at the top, as high as its buttons, no handle and no menu to hide it.
  ToolBar1->toggleViewAction()->setVisible(false);
  substitute_missing_fonts(this);
  apply_toolbar_style();
  if (ToolBar1->layout() != nullptr) {
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
  }
  // The buttons take the focus from Tab (a click leaves it where it was), "Play" first, so
  // that the keyboard and a screen reader reach them.
  for (QAction* a : {Playaction, settingsaction}) {
    if (QWidget* button = ToolBar1->widgetForAction(a)) {
      button->setFixedSize(toolbutton_width, toolbar_height);
      button->setFocusPolicy(Qt::TabFocus);
      button->installEventFilter(this);
    }
  }
  ToolBar1->setFixedHeight(toolbar_height);
  Label1->installEventFilter(this);
  fbar_places = {described(ToolBar1->widgetForAction(Playaction), QRect(0, 0, toolbutton_width, toolbar_height)),
                 described(ToolBar1->widgetForAction(settingsaction),
                           QRect(toolbutton_width, 0, toolbutton_width, toolbar_height))};
  // The label as wide as the widest text it shows as written; in another language the window
  // grows with the texts (fit_to_texts).
  flabel_places = {described(Label1, QRect(Label1->pos(), every_label_text(false)))};

  // Keys: Space and the media play keys run "Play" as its button does; holding a key down
  // does not flip playback on and off. X11 reports the usual play/pause key as the play key,
  // so that one toggles too. The media pause and stop keys only stop.
  Playaction->setShortcuts({QKeySequence(Qt::Key_Space), QKeySequence(Qt::Key_MediaTogglePlayPause),
                            QKeySequence(Qt::Key_MediaPlay)});
  Playaction->setAutoRepeat(false);
  stopaction = new QAction(QStringLiteral("Stop"), this);
  stopaction->setShortcuts({QKeySequence(Qt::Key_MediaPause), QKeySequence(Qt::Key_MediaStop)});
  stopaction->setAutoRepeat(false);
  addAction(stopaction);
  // The desktop's preferences key where it has one, and Ctrl+, where it has none.
  QList<QKeySequence> preferences = QKeySequence::keyBindings(QKeySequence::Preferences);
  const QKeySequence fallback(Qt::CTRL | Qt::Key_Comma);
  if (!preferences.contains(fallback)) preferences.append(fallback);
  settingsaction->setShortcuts(preferences);
  settingsaction->setAutoRepeat(false);

  connect(Playaction, &QAction::triggered, this,
          [this] { guarded([this] { PlayactionExecute(Playaction); }); });
  connect(settingsaction, &QAction::triggered, this,
          [this] { guarded([this] { settingsactionExecute(settingsaction); }); });
  connect(stopaction, &QAction::triggered, this, [this] {
    if (fplaying) Playaction->trigger();
  });

  // Components, configured as the window describes them, then told they are loaded.
  MPCPlay1 = new TMPCPlay(this);
  MPCPlay1->set_OnStash(
      [this](TWaveChunk& arr, int32_t& used, bool& last) { MPCPlay1Stash(arr, used, last); });
  MPCPlay1->set_nChunkSamples(4096);
  MPCPlay1->set_nChans(1);
  MPCPlay1->set_sfTot(16000);
  MPCPlay1->set_nBuffers(4);
  ProgId1 = new TProgId(this);
  ProgId1->set_ProductName(QStringLiteral("Murmelin"));
  ProgId1->set_AutoVersion(false);
  ProgId1->set_Version(QStringLiteral(MURMELIN_VERSION));
  ProgId1->set_Company(QStringLiteral("BriskoData"));
  ProgId1->set_Copyright(QStringLiteral("Copyright (c) BriskoData"));
  QOBFile1 = new TQOBFile(this);
  QOBFile1->set_ProgId(ProgId1);
  QOBFile1->set_SettingsFileName(QStringLiteral("settings.qobfile"));
  QOBFile1->set_FileVersion("0.0");
  CorvelAbout1 = new_CorvelAbout1(this);
  loaded_components();
  fit_to_texts();
}

// The player stops its device itself when it goes with the window.
TForm1::~TForm1() = default;

bool TForm1::event(QEvent* e) {
  // The toolbar's buttons are hidden until the window shows, and the fitting passes over hidden
  // controls: the captions count from here on, before the window is mapped.
  if (e->type() == QEvent::Show && !e->spontaneous()) fit_to_texts();
  const bool result = QMainWindow::event(e);
  // The first activation's set-up also runs when the window is first shown without being
  // activated (no window manager, focus-stealing prevention), before any input reaches it.
  if (!activated && (e->type() == QEvent::WindowActivate || e->type() == QEvent::Show)) {
    guarded([this] { FormActivate(this); });
  }
  return result;
}

void TForm1::changeEvent(QEvent* e) {
  QMainWindow::changeEvent(e);
  if (e->type() == QEvent::PaletteChange) {
    apply_toolbar_style();
  } else if (e->type() == QEvent::FontChange) {
    apply_toolbar_style();
    fit_to_texts();
  } else if (e->type() == QEvent::StyleChange) {
    fit_to_texts();
  }
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
  // The label and the toolbar buttons may have fonts of their own.
  refit_after_change(*this, *e, ffit_posted, [this] { fit_to_texts(); });
  return QMainWindow::eventFilter(watched, e);
}

void TForm1::apply_toolbar_style() {
  // The window resource sets the font before the toolbar is taken over.
  if (ToolBar1 == nullptr) return;
  const QString style = toolbar_style(gradient_start(palette()), font());
  // Setting the same sheet again would restyle the toolbar for nothing.
  if (ToolBar1->styleSheet() != style) ToolBar1->setStyleSheet(style);
}

QSize TForm1::every_label_text(bool in_language) const {
  const QFontMetrics fm = Label1->fontMetrics();
  QSize room(0, fm.height());
  for (const char* t : {text_stopped, text_playing, text_overload}) {
    const QString text = in_language ? tr(t) : QString::fromUtf8(t);
    // As the label measures itself (its bounding box may reach a pixel past the advance).
    room.setWidth(std::max(room.width(), fm.boundingRect(QRect(), Qt::TextSingleLine, text).width()));
  }
  return room;
}

void TForm1::fit_to_texts() {
  if (fbar_places.empty() || flabel_places.empty()) return;
  // Every text the label shows, so the window does not change with the play state.
  flabel_places.front().least = every_label_text(true);
  const QSize bar = fit_places(fbar_places, {2 * toolbutton_width, toolbar_height});
  if (ToolBar1->height() != bar.height() || ToolBar1->minimumHeight() != bar.height())
    ToolBar1->setFixedHeight(bar.height());
  // The label's place is in the area under the toolbar.
  const QSize under = fit_places(flabel_places, {client_width, client_height - toolbar_height});
  const QSize least(std::max(bar.width(), under.width()), bar.height() + under.height());
  if (minimumSize() != least) setMinimumSize(least);
  if (width() < least.width() || height() < least.height())
    resize(std::max(width(), least.width()), std::max(height(), least.height()));
}

void TForm1::FormActivate(QObject* /*Sender*/) {
  if (activated) return;
  activated = true;
  fs = 44100;
  set_playing(false);
  noiseplayleft = true;
  noiseplayright = true;
  noiselevel = -10.0;
  pinknoise.pinkfilters.resize(tpinknoise::nsections);
  softnoiseonset = true;
  pinknoise.build_filter_bank(fs);
  load_settings(QString());
  notify_play_state();
}

void TForm1::add_play_state_listener(play_state_listener listener) {
  if (listener) flisteners.push_back(std::move(listener));
}

void TForm1::notify_play_state() noexcept {
  for (const play_state_listener& listener : flisteners) {
    guarded([&] { listener(fplaying, noiselevel, fstop_time); });
  }
}

void TForm1::set_playing(bool v) {
  // The listeners hear of every run, also of one that raised part-way.
  struct notify_at_end {
    TForm1* form;
    ~notify_at_end() { form->notify_play_state(); }
  } notify{this};
  fplaying = v;
  if (v) {
    MPCPlay1->set_nChans(2);
    MPCPlay1->set_sfTot(checked_mul(MPCPlay1->nChans(), fs));
    pinknoise.start_onset(fs);
    pinknoise.start_fade(fs, stopafter);
    fstop_frame = stopafter > 0 ? pinknoise.noisefadeend + int64_t{fs} * stop_tail_ms / 1000 : 0;
    // The first blocks are filled inside Run, so an overload may already have stopped
    // playback when it returns. A start that fails leaves the stopped display, so the next
    // press plays again.
    try {
      MPCPlay1->Run();
    } catch (...) {
      stop_quietly();
      throw;
    }
    if (fplaying) {
      if (fstop_frame > 0) {
        fstop_time = QLocale().toString(QTime::currentTime().addSecs(int64_t{stopafter} * 60),
                                        QLocale::ShortFormat);
        //: The main window's title while a timer runs: the program's name, then the clock time
        //: at which the noise stops.
        setWindowTitle(tr("%1 \u2013 until %2").arg(QLatin1String(window_caption), fstop_time));
      }
      set_label_text(tr(text_playing));
      set_ImageIndex(Playaction, ImageList1, 1);
      Playaction->setChecked(true);
    }
  } else {
    MPCPlay1->Stop();
    show_stopped();
  }
}

void TForm1::stop_after_error() noexcept {
  if (!fplaying) return;
  stop_quietly();
  notify_play_state();
}

void TForm1::stop_quietly() noexcept {
  try {
    MPCPlay1->Stop();
  } catch (const std::exception&) {
    // The error being reported is the one that counts; the device is let go of all the same
    // the next time playback stops or starts.
  }
  show_stopped();
}

void TForm1::show_stopped() {
  fplaying = false;
  fstop_frame = 0;
  fstop_time.clear();
  setWindowTitle(QString::fromLatin1(window_caption));
  set_label_text(tr(text_stopped));
  set_ImageIndex(Playaction, ImageList1, 0);
  Playaction->setChecked(false);
}

void TForm1::PlayactionExecute(QObject* /*Sender*/) { set_playing(!fplaying); }

void TForm1::settingsactionExecute(QObject* /*Sender*/) {
  set_playing(false);
  show_settings_dialog();
}

void TForm1::MPCPlay1Stash(TWaveChunk& arr, int32_t& used, bool& /*last*/) {
  const bool overload =
      pinknoise.fill_block(arr, used, noiselevel, softnoiseonset, noiseplayleft, noiseplayright);
  if (overload) {
    // The block is filled in full, but playback stops before this refill returns, so the
    // clipped block is never played. The dialog opens from the window's own event loop, never
    // from inside the player's refill.
    set_playing(false);
    set_label_text(tr(text_overload));
    QMetaObject::invokeMethod(
        this, [this] { guarded([this] { show_settings_dialog(); }); }, Qt::QueuedConnection);
  } else if (fstop_frame > 0 && pinknoise.noisefadecount >= fstop_frame) {
    // The time is up and the fade has played out: stopped as by "Play".
    set_playing(false);
  }
}

QString TForm1::settings_file_name() {
  const QString store_path = QOBFile1->settings_filename();
  return store_path.left(store_path.lastIndexOf(QChar(u'/')) + 1) +
         QStringLiteral("MurmelinSettings.qobfile");
}

QString TForm1::selected_device_name() const {
  const int32_t id = MPCPlay1->DeviceID();
  const QStringList& names = MPCPlay1->Devicenames();
  if (id < 0 || id >= names.size()) return QString();
  return names[id];
}

int32_t TForm1::find_device(const QString& name) const {
  // The empty name stands for the default device, also when a device has no name.
  if (name.isEmpty()) return -1;
  const QString wanted = name.toLower();
  const QStringList& names = MPCPlay1->Devicenames();
  for (qsizetype i = 0; i < names.size(); ++i) {
    if (names[i].toLower() == wanted) return static_cast<int32_t>(i);
  }
  return -1;
}

bool TForm1::stored(const std::string& section, const std::string& key) const {
  const QString s = from_8bit(section).toLower();
  const QString k = from_8bit(key).toLower();
  for (int32_t i = 0; i < QOBFile1->nnodes(); ++i) {
    const pnode n = QOBFile1->get_nodeno(i);
    if (from_8bit(n->section).toLower() == s && from_8bit(n->key).toLower() == k) return true;
  }
  return false;
}

namespace {
// A window place row as the program remembers it, whatever the letter case in the file.
std::string place_key(const char* section, const char* key) {
  return from_8bit(section).toLower().toStdString() + '/' + key;
}
}  // namespace

void TForm1::save_settings(const QString& fname) {
  TQOBFile& store = *QOBFile1;
  store_emptier emptier(store);
  store.clear();
  store.set_FileId(settings_file_id);
  if (fname.isEmpty()) {
    // Where the window system keeps places to itself, the file keeps the ones it had.
    const bool own_places = window_places_are_ours();
    const auto write_place = [&](const char* section, const char* key, int32_t value) {
      if (own_places) {
        store.writeinteger(section, key, value);
      } else if (const auto kept = fforeign_places.find(place_key(section, key));
                 kept != fforeign_places.end()) {
        store.writeinteger(section, key, kept->second);
      }
    };
    if (!isMaximized()) {
      write_place("Mainwindow", "Top", window_top(*this));
      write_place("Mainwindow", "Left", window_left(*this));
      store.writeinteger("Mainwindow", "Height", window_height(*this));
      store.writeinteger("Mainwindow", "Width", window_width(*this));
    }
    if (fsettingsdialog != nullptr && !fsettingsdialog->isMaximized()) {
      write_place("SettingsWindow", "Top", window_top(*fsettingsdialog));
      write_place("SettingsWindow", "Left", window_left(*fsettingsdialog));
    }
  }
  store.writeinteger("Soundcard", "fs", fs);
  store.writefloat("Noise", "Level", noiselevel);
  store.writebool("Noise", "PlayLeft", noiseplayleft);
  store.writebool("Noise", "PlayRight", noiseplayright);
  store.writebool("Noise", "SoftOnset", softnoiseonset);
  store.writestring("General", "Soundcard", to_8bit(selected_device_name()));
  store.writeinteger("Noise", "StopAfter", stopafter);
  store.save_file(to_8bit(fname.isEmpty() ? settings_file_name() : fname));
}

void TForm1::load_settings(const QString& fname) {
  TQOBFile& store = *QOBFile1;
  store_emptier emptier(store);
  QString name = fname;
  // Each place is read with the window's present one as default. A window that was never
  // placed and has no place in the file stays for the window system to place; one that has is
  // kept on the desktop and put there in one step, frame included.
  const auto place = [&](QWidget& w, const char* section, bool with_size) {
    const screen_rect now{window_left(w), window_top(w), window_width(w), window_height(w)};
    screen_rect wanted = now;
    bool stored_any = false;
    const auto read = [&](const char* key, int32_t& value) {
      value = store.readinteger(section, key, value);
      stored_any = stored_any || stored(section, key);
    };
    read("Top", wanted.top);
    read("Left", wanted.left);
    if (!window_places_are_ours()) {
      // The compositor places the window; the file's place is kept for the next X11 session.
      for (const char* key : {"Top", "Left"}) {
        if (stored(section, key))
          fforeign_places[place_key(section, key)] = store.readinteger(section, key, 0);
      }
      wanted.top = now.top;
      wanted.left = now.left;
      stored_any = false;
    }
    if (with_size) {
      read("Height", wanted.height);
      read("Width", wanted.width);
    }
    if (!stored_any && wanted == now) return;
    const screen_rect kept = kept_on_work_area(w, wanted);
    set_outer_place(w, kept, with_size && (kept.width != now.width || kept.height != now.height));
  };
  if (name.isEmpty()) {
    name = settings_file_name();
    store.open_file(to_8bit(name));
    place(*this, "MainWindow", true);
    if (fsettingsdialog != nullptr) place(*fsettingsdialog, "SettingsWindow", false);
  } else {
    store.open_file(to_8bit(name));
  }

  if (store.FileId() == settings_file_id) {
    fs = store.readinteger("Soundcard", "fs", fs);
    noiselevel = store.readfloat("Noise", "Level", noiselevel);
    noiseplayleft = store.readbool("Noise", "PlayLeft", noiseplayleft);
    noiseplayright = store.readbool("Noise", "PlayRight", noiseplayright);
    softnoiseonset = store.readbool("Noise", "SoftOnset", softnoiseonset);
    const QString device = from_8bit(
        store.readstring("General", "Soundcard", to_8bit(selected_device_name())));
    MPCPlay1->set_DeviceID(find_device(device));
    // Any time up to a day, also one the dialog does not offer; anything else is never.
    const int32_t minutes = store.readinteger("Noise", "StopAfter", 0);
    stopafter = minutes >= 1 && minutes <= max_stop_after ? minutes : 0;
  } else if (QFileInfo::exists(name)) {
    message_box(tr("%1\n does not contain options for Murmelin").arg(QFileInfo(name).absoluteFilePath()),
                tr("Wrong file type: \"%1\"").arg(from_8bit(store.FileId())), MB_OK | MB_ICONEXCLAMATION);
  }
}

// The label is fitted to every text it shows, so a new one needs no fitting.
void TForm1::set_label_text(const QString& text) { Label1->setText(text); }

void TForm1::show_settings_dialog() {
  if (fsettingsdialog != nullptr) exec_modal(*fsettingsdialog);
}

}  // namespace murmelin
