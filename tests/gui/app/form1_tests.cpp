// SPDX-License-Identifier: GPL-3.0-or-later
// The main window driven under the offscreen platform, the player on the wave-output test
// backend: start-up display, the play control and its failures, the overload reaction,
// "Settings...", re-activation, the soft onset and the filter bank across playbacks, and the
// window's layout and look.
#include <QAction>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include "application.h"
#include "cMPC.h"
#include "fonts.h"
#include "main_window_fixture.h"
#include "imagelist.h"
#include "modal_seam.h"
#include "form1_test_access.h"
#include "smurmelin1.h"
#include "waveout_test_backend.h"

using namespace murmelin;
using namespace murmelin::testing;

namespace {

QString display_of(const QString& text, int image, bool checked) {
  return QStringLiteral("%1 | image %2 | %3").arg(text).arg(image).arg(checked ? "checked" : "not checked");
}

bool near_colour(const QColor& c, int r, int g, int b, int tolerance = 10) {
  return std::abs(c.red() - r) <= tolerance && std::abs(c.green() - g) <= tolerance &&
         std::abs(c.blue() - b) <= tolerance;
}

}  // namespace

class TestForm1 : public QObject, main_window_fixture {
  Q_OBJECT

  tpinknoise& pink() const { return form1_test_access::pinknoise(*form); }

  QString display() const {
    return display_of(form->Label1->text(), ImageIndex(form->Playaction),
                      form->Playaction->isChecked());
  }
  // A real click on the toolbar button, as the user gives it.
  void click(QAction* a) { QTest::mouseClick(button_for(a), Qt::LeftButton); }
  // The device plays n buffers; the window handles their done notifications.
  void play_buffers(int n) {
    for (int i = 0; i < n; ++i) {
      QVERIFY(tb().play_next());
      QCoreApplication::sendPostedEvents();
    }
  }
private slots:
  void init() {
    set_up({"Test device"});
    create_windows(true);
  }
  void cleanup() { tear_down(); }

  // ---- start-up

  void before_first_show_nothing_is_set_up() {
    QCOMPARE(form->Label1->text(), QStringLiteral("Label1"));
    QCOMPARE(ImageIndex(form->Playaction), 0);
    QVERIFY(!form->Playaction->isChecked());
    QVERIFY(!form->playing());
    QVERIFY(!form1_test_access::activated(*form));
    QVERIFY(pink().pinkfilters.empty());
  }

  void first_show_sets_up_once_before_any_input() {
    form->show();
    // No event processed yet: the set-up ran while the window was being shown.
    QVERIFY(form1_test_access::activated(*form));
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    QVERIFY(!form->playing());
    QCOMPARE(form->fs, 44100);
    QCOMPARE(form->noiselevel, -10.0);
    QVERIFY(form->noiseplayleft);
    QVERIFY(form->noiseplayright);
    QVERIFY(form->softnoiseonset);
    QCOMPARE(pink().pinkfilters.size(), size_t(10));
    for (int i = 0; i < 10; ++i) {
      const auto& f = pink().pinkfilters[i];
      QVERIFY(f != nullptr);
      QCOMPARE(f->SampFreq(), 44100.0);
      QCOMPARE(f->FPole(), 20.0 * (1 << i));
      QVERIFY(!f->UnityGainAtHF());
      QCOMPARE(f->state_z1(), 0.0);
    }
    // The player was left alone, and nothing asked the user anything.
    QCOMPARE(tb().call_count(waveout_op::open), 0);
    QVERIFY(modal->boxes.empty());
    QVERIFY(modal->dialogs.empty());
  }

