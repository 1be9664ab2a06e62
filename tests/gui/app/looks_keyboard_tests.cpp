// SPDX-License-Identifier: GPL-3.0-or-later
// The windows' looks and keys, under the offscreen platform with the player on the wave-output
// test backend: the toolbar's captions read on their backgrounds in light and dark colour
// schemes; the windows grow to fit their texts in larger fonts and keep their described sizes
// at the default font; Space and the media keys run "Play", the preferences key runs
// "Settings...", and Tab walks the dialogs' controls.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>

#include "application.h"
#include "main_window_fixture.h"
#include "imagelist.h"
#include "sabout.h"
#include "translation.h"
#include "smurmelin1.h"
#include "smurmelin2.h"
#include "waveout_test_backend.h"

using namespace murmelin;
using namespace murmelin::testing;

namespace {

// ---- colours

double luminance(const QColor& c) {
  const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

// The WCAG contrast ratio, from 1 (the same) to 21 (black on white).
double contrast(const QColor& a, const QColor& b) {
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette dark_palette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x2d));
  p.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
  p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
  p.setColor(QPalette::AlternateBase, QColor(0x2d, 0x2d, 0x2d));
  p.setColor(QPalette::Text, QColor(0xee, 0xee, 0xee));
  p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
  p.setColor(QPalette::ButtonText, QColor(0xfc, 0xfc, 0xfc));
  p.setColor(QPalette::BrightText, Qt::white);
  p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
  p.setColor(QPalette::Midlight, QColor(0x45, 0x45, 0x45));
  p.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x30));
  p.setColor(QPalette::Dark, QColor(0x20, 0x20, 0x20));
  p.setColor(QPalette::Shadow, Qt::black);
  p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
  p.setColor(QPalette::HighlightedText, QColor(0xfc, 0xfc, 0xfc));
  return p;
}

QPalette light_palette() { return QApplication::style()->standardPalette(); }

// The application palette for the scope's lifetime.
class scoped_palette {
public:
  explicit scoped_palette(const QPalette& p) : fold(QApplication::palette()) { QApplication::setPalette(p); }
  ~scoped_palette() { QApplication::setPalette(fold); }
  scoped_palette(const scoped_palette&) = delete;
  scoped_palette& operator=(const scoped_palette&) = delete;

private:
  QPalette fold;
};

// ---- fonts and room

QString drawn_text(const QString& text) {
  QString out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QChar(u'&') && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

// Every font that root and its controls set for themselves, multiplied by factor; returns
// what to give back to undo it.
std::map<QWidget*, QFont> scale_fonts(QWidget* root, double factor) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  std::map<QWidget*, QFont> old;
  for (QWidget* w : widgets) {
    if (w == root || w->testAttribute(Qt::WA_SetFont)) old[w] = w->font();
  }
  for (auto& [w, f] : old) {
    QFont big = f;
    big.setPointSizeF(f.pointSizeF() * factor);
    w->setFont(big);
  }
  return old;
}

void restore_fonts(const std::map<QWidget*, QFont>& old) {
  for (const auto& [w, f] : old) w->setFont(f);
}

// Why the control's text does not show whole, or empty when it does: its text wider or
// taller than the control, or the control reaching beyond its window.
QString cut_text(QWidget* w) {
  const QFontMetrics fm = w->fontMetrics();
  QString text;
  QSize need;
  if (auto* l = qobject_cast<QLabel*>(w)) {
    text = l->text();
    need = l->wordWrap() ? QSize(0, l->heightForWidth(l->width())) : l->sizeHint();
  } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
    text = c->text();
    need = QSize(c->sizeHint().width(), fm.height());
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    text = b->text();
    // A frame of at least one pixel on each side.
    need = QSize(fm.horizontalAdvance(drawn_text(text)) + 2, fm.height() + 2);
    if (auto* t = qobject_cast<QToolButton*>(w); t && t->toolButtonStyle() == Qt::ToolButtonTextUnderIcon)
      need.rheight() += t->iconSize().height() + 2;
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    text = g->title();
    need = QSize(fm.horizontalAdvance(text), fm.height());
  } else if (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w)) {
    need = QSize(0, fm.height() + 2);
  }
  QString why;
  if (need.width() > w->width() || need.height() > w->height()) {
    why = QStringLiteral("%1 \"%2\" is %3x%4, its text needs %5x%6")
              .arg(w->objectName(), text)
              .arg(w->width())
              .arg(w->height())
              .arg(need.width())
              .arg(need.height());
  }
  const QRect in_window(w->mapTo(w->window(), QPoint(0, 0)), w->size());
  if (!QRect(QPoint(0, 0), w->window()->size()).contains(in_window)) {
    why += QStringLiteral(" %1 reaches beyond its window").arg(w->objectName());
  }
  return why;
}

