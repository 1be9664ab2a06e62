#include "smurmelin1.h"

#include <QAction>
#include <QDialog>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QToolBar>
#include <QToolButton>

#include "application.h"
#include "checked_int.h"
#include "error_boundary.h"
#include "fonts.h"
#include "modal_seam.h"
#include "ui_smurmelin1.h"
#include "window_place.h"

// Qt's resource initialiser must be named outside any namespace.
static void init_murmelin_resources() { Q_INIT_RESOURCE(murmelin); }

namespace murmelin {

TForm1* Form1 = nullptr;

namespace {

constexpr int toolbar_height = 36;
constexpr int toolbutton_width = 58;
constexpr const char* text_stopped = "Press play to play pink noise";
constexpr const char* text_playing = "Playing pink noise";
constexpr const char* text_overload = "Overload, reduce level!";
constexpr const char* settings_file_id = "MurmelinSettings";

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
// buttons in light grey and checked buttons drawn pressed.
QString toolbar_style(const QColor& start) {
  return QStringLiteral(
             "QToolBar#ToolBar1 { border: 0px; padding: 0px; spacing: 0px;"
             " background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %1,"
             " stop:1 rgb(255, 155, 207)); }"
             "QToolBar#ToolBar1 QToolButton { border: 1px solid transparent; padding: 0px;"
             " margin: 0px; background: transparent; }"
             "QToolBar#ToolBar1 QToolButton:hover { background: rgb(228, 228, 228);"
             " border: 1px solid rgb(190, 190, 190); }"
             "QToolBar#ToolBar1 QToolButton:checked, QToolBar#ToolBar1 QToolButton:pressed {"
             " background: rgb(214, 214, 214); border-top: 1px solid rgb(128, 128, 128);"
             " border-left: 1px solid rgb(128, 128, 128); border-right: 1px solid white;"
             " border-bottom: 1px solid white; }")
      .arg(start.name());
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
  ToolBar1->setStyleSheet(toolbar_style(palette().color(QPalette::Base)));
  if (ToolBar1->layout() != nullptr) {
    ToolBar1->layout()->setContentsMargins(0, 0, 0, 0);
    ToolBar1->layout()->setSpacing(0);
  }
  for (QAction* a : {Playaction, settingsaction}) {
    if (QWidget* button = ToolBar1->widgetForAction(a)) {
      button->setFixedSize(toolbutton_width, toolbar_height);
    }
  }
  ToolBar1->setFixedHeight(toolbar_height);

  substitute_missing_fonts(this);
  Label1->adjustSize();

  connect(Playaction, &QAction::triggered, this,
          [this] { guarded([this] { PlayactionExecute(Playaction); }); });
  connect(settingsaction, &QAction::triggered, this,
          [this] { guarded([this] { settingsactionExecute(settingsaction); }); });

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
  ProgId1->set_Version(QStringLiteral("0.1"));
  ProgId1->set_Company(QStringLiteral("BriskoData"));
  ProgId1->set_Copyright(QStringLiteral("Copyright (c) BriskoData"));
  QOBFile1 = new TQOBFile(this);
  QOBFile1->set_ProgId(ProgId1);
  QOBFile1->set_SettingsFileName(QStringLiteral("settings.qobfile"));
  QOBFile1->set_FileVersion("0.0");
  CorvelAbout1 = new_CorvelAbout1(this);
  loaded_components();
}

// The player stops its device itself when it goes with the window.
TForm1::~TForm1() = default;

bool TForm1::event(QEvent* e) {
  const bool result = QMainWindow::event(e);
  // The first activation's set-up also runs when the window is first shown without being
  // activated (no window manager, focus-stealing prevention), before any input reaches it.
  if (!activated && (e->type() == QEvent::WindowActivate || e->type() == QEvent::Show)) {
    guarded([this] { FormActivate(this); });
  }
  return result;
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
    guarded([&] { listener(fplaying, noiselevel); });
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
    // The first blocks are filled inside Run, so an overload may already have stopped
    // playback when it returns.
    MPCPlay1->Run();
    if (fplaying) {
      set_label_text(QString::fromLatin1(text_playing));
      set_ImageIndex(Playaction, ImageList1, 1);
      Playaction->setChecked(true);
    }
  } else {
    MPCPlay1->Stop();
    set_label_text(QString::fromLatin1(text_stopped));
    set_ImageIndex(Playaction, ImageList1, 0);
    Playaction->setChecked(false);
  }
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
    set_playing(false);
    set_label_text(QString::fromLatin1(text_overload));
    show_settings_dialog();
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

void TForm1::save_settings(const QString& fname) {
  TQOBFile& store = *QOBFile1;
  store_emptier emptier(store);
  store.clear();
  store.set_FileId(settings_file_id);
  if (fname.isEmpty()) {
    if (!isMaximized()) {
      store.writeinteger("Mainwindow", "Top", window_top(*this));
      store.writeinteger("Mainwindow", "Left", window_left(*this));
      store.writeinteger("Mainwindow", "Height", window_height(*this));
      store.writeinteger("Mainwindow", "Width", window_width(*this));
    }
    if (fsettingsdialog != nullptr && !fsettingsdialog->isMaximized()) {
      store.writeinteger("SettingsWindow", "Top", window_top(*fsettingsdialog));
      store.writeinteger("SettingsWindow", "Left", window_left(*fsettingsdialog));
    }
  }
  store.writeinteger("Soundcard", "fs", fs);
  store.writefloat("Noise", "Level", noiselevel);
  store.writebool("Noise", "PlayLeft", noiseplayleft);
  store.writebool("Noise", "PlayRight", noiseplayright);
  store.writebool("Noise", "SoftOnset", softnoiseonset);
  store.writestring("General", "Soundcard", to_8bit(selected_device_name()));
  store.save_file(to_8bit(fname.isEmpty() ? settings_file_name() : fname));
}

void TForm1::load_settings(const QString& fname) {
  TQOBFile& store = *QOBFile1;
  store_emptier emptier(store);
  QString name = fname;
  // Each place is read with the window's present one as default and applied at once. A
  // window that was never placed and has no place in the file stays for the window system
  // to place.
  const auto place = [&](QWidget& w, const char* section, const char* key,
                         int32_t (*get)(const QWidget&), void (*set)(QWidget&, int32_t)) {
    const int32_t now = get(w);
    const int32_t value = store.readinteger(section, key, now);
    if (value != now || stored(section, key)) set(w, value);
  };
  if (name.isEmpty()) {
    name = settings_file_name();
    store.open_file(to_8bit(name));
    place(*this, "MainWindow", "Top", window_top, set_window_top);
    place(*this, "MainWindow", "Left", window_left, set_window_left);
    place(*this, "MainWindow", "Height", window_height, set_window_height);
    place(*this, "MainWindow", "Width", window_width, set_window_width);
    keep_on_desktop(this);
    if (fsettingsdialog != nullptr) {
      place(*fsettingsdialog, "SettingsWindow", "Top", window_top, set_window_top);
      place(*fsettingsdialog, "SettingsWindow", "Left", window_left, set_window_left);
      keep_on_desktop(fsettingsdialog);
    }
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
  } else if (QFileInfo::exists(name)) {
    message_box(QFileInfo(name).absoluteFilePath() +
                    QStringLiteral("\n does not contain options for Murmelin"),
                QStringLiteral("Wrong file type: \"") + from_8bit(store.FileId()) + QChar(u'"'),
                MB_OK | MB_ICONEXCLAMATION);
  }
}

void TForm1::set_label_text(const QString& text) {
  Label1->setText(text);
  Label1->adjustSize();
}

void TForm1::show_settings_dialog() {
  if (fsettingsdialog != nullptr) exec_modal(*fsettingsdialog);
}

}  // namespace murmelin