  void player_is_owned_and_configured() {
    QVERIFY(form->MPCPlay1 != nullptr);
    QCOMPARE(form->MPCPlay1->Owner(), static_cast<TComponent*>(form.get()));
    QCOMPARE(form->MPCPlay1->nChunkSamples(), 4096);
    QCOMPARE(form->MPCPlay1->nBuffers(), 4);
    QCOMPARE(form->MPCPlay1->nChans(), 1);
    QCOMPARE(form->MPCPlay1->sfTot(), 16000);
    QCOMPARE(form->MPCPlay1->DeviceID(), -1);
    QVERIFY(static_cast<bool>(form->MPCPlay1->OnStash()));
    QVERIFY(!form->MPCPlay1->OwnBoard());
  }

  void reactivation_changes_nothing() {
    form->show();
    form->fs = 48000;
    form->noiselevel = -3.5;
    form->softnoiseonset = false;
    form->noiseplayleft = false;
    const TRealFilterSection* first = pink().pinkfilters[0].get();
    const TRealFilterSection* last = pink().pinkfilters[9].get();

    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activate);
    form->hide();
    form->show();
    form->activateWindow();
    settle();

    QCOMPARE(form->fs, 48000);
    QCOMPARE(form->noiselevel, -3.5);
    QVERIFY(!form->softnoiseonset);
    QVERIFY(!form->noiseplayleft);
    QCOMPARE(pink().pinkfilters[0].get(), first);
    QCOMPARE(pink().pinkfilters[9].get(), last);
    QCOMPARE(pink().pinkfilters[0]->SampFreq(), 44100.0);
  }

  // ---- the play control

  void play_twice_plays_then_releases_the_device() {
    form->show();
    click(form->Playaction);
    QVERIFY(form->playing());
    QCOMPARE(display(), display_of(text_playing, 1, true));
    QCOMPARE(tb().open_streams(), 1);
    QCOMPARE(tb().last_format().nChannels, uint16_t(2));
    QCOMPARE(tb().last_format().nSamplesPerSec, uint32_t(44100));
    QCOMPARE(form->MPCPlay1->sfTot(), 88200);
    QCOMPARE(tb().queued_count(), 4);
    QVERIFY(!tb().is_paused());

    // Buffers come back and are refilled; the stream keeps four queued.
    play_buffers(6);
    QCOMPARE(tb().queued_count(), 4);
    QCOMPARE(tb().played().size(), size_t(6));

    click(form->Playaction);
    settle();
    QVERIFY(!form->playing());
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    QCOMPARE(tb().open_streams(), 0);
    QVERIFY(!form->MPCPlay1->OwnBoard());
    QVERIFY(modal->boxes.empty());

    // Stopping and starting again before the loop has handled the stopped stream's done
    // notifications: they must not be taken for the new stream's.
    click(form->Playaction);
    click(form->Playaction);
    click(form->Playaction);
    settle();
    QCOMPARE(display(), display_of(text_playing, 1, true));
    QCOMPARE(tb().open_streams(), 1);
    QCOMPARE(tb().queued_count(), 4);
    tb().clear_played();
    play_buffers(8);
    QCOMPARE(tb().queued_count(), 4);
    QCOMPARE(tb().played().size(), size_t(8));
  }

  void first_frame_of_first_playback_is_silent_then_noise_follows() {
    form->show();
    click(form->Playaction);
    play_buffers(4);
    const auto& played = tb().played();
    QCOMPARE(played[0].samples.size(), size_t(4096));
    QCOMPARE(played[0].samples[0], int16_t(0));
    QCOMPARE(played[0].samples[1], int16_t(0));
    bool any_noise = false;
    for (const auto& b : played) {
      for (size_t k = 0; k + 1 < b.samples.size(); k += 2) {
        QCOMPARE(b.samples[k], b.samples[k + 1]);  // both channels carry the same noise
        any_noise = any_noise || b.samples[k] != 0;
      }
    }
    QVERIFY(any_noise);
  }

  void second_start_has_fresh_onset_and_bank_keeps_state() {
    form->show();
    click(form->Playaction);
    play_buffers(12);
    QCOMPARE(tb().played()[0].samples[0], int16_t(0));
    click(form->Playaction);
    settle();
    const double z1_after_stop = pink().pinkfilters[0]->state_z1();
    QVERIFY(z1_after_stop != 0.0);
    tb().clear_played();

    click(form->Playaction);
    // The first filling ran inside Run: four buffers of 2048 frames of a new onset.
    QCOMPARE(pink().noiseonsetnsamples, 2 * 44100);
    QCOMPARE(pink().noiseonsetcount, 4 * 2048);
    play_buffers(1);
    const auto& first = tb().played().at(0).samples;
    // The onset gain is 0 again, so only the filter states left by the last playback can
    // make the first frame sound.
    QVERIFY2(first[0] != 0, "the filter bank was reset between playbacks");
    QCOMPARE(first[0], first[1]);
  }

  void sample_rate_48000_plays_48000_frames_per_second() {
    form->show();
    form->fs = 48000;
    click(form->Playaction);
    QCOMPARE(form->MPCPlay1->nChans(), 2);
    QCOMPARE(form->MPCPlay1->sfTot(), 96000);
    QCOMPARE(tb().last_format().nSamplesPerSec, uint32_t(48000));
    QCOMPARE(tb().last_format().nChannels, uint16_t(2));
    QCOMPARE(tb().last_format().nAvgBytesPerSec, uint32_t(192000));
    QCOMPARE(pink().noiseonsetnsamples, 96000);
    // The bank keeps its 44100 Hz design.
    for (const auto& f : pink().pinkfilters) QCOMPARE(f->SampFreq(), 44100.0);
  }

  void channel_selection_reaches_the_device() {
    form->show();
    form->noiseplayleft = false;
    form->softnoiseonset = false;
    click(form->Playaction);
    play_buffers(2);
    bool right_noise = false;
    for (const auto& b : tb().played()) {
      for (size_t k = 0; k + 1 < b.samples.size(); k += 2) {
        QCOMPARE(b.samples[k], int16_t(0));
        right_noise = right_noise || b.samples[k + 1] != 0;
      }
    }
    QVERIFY(right_noise);
  }

  // ---- failures while starting

  void products_overflow_reports_and_changes_nothing_else_data() {
    QTest::addColumn<int>("fs");
    QTest::addColumn<int>("mended_fs");
    QTest::newRow("2^30") << (1 << 30) << 44100;
    QTest::newRow("most negative") << -(1 << 30) - 1 << 8000;
  }
  void products_overflow_reports_and_changes_nothing_else() {
    QFETCH(int, fs);
    QFETCH(int, mended_fs);
    form->show();
    form->fs = fs;
    click(form->Playaction);

    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].text, QStringLiteral("Integer overflow."));
    QCOMPARE(modal->boxes[0].caption, Application()->Title());
    QCOMPARE(modal->boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
    QCOMPARE(tb().call_count(waveout_op::open), 0);
    QCOMPARE(pink().noiseonsetcount, 0);
    QCOMPARE(pink().noiseonsetnsamples, 0);
    // The failed start leaves the play state on and the action checked, with the old display.
    QVERIFY(form->playing());
    QCOMPARE(display(), display_of(text_stopped, 0, true));

    // The next press restores the stopped display, the one after that plays.
    click(form->Playaction);
    QVERIFY(!form->playing());
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    form->fs = mended_fs;
    click(form->Playaction);
    QCOMPARE(display(), display_of(text_playing, 1, true));
    QCOMPARE(tb().last_format().nSamplesPerSec, uint32_t(mended_fs));
    QCOMPARE(modal->boxes.size(), size_t(1));
  }

  void open_refused_is_reported_and_next_press_restores_data() {
    QTest::addColumn<uint32_t>("code");
    QTest::newRow("allocated") << uint32_t(MMSYSERR_ALLOCATED);
    QTest::newRow("bad format") << uint32_t(WAVERR_BADFORMAT);
  }
  void open_refused_is_reported_and_next_press_restores() {
    QFETCH(uint32_t, code);
    form->show();
    tb().set_failure(waveout_op::open, code, 1);
    click(form->Playaction);

    const QString message = QStringLiteral("WaveOutOpen:") + form->MPCPlay1->ErrorText(code);
    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].text, error_box_text(message));
    QCOMPARE(modal->boxes[0].caption, Application()->Title());
    QCOMPARE(modal->boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
    // A failed start shows that nothing plays; the first press after it plays.
    QVERIFY(!form->playing());
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    QCOMPARE(tb().open_streams(), 0);

    click(form->Playaction);
    QVERIFY(form->playing());
    QCOMPARE(display(), display_of(text_playing, 1, true));
    QCOMPARE(tb().open_streams(), 1);
    QCOMPARE(modal->boxes.size(), size_t(1));
  }

  void failure_after_open_releases_the_device() {
    form->show();
    tb().set_failure(waveout_op::write, MMSYSERR_NOMEM, 1);
    click(form->Playaction);
    QCOMPARE(modal->boxes.size(), size_t(1));
    QVERIFY(modal->boxes[0].text.startsWith(QStringLiteral("WaveOutWrite:")));
    // The device the failed start had opened is let go, and the window shows it.
    settle();
    QVERIFY(!form->playing());
    QCOMPARE(tb().open_streams(), 0);
    QCOMPARE(display(), display_of(text_stopped, 0, false));

    click(form->Playaction);
    QCOMPARE(tb().open_streams(), 1);
    QCOMPARE(tb().queued_count(), 4);
    QCOMPARE(display(), display_of(text_playing, 1, true));
  }

  void level_beyond_float_range_is_reported() {
    form->show();
    form->noiselevel = 1e300;
    click(form->Playaction);
    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
    settle();
    QVERIFY(!form->playing());
    QCOMPARE(tb().open_streams(), 0);
    QCOMPARE(display(), display_of(text_stopped, 0, false));
  }

  // ---- overload

  void overload_in_first_blocks_stops_and_opens_dialog() {
    form->show();
    form->noiselevel = 20.0;
    form->softnoiseonset = false;
    QString display_during_dialog;
    int streams_during_dialog = -1;
    modal->on_dialog = [&](QDialog&) {
      display_during_dialog = display();
      streams_during_dialog = tb().open_streams();
    };
    click(form->Playaction);
    settle();

    QCOMPARE(modal->dialogs.size(), size_t(1));
    QCOMPARE(modal->dialogs[0], plain_dialog.get());
    // The dialog opened with playback already stopped and the overload shown.
    QCOMPARE(display_during_dialog, display_of(text_overload, 0, false));
    QCOMPARE(streams_during_dialog, 0);
    QVERIFY(!form->playing());
    QCOMPARE(display(), display_of(text_overload, 0, false));
    // Nothing was queued: the overloading block was the first, and no further one was asked for.
    QCOMPARE(tb().call_count(waveout_op::write), 0);
    QVERIFY(modal->boxes.empty());
  }

  void overload_during_playback_stops_and_keeps_message() {
    form->show();
    form->softnoiseonset = false;
    click(form->Playaction);
    play_buffers(3);
    QVERIFY(modal->dialogs.empty());
    QCOMPARE(display(), display_of(text_playing, 1, true));

    form->noiselevel = 20.0;
    QVERIFY(tb().play_next());
    settle();
    QCOMPARE(modal->dialogs.size(), size_t(1));
    QVERIFY(!form->playing());
    QCOMPARE(display(), display_of(text_overload, 0, false));
    QCOMPARE(tb().open_streams(), 0);

    // Coming back to the window leaves the message.
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activate);
    settle();
    QCOMPARE(display(), display_of(text_overload, 0, false));

  }

  void settings_after_overload_shows_stopped_display() {
    form->show();
    form->noiselevel = 20.0;
    form->softnoiseonset = false;
    click(form->Playaction);
    settle();
    QCOMPARE(display(), display_of(text_overload, 0, false));
    click(form->settingsaction);
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    QCOMPARE(modal->dialogs.size(), size_t(2));
  }

  // ---- "Settings..."

  void settings_stops_playback_before_dialog_data() {
    QTest::addColumn<int>("answer");
    QTest::newRow("cancelled") << int(QDialog::Rejected);
    QTest::newRow("confirmed") << int(QDialog::Accepted);
  }
  void settings_stops_playback_before_dialog() {
    QFETCH(int, answer);
    form->show();
    click(form->Playaction);
    play_buffers(2);
    modal->dialog_answer = answer;
    bool playing_during_dialog = true;
    int streams_during_dialog = -1;
    modal->on_dialog = [&](QDialog&) {
      playing_during_dialog = form->playing();
      streams_during_dialog = tb().open_streams();
    };
    click(form->settingsaction);
    settle();

    QCOMPARE(modal->dialogs.size(), size_t(1));
    QVERIFY(!playing_during_dialog);
    QCOMPARE(streams_during_dialog, 0);
    // Closing the dialog does not restart playback.
    QVERIFY(!form->playing());
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    QCOMPARE(tb().open_count(), 1);
    QCOMPARE(tb().open_streams(), 0);
  }

  void settings_when_stopped_just_opens_dialog() {
    form->show();
    click(form->settingsaction);
    QCOMPARE(modal->dialogs.size(), size_t(1));
    QCOMPARE(display(), display_of(text_stopped, 0, false));
    QCOMPARE(tb().call_count(waveout_op::open), 0);
    QVERIFY(!form->settingsaction->isChecked());
  }

  void closing_while_playing_releases_device() {
    form->show();
    click(form->Playaction);
    QCOMPARE(tb().open_streams(), 1);
    form->close();
    form.reset();
    settle();
    QCOMPARE(tb().open_streams(), 0);
  }

  // ---- layout and look

  // The described sizes at the default font, and that every label text fits, are checked with
  // the other windows' in the looks tests; here the arrangement, the captions and the fonts.
  void window_arrangement_and_fonts() {
    form->show();
    settle();
    QCOMPARE(form->windowTitle(), QStringLiteral("Murmelin"));
    const bool has_tahoma = QFontDatabase::hasFamily(QStringLiteral("Tahoma"));
    const QString family = has_tahoma ? QStringLiteral("Tahoma") : desktop_sans_family();
    QCOMPARE(form->font().family(), family);
    QCOMPARE(form->font().pointSize(), 8);
    QCOMPARE(form->Label1->font().family(), family);
    QCOMPARE(form->Label1->font().pointSize(), 12);

    QCOMPARE(form->ToolBar1->geometry(), QRect(0, 0, 239, 36));
    for (QAction* a : {form->Playaction, form->settingsaction}) {
      QToolButton* b = button_for(a);
      QVERIFY(b != nullptr);
      QCOMPARE(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
      QCOMPARE(b->iconSize(), QSize(16, 16));
      QCOMPARE(b->y(), 0);
    }
    QCOMPARE(button_for(form->Playaction)->x(), 0);
    QCOMPARE(button_for(form->settingsaction)->x(), 58);
    QCOMPARE(button_for(form->Playaction)->text(), QStringLiteral("Play"));
    QCOMPARE(button_for(form->settingsaction)->text(), QStringLiteral("Settings..."));
    QCOMPARE(form->Label1->mapTo(form.get(), QPoint(0, 0)), QPoint(8, 48));

    // Resizing keeps the toolbar docked across the top.
    form->resize(400, 120);
    settle();
    QCOMPARE(form->ToolBar1->geometry(), QRect(0, 0, 400, 36));
    QCOMPARE(form->Label1->mapTo(form.get(), QPoint(0, 0)), QPoint(8, 48));
  }

  void images_have_their_colours_and_scale() {
    QCOMPARE(form->ImageList1.Count(), 3);
    QCOMPARE(ImageIndex(form->settingsaction), 2);
    const QImage grey = form->ImageList1.image(0).pixmap(QSize(16, 16), 1.0).toImage();
    const QImage green = form->ImageList1.image(1).pixmap(QSize(16, 16), 1.0).toImage();
    const QImage gear = form->ImageList1.image(2).pixmap(QSize(16, 16), 1.0).toImage();
    QCOMPARE(grey.size(), QSize(16, 16));
    const QColor g = grey.pixelColor(7, 8);
    QVERIFY(g.alpha() == 255 && std::abs(g.red() - g.green()) < 12 && std::abs(g.green() - g.blue()) < 12);
    const QColor p = green.pixelColor(7, 8);
    QVERIFY(p.green() > p.red() + 60 && p.green() > p.blue() + 60);
    const QColor b = gear.pixelColor(8, 3);
    QVERIFY(b.blue() > b.red() + 60 && b.blue() > b.green() + 30);
    // Transparent around the figures.
    QCOMPARE(grey.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(gear.pixelColor(8, 8).alpha(), 0);
    // Drawn from vectors: a 2x screen gets twice the pixels, not a scaled bitmap.
    const QPixmap hi = form->ImageList1.image(1).pixmap(QSize(16, 16), 2.0);
    QCOMPARE(hi.size(), QSize(32, 32));
    // The application icon comes with the same resources.
    const QImage icon = QIcon(QStringLiteral(":/icons/murmelin.svg")).pixmap(QSize(32, 32), 1.0).toImage();
    QCOMPARE(icon.size(), QSize(32, 32));
    QVERIFY(icon.pixelColor(16, 16).alpha() > 0);
  }

  void toolbar_gradient_and_pressed_play_button() {
    form->show();
    settle();
    const QImage bar = form->ToolBar1->grab().toImage();
    QCOMPARE(bar.height(), 36);
    const QColor right = bar.pixelColor(bar.width() - 1, 18);
    QVERIFY2(near_colour(right, 255, 155, 207, 6), qPrintable(right.name()));
    const QColor middle = bar.pixelColor(bar.width() - 60, 18);
    const QColor start = form->palette().color(QPalette::Base);
    // From the window colour at the left towards pink at the right: green falls steadily.
    QVERIFY(middle.green() > right.green());
    QVERIFY(middle.green() < start.green());

    const QColor unchecked = button_for(form->Playaction)->grab().toImage().pixelColor(4, 30);
    click(form->Playaction);
    QVERIFY(form->Playaction->isChecked());
    const QColor checked = button_for(form->Playaction)->grab().toImage().pixelColor(4, 30);
    QVERIFY2(checked != unchecked, "a checked Play button is drawn like an unchecked one");
    QVERIFY(near_colour(checked, 214, 214, 214, 12));
  }

  void hot_tracked_button_is_light_grey() {
    form->show();
    settle();
    QToolButton* b = button_for(form->settingsaction);
    const QColor cold = b->grab().toImage().pixelColor(3, 3);
    QVERIFY2(!near_colour(cold, 228, 228, 228, 4), qPrintable(cold.name()));
    QEnterEvent enter(QPointF(5, 30), QPointF(5, 30), b->mapToGlobal(QPointF(5, 30)));
    QCoreApplication::sendEvent(b, &enter);
    b->setAttribute(Qt::WA_UnderMouse, true);
    const QColor hot = b->grab().toImage().pixelColor(3, 3);
    QVERIFY2(near_colour(hot, 228, 228, 228, 4), qPrintable(hot.name()));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestForm1 t;
  return QTest::qExec(&t, argc, argv);
}

#include "form1_tests.moc"