void verify_nothing_cut(const QList<QWidget*>& controls) {
  for (QWidget* w : controls) {
    if (w->isHidden()) continue;
    const QString why = cut_text(w);
    QVERIFY2(why.isEmpty(), qPrintable(why));
  }
}

// No two of the controls with the same parent overlap.
void verify_no_overlap(const QList<QWidget*>& controls) {
  for (QWidget* a : controls) {
    for (QWidget* b : controls) {
      if (a == b || a->parentWidget() != b->parentWidget()) continue;
      QVERIFY2(!a->geometry().intersects(b->geometry()),
               qPrintable(a->objectName() + QStringLiteral(" overlaps ") + b->objectName()));
    }
  }
}

QList<QWidget*> dialog_controls(TForm2& d) {
  return {d.Label1,    d.leveledit,      d.Label2, d.fsedit,         d.Button1,
          d.Button2,   d.GroupBox1,      d.leftcheck, d.rightcheck, d.softonsetcheck,
          d.Label3,    d.soundcardcombo, d.Label4, d.stopaftercombo, d.Button3};
}

}  // namespace

class TestLooksKeyboard : public QObject, main_window_fixture {
  Q_OBJECT

  QList<QWidget*> main_controls() const {
    return {form->Label1, button_for(form->Playaction), button_for(form->settingsaction)};
  }
  QString display() const {
    return QStringLiteral("%1 | image %2 | %3")
        .arg(form->Label1->text())
        .arg(ImageIndex(form->Playaction))
        .arg(form->Playaction->isChecked() ? "checked" : "not checked");
  }
  // A key pressed and let go, or held down (the presses after the first repeat), as the
  // window system delivers it; also keys that have no text.
  static void press_key(QWidget* target, int key, bool held = false) {
    const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QTest::simulateEvent(target, true, key, Qt::NoModifier, text, false);
    if (held) {
      QTest::simulateEvent(target, true, key, Qt::NoModifier, text, true);
      QTest::simulateEvent(target, true, key, Qt::NoModifier, text, true);
    }
    QTest::simulateEvent(target, false, key, Qt::NoModifier, text, false);
  }
  // Shows the window and waits, for a bounded time, until it is the active one. (A dialog's
  // window counts as active for the window system already while its parent is.)
  void show_active(QWidget* w) {
    w->show();
    w->activateWindow();
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::activeWindow(), w, 5000);
  }

  // The caption's contrast on the button's own background, as drawn now on the toolbar: the
  // button drawn once with its caption and once without; the pixels that differ are the
  // caption's.
  double caption_contrast(QAction* a, int* caption_pixels) {
    QToolButton* b = button_for(a);
    const QImage with = form->ToolBar1->grab(b->geometry()).toImage();
    const QString caption = a->iconText();
    a->setIconText(QStringLiteral(" "));
    const QImage without = form->ToolBar1->grab(b->geometry()).toImage();
    a->setIconText(caption);
    double worst_best = 1.0;
    int n = 0;
    for (int y = 0; y < with.height(); ++y) {
      for (int x = 0; x < with.width(); ++x) {
        const QColor fg = with.pixelColor(x, y);
        const QColor bg = without.pixelColor(x, y);
        if (fg == bg) continue;
        ++n;
        // The strongest caption pixel is the caption's own colour; the rest are its
        // anti-aliased edges.
        worst_best = std::max(worst_best, contrast(fg, bg));
      }
    }
    *caption_pixels = n;
    return worst_best;
  }

  void verify_captions_readable(const char* scheme) {
    struct state {
      QAction* action;
      const char* name;
      bool hover;
      bool checked;
      bool down;
    };
    const std::vector<state> states = {
        {form->Playaction, "Play", false, false, false},
        {form->Playaction, "Play hovered", true, false, false},
        {form->Playaction, "Play checked", false, true, false},
        {form->Playaction, "Play checked and hovered", true, true, false},
        {form->Playaction, "Play pressed", true, false, true},
        {form->settingsaction, "Settings...", false, false, false},
        {form->settingsaction, "Settings... hovered", true, false, false},
        {form->settingsaction, "Settings... pressed", true, false, true},
    };
    for (const state& s : states) {
      QToolButton* b = button_for(s.action);
      if (s.action->isCheckable()) s.action->setChecked(s.checked);
      b->setAttribute(Qt::WA_UnderMouse, s.hover);
      b->setDown(s.down);
      int pixels = 0;
      const double ratio = caption_contrast(s.action, &pixels);
      b->setDown(false);
      b->setAttribute(Qt::WA_UnderMouse, false);
      if (s.action->isCheckable()) s.action->setChecked(false);
      const QString what = QStringLiteral("%1, %2: %3 caption pixels, contrast %4:1")
                               .arg(QLatin1String(scheme), QLatin1String(s.name))
                               .arg(pixels)
                               .arg(ratio, 0, 'f', 2);
      QVERIFY2(pixels >= 10, qPrintable(what));
      QVERIFY2(ratio >= 4.5, qPrintable(what));
    }
    // The gradient stays light at its start and pink at its end.
    const QImage bar = form->ToolBar1->grab().toImage();
    const QColor end = bar.pixelColor(form->ToolBar1->width() - 1, 1);
    QVERIFY2(std::abs(end.red() - 255) <= 6 && std::abs(end.green() - 155) <= 6 &&
                 std::abs(end.blue() - 207) <= 6,
             qPrintable(end.name()));
    const QColor start = bar.pixelColor(0, 1);
    QVERIFY2(luminance(start) >= 0.5, qPrintable(QLatin1String(scheme) + QChar(u' ') + start.name()));
  }

