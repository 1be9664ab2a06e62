#include "smurmelin1.h"

#include <QAction>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLayout>
#include <QToolBar>
#include <QToolButton>

#include "checked_int.h"
#include "error_boundary.h"
#include "fonts.h"
#include "modal_seam.h"
#include "ui_smurmelin1.h"

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
  // The settings file is read here once the settings store exists.
}

void TForm1::set_playing(bool v) {
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

void TForm1::set_label_text(const QString& text) {
  Label1->setText(text);
  Label1->adjustSize();
}

void TForm1::show_settings_dialog() {
  if (fsettingsdialog != nullptr) exec_modal(*fsettingsdialog);
}

}  // namespace murmelin