private slots:
  void init() { set_up({"Test device"}); }
  void cleanup() { tear_down(); }

  // ---- looks in every colour scheme

  void captions_read_on_their_backgrounds_data() {
    QTest::addColumn<bool>("dark");
    QTest::newRow("light scheme") << false;
    QTest::newRow("dark scheme") << true;
  }
  void captions_read_on_their_backgrounds() {
    QFETCH(bool, dark);
    scoped_palette scheme(dark ? dark_palette() : light_palette());
    create_windows();
    form->show();
    QCoreApplication::sendPostedEvents();
    verify_captions_readable(dark ? "dark" : "light");
  }

  void scheme_changing_while_the_window_shows() {
    scoped_palette light(light_palette());
    create_windows();
    form->show();
    QCoreApplication::sendPostedEvents();
    {
      scoped_palette dark(dark_palette());
      QCoreApplication::sendPostedEvents();
      verify_captions_readable("light, then dark");
    }
    QCoreApplication::sendPostedEvents();
    verify_captions_readable("dark, then light again");
  }

  // ---- room for the texts

  void default_font_keeps_the_described_sizes() {
    create_windows();
    form->show();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(form->size(), QSize(239, 78));
    QCOMPARE(form->minimumSize(), QSize(239, 78));
    QCOMPARE(form->ToolBar1->height(), 36);
    QCOMPARE(button_for(form->Playaction)->size(), QSize(58, 36));
    QCOMPARE(button_for(form->settingsaction)->size(), QSize(58, 36));
    // Every label text fits, not only the one that shows.
    for (const QString& t : {text_stopped, text_playing, text_overload}) {
      form->Label1->setText(t);
      form->Label1->adjustSize();
      verify_nothing_cut(main_controls());
    }
    QCOMPARE(form->size(), QSize(239, 78));

    // The dialog keeps its size and every control its place; a control is only larger than
    // described where the desktop's font is wider than the one it was drawn for.
    std::vector<QRect> described;
    for (QWidget* w : dialog_controls(*dialog)) described.push_back(w->geometry());
    dialog->show();
    QCOMPARE(dialog->size(), QSize(251, 214));
    const QList<QWidget*> controls = dialog_controls(*dialog);
    for (int i = 0; i < controls.size(); ++i) {
      QCOMPARE(controls[i]->pos(), described[i].topLeft());
      QVERIFY(controls[i]->width() >= described[i].width() && controls[i]->height() == described[i].height());
      if (qobject_cast<QLabel*>(controls[i]) == nullptr) QCOMPARE(controls[i]->size(), described[i].size());
    }
    verify_nothing_cut(controls);
    verify_no_overlap(controls);
  }

  void larger_fonts_grow_the_main_window() {
    create_windows();
    form->show();
    QCoreApplication::sendPostedEvents();
    const auto old = scale_fonts(form.get(), 2.0);
    QCoreApplication::sendPostedEvents();
    QVERIFY(form->Label1->font().pointSize() == 24);
    QVERIFY(form->width() > 239 && form->height() > 78);
    QCOMPARE(form->minimumSize(), form->size());
    QVERIFY(form->ToolBar1->height() > 36);
    verify_nothing_cut(main_controls());
    for (const QString& t : {text_stopped, text_playing, text_overload}) {
      form->Label1->setText(t);
      form->Label1->adjustSize();
      verify_nothing_cut(main_controls());
    }
    // The label stays below the toolbar, the buttons side by side in it.
    QCOMPARE(form->Label1->mapTo(form.get(), QPoint(0, 0)).y(), form->ToolBar1->height() + 12);
    QVERIFY(button_for(form->settingsaction)->x() >= button_for(form->Playaction)->width());

    // Back at the default font the window may be made small again.
    restore_fonts(old);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(form->minimumSize(), QSize(239, 78));
    QCOMPARE(button_for(form->Playaction)->size(), QSize(58, 36));
  }

  void larger_fonts_grow_the_settings_dialog() {
    create_windows();
    dialog->show();
    const QList<QWidget*> controls = dialog_controls(*dialog);
    std::vector<QRect> at_default;
    for (QWidget* w : controls) at_default.push_back(w->geometry());

    // While it shows.
    const auto old = scale_fonts(dialog, 2.0);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(dialog->Label1->font().pointSize(), 16);
    QVERIFY(dialog->width() > 251 && dialog->height() > 187);
    verify_nothing_cut(controls);
    verify_no_overlap(controls);
    // The arrangement stays: the level field right of the channels, the buttons in a row.
    QVERIFY(dialog->leveledit->x() > dialog->GroupBox1->x() + dialog->GroupBox1->width());
    QVERIFY(dialog->Button2->x() > dialog->Button1->x() + dialog->Button1->width());
    QVERIFY(dialog->Button3->x() > dialog->Button2->x() + dialog->Button2->width());
    QVERIFY(dialog->soundcardcombo->y() > dialog->Label3->y() + dialog->Label3->height());

    // Shown again at the default font, the controls are back at their places; the window,
    // which the user may have sized, does not shrink.
    const QSize grown = dialog->size();
    dialog->hide();
    restore_fonts(old);
    dialog->show();
    for (int i = 0; i < controls.size(); ++i) QCOMPARE(controls[i]->geometry(), at_default[i]);
    QCOMPARE(dialog->size(), grown);

    // Before it shows.
    dialog->hide();
    scale_fonts(dialog, 1.6);
    dialog->show();
    QVERIFY(dialog->width() > 251);
    verify_nothing_cut(controls);
    verify_no_overlap(controls);
  }

  void larger_fonts_grow_the_about_box() {
    create_windows();
    TCorvelAbout* a = form->CorvelAbout1;
    const QList<QWidget*> controls = {a->titlelabel,       a->versionlabel, a->corvellabel,
                                      a->copyrightlabel,   a->compiledatelabel, a->extralabel,
                                      a->memorylabel,      a->okbutton};
    a->showmodal();
    QCOMPARE(modal->dialogs.size(), size_t(1));
    const QSize at_default = a->form->size();
    verify_nothing_cut(controls);

    scale_fonts(a->form, 2.0);
    a->set_Extra(QStringLiteral("Pink noise, simply, in a font twice as large"));
    a->showmodal();
    QCOMPARE(modal->dialogs.size(), size_t(2));
    QVERIFY(a->form->width() > at_default.width() && a->form->height() > at_default.height());
    QCOMPARE(a->form->minimumSize(), a->form->maximumSize());
    verify_nothing_cut(controls);
    // Down the column in order, one under the other.
    for (int i = 1; i < controls.size(); ++i) {
      QVERIFY2(controls[i]->y() >= controls[i - 1]->y() + controls[i - 1]->height(),
               qPrintable(controls[i]->objectName() + QString::number(i)));
    }
    // The picture's panel keeps its place left of the text column, centred down the box.
    QCOMPARE(a->panel->x(), 10);
    QCOMPARE(a->panel->size(), QSize(163, 234));
    QVERIFY(a->titlelabel->x() >= 172);
    QVERIFY(std::abs(a->panel->y() * 2 + a->panel->height() - a->form->height()) <= 1);
    // The icon stays at the column's far end, "Ok" centred under the column.
    QCOMPARE(a->progicon->x() + a->progicon->width(), a->form->width() + 3);
    QVERIFY(std::abs(2 * a->okbutton->x() + a->okbutton->width() - 2 * a->titlelabel->x() -
                     a->titlelabel->width()) <= 3);
  }

  // Each window in each language, at the default font and at twice its size: every text
  // whole, nothing on top of anything else, and each window's keyboard letters (&) unique.
  void every_language_fits_its_texts_data() {
    QTest::addColumn<QString>("language");
    for (const char* l : {"de", "fr", "es"}) QTest::newRow(l) << QString::fromLatin1(l);
  }
  void every_language_fits_its_texts() {
    QFETCH(QString, language);
    struct english_again {
      ~english_again() { use_translations({QStringLiteral("C")}); }
    } restore;
    QCOMPARE(use_translations({language + QStringLiteral("-XX")}), language);
    create_windows();
    form->show();
    QVERIFY(form->Label1->text() != text_stopped);
    form->MPCPlay1->set_nChans(2);
    for (const char* t : {"Press play to play pink noise", "Playing pink noise", "Overload, reduce level!"}) {
      form->Label1->setText(QCoreApplication::translate("murmelin::TForm1", t));
      verify_nothing_cut(main_controls());
    }
    dialog->show();
    QVERIFY(dialog->Label1->text() != QStringLiteral("Level [dB]"));
    verify_nothing_cut(dialog_controls(*dialog));
    verify_no_overlap(dialog_controls(*dialog));
    TCorvelAbout* a = form->CorvelAbout1;
    a->showmodal();
    verify_nothing_cut({a->titlelabel, a->versionlabel, a->copyrightlabel, a->compiledatelabel,
                        a->extralabel, a->okbutton});
    // And at twice the font.
    scale_fonts(form.get(), 2.0);
    scale_fonts(dialog, 2.0);
    QCoreApplication::sendPostedEvents();
    verify_nothing_cut(main_controls());
    verify_nothing_cut(dialog_controls(*dialog));
    verify_no_overlap(dialog_controls(*dialog));
    for (QWidget* window : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(dialog)}) {
      QString letters;
      for (QObject* o : window->findChildren<QObject*>()) {
        QString text;
        if (auto* l = qobject_cast<QLabel*>(o)) text = l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(o)) text = b->text();
        const qsizetype amp = text.indexOf(QLatin1Char('&'));
        if (amp < 0 || amp + 1 >= text.size()) continue;
        const QChar letter = text.at(amp + 1).toLower();
        QVERIFY2(!letters.contains(letter), qPrintable(window->objectName() + ": " + text));
        letters += letter;
      }
    }
  }

  // ---- keys

  void space_and_media_keys_run_play_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("focus_on_play_button");
    QTest::newRow("Space") << int(Qt::Key_Space) << false;
    QTest::newRow("Space, Play button focused") << int(Qt::Key_Space) << true;
    QTest::newRow("media play/pause") << int(Qt::Key_MediaTogglePlayPause) << false;
    QTest::newRow("media play") << int(Qt::Key_MediaPlay) << false;
  }
  void space_and_media_keys_run_play() {
    QFETCH(int, key);
    QFETCH(bool, focus_on_play_button);
    create_windows();
    show_active(form.get());
    if (focus_on_play_button) button_for(form->Playaction)->setFocus();
    int runs = 0;
    connect(form->Playaction, &QAction::triggered, this, [&runs] { ++runs; });
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : form.get();

    press_key(target, key);
    QCOMPARE(runs, 1);
    QVERIFY(form->playing());
    QCOMPARE(display(), QStringLiteral("Playing pink noise | image 1 | checked"));
    QCOMPARE((**backend).open_streams(), 1);

    // Held down: the repeats do not flip playback back and forth.
    press_key(target, key, true);
    QCOMPARE(runs, 2);
    QVERIFY(!form->playing());
    QCOMPARE(display(), QStringLiteral("Press play to play pink noise | image 0 | not checked"));
    QCOMPARE((**backend).open_streams(), 0);

    press_key(target, key);
    QCOMPARE(runs, 3);
    QVERIFY(form->playing());
    press_key(target, key);
    QCOMPARE(runs, 4);
    QVERIFY(!form->playing());
    QCOMPARE(display(), QStringLiteral("Press play to play pink noise | image 0 | not checked"));
    QCOMPARE((**backend).open_streams(), 0);
  }

  void media_pause_and_stop_keys_only_stop_data() {
    QTest::addColumn<int>("key");
    QTest::newRow("media pause") << int(Qt::Key_MediaPause);
    QTest::newRow("media stop") << int(Qt::Key_MediaStop);
  }
  void media_pause_and_stop_keys_only_stop() {
    QFETCH(int, key);
    create_windows();
    show_active(form.get());
    press_key(form.get(), key);
    QVERIFY(!form->playing());
    QCOMPARE((**backend).open_streams(), 0);
    press_key(form.get(), Qt::Key_Space);
    QVERIFY(form->playing());
    press_key(form.get(), key);
    QVERIFY(!form->playing());
    QCOMPARE(display(), QStringLiteral("Press play to play pink noise | image 0 | not checked"));
    QCOMPARE((**backend).open_streams(), 0);
  }

  void preferences_keys_open_the_settings() {
    create_windows();
    show_active(form.get());
    const QList<QKeySequence> keys = form->settingsaction->shortcuts();
    QVERIFY(keys.contains(QKeySequence(Qt::CTRL | Qt::Key_Comma)));
    for (const QKeySequence& k : QKeySequence::keyBindings(QKeySequence::Preferences))
      QVERIFY(keys.contains(k));
    std::size_t shown = 0;
    for (const QKeySequence& k : keys) {
      QTest::keyClick(form.get(), Qt::Key_Space);
      QVERIFY(form->playing());
      bool stopped_when_shown = false;
      modal->on_dialog = [&](QDialog& d) {
        QCOMPARE(&d, static_cast<QDialog*>(dialog));
        stopped_when_shown = !form->playing() && (**backend).open_streams() == 0;
      };
      QTest::keySequence(form.get(), k);
      QCOMPARE(modal->dialogs.size(), ++shown);
      QVERIFY2(stopped_when_shown, qPrintable(k.toString()));
      QCOMPARE(display(), QStringLiteral("Press play to play pink noise | image 0 | not checked"));
    }
  }

  void tab_walks_the_settings_dialog_in_order() {
    create_windows();
    show_active(dialog);
    const std::vector<QWidget*> order = {dialog->leveledit,      dialog->fsedit,     dialog->Button1,
                                         dialog->Button2,        dialog->leftcheck,  dialog->rightcheck,
                                         dialog->softonsetcheck, dialog->soundcardcombo,
                                         dialog->stopaftercombo, dialog->Button3};
    const auto focused = [this]() -> QWidget* {
      QWidget* f = QApplication::focusWidget();
      // The editable combo box's text field stands for the box.
      if (f != nullptr && dialog->soundcardcombo->isAncestorOf(f)) return dialog->soundcardcombo;
      return f;
    };
    QCOMPARE(focused(), dialog->leveledit);
    for (std::size_t i = 1; i <= order.size(); ++i) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(focused(), order[i % order.size()]);
    }
    for (std::size_t i = order.size(); i-- > 0;) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
      QCOMPARE(focused(), order[i]);
    }
  }

  void space_in_the_dialog_stays_in_the_dialog() {
    create_windows();
    show_active(form.get());
    show_active(dialog);
    dialog->leftcheck->setFocus();
    const bool before = dialog->leftcheck->isChecked();
    QTest::keyClick(dialog->leftcheck, Qt::Key_Space);
    QCOMPARE(dialog->leftcheck->isChecked(), !before);
    QVERIFY(!form->playing());
    QCOMPARE((**backend).open_streams(), 0);
    // Space on a focused button presses it once.
    int cancels = 0;
    connect(dialog->Button2, &QPushButton::clicked, this, [&cancels] { ++cancels; });
    dialog->Button2->setFocus();
    QTest::keyClick(dialog->Button2, Qt::Key_Space);
    QCOMPARE(cancels, 1);
    QVERIFY(!dialog->isVisible());
    QVERIFY(!form->playing());
  }

  void the_about_box_button_takes_the_keys() {
    create_windows();
    TCorvelAbout* a = form->CorvelAbout1;
    bool focused = false;
    bool kept = false;
    modal->on_dialog = [&](QDialog& d) {
      show_active(&d);
      focused = QApplication::focusWidget() == a->okbutton;
      QTest::keyClick(a->okbutton, Qt::Key_Tab);
      kept = QApplication::focusWidget() == a->okbutton;
      QTest::keyClick(a->okbutton, Qt::Key_Space);
    };
    a->showmodal(form.get());
    QVERIFY(focused);
    QVERIFY(kept);
    QVERIFY(!a->form->isVisible());
    QCOMPARE(a->form->result(), int(QDialog::Accepted));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestLooksKeyboard t;
  return QTest::qExec(&t, argc, argv);
}

#include "looks_keyboard_tests.moc"
