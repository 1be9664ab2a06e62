// SPDX-License-Identifier: GPL-3.0-or-later
#include "smurmelin2.h"

#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QShowEvent>

#include <algorithm>
#include <initializer_list>
#include <limits>

#include "checked_int.h"
#include "error_boundary.h"
#include "exceptions.h"
#include "fonts.h"
#include "smurmelin1.h"
#include "text_fit.h"
#include "window_place.h"
#include "ui_smurmelin2.h"

namespace murmelin {

TForm2* Form2 = nullptr;

namespace {

// The user's locale as numbers are typed and shown in the dialog: no group separators.
QLocale number_locale() {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
  return locale;
}

[[noreturn]] void raise_not_integer(const QString& text) {
  throw EConvertError(TForm2::tr("''%1'' is not a valid integer value").arg(text).toStdString());
}

[[noreturn]] void raise_not_float(const QString& text) {
  throw EConvertError(TForm2::tr("'%1' is not a valid floating point value").arg(text).toStdString());
}

}  // namespace

int32_t str_to_int(const QString& text) {
  static const QRegularExpression plain(QStringLiteral("^[+-]?[0-9]+$"));
  const QString t = text.trimmed();
  if (!plain.match(t).hasMatch()) raise_not_integer(text);
  bool ok = false;
  const qlonglong v = t.toLongLong(&ok, 10);
  if (!ok || v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    raise_not_integer(text);
  return static_cast<int32_t>(v);
}

double str_to_float(const QString& text) {
  const QString t = text.trimmed();
  bool ok = false;
  const double v = number_locale().toDouble(t, &ok);
  if (t.isEmpty() || !ok || !std::isfinite(v)) raise_not_float(text);
  return v;
}

QString float_to_str(double value) { return number_locale().toString(value, 'g', 15); }

QString default_soundcard_text() { return TForm2::tr("System default soundcard"); }

QString stop_after_text(int32_t minutes) {
  if (minutes == 0) return TForm2::tr("Never", "stop after");
  const bool listed = std::find(std::begin(stop_after_choices), std::end(stop_after_choices),
                                minutes) != std::end(stop_after_choices);
  if (!listed || minutes < 60) return TForm2::tr("%1 min").arg(minutes);
  if (minutes % 60 == 0) return TForm2::tr("%1 h").arg(minutes / 60);
  return TForm2::tr("%1 h %2 min").arg(minutes / 60).arg(minutes % 60);
}

TForm2::TForm2(TForm1& main, QWidget* parent)
    : QDialog(parent), ui(new Ui::TForm2), fmain(main) {
  ui->setupUi(this);
  Label1 = ui->Label1;
  leveledit = ui->leveledit;
  Label2 = ui->Label2;
  fsedit = ui->fsedit;
  Button1 = ui->Button1;
  Button2 = ui->Button2;
  GroupBox1 = ui->GroupBox1;
  leftcheck = ui->leftcheck;
  rightcheck = ui->rightcheck;
  softonsetcheck = ui->softonsetcheck;
  Label3 = ui->Label3;
  soundcardcombo = ui->soundcardcombo;
  Label4 = ui->Label4;
  stopaftercombo = ui->stopaftercombo;
  Button3 = ui->Button3;

  // A screen reader names the drop-downs' lists, and the sound card's text field, by their
  // labels too.
  for (QLabel* label : {Label3, Label4}) {
    auto* combo = qobject_cast<QComboBox*>(label->buddy());
    const QString name = QString(label->text()).remove(QLatin1Char('&'));
    combo->view()->setAccessibleName(name);
    if (combo->lineEdit() != nullptr) combo->lineEdit()->setAccessibleName(name);
  }

  // A dialog of fixed size (it grows only to fit its texts) with system menu, minimise and
  // close buttons; maximised it would only spread its controls over the screen.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  keep_place_across_shows(*this);
  substitute_missing_fonts(this);
  fdescribed_size = size();
  fplaces = described_places({Label1, leveledit, Label2, fsedit, Button1, Button2, GroupBox1,
                              leftcheck, rightcheck, softonsetcheck, Label3, soundcardcombo,
                              Label4, stopaftercombo, Button3});
  for (const described_place& p : fplaces) p.control->installEventFilter(this);

  connect(Button1, &QPushButton::clicked, this,
          [this] { guarded([this] { Button1Click(Button1); }); });
  connect(Button2, &QPushButton::clicked, this,
          [this] { guarded([this] { Button2Click(Button2); }); });
  connect(Button3, &QPushButton::clicked, this,
          [this] { guarded([this] { Button3Click(Button3); }); });
}

TForm2::~TForm2() = default;

void TForm2::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  // Coming back from minimised is no new showing.
  if (e->spontaneous()) return;
  fit_to_texts();
  guarded([this] { FormShow(this); });
}

void TForm2::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if ((e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) && isVisible())
    fit_to_texts();
}

bool TForm2::eventFilter(QObject* watched, QEvent* e) {
  refit_after_change(*this, *e, ffit_posted, [this] {
    if (isVisible()) fit_to_texts();
  });
  return QDialog::eventFilter(watched, e);
}

void TForm2::fit_to_texts() { setFixedSize(size().expandedTo(fit_places(fplaces, fdescribed_size))); }

void TForm2::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    e->accept();
    return;
  }
  QDialog::keyPressEvent(e);
}

void TForm2::FormShow(QObject* /*Sender*/) {
  fsedit->setText(QString::number(fmain.fs));
  leveledit->setText(float_to_str(fmain.noiselevel));
  leftcheck->setChecked(fmain.noiseplayleft);
  rightcheck->setChecked(fmain.noiseplayright);
  softonsetcheck->setChecked(fmain.softnoiseonset);
  soundcardcombo->clear();
  soundcardcombo->clearEditText();
  soundcardcombo->addItem(default_soundcard_text());
  fmain.MPCPlay1->read_devicenames();
  soundcardcombo->addItems(fmain.MPCPlay1->Devicenames());
  // Entry k + 1 is device k; a device number naming no entry selects nothing.
  const long long entry = static_cast<long long>(fmain.MPCPlay1->DeviceID()) + 1;
  if (entry >= 0 && entry < soundcardcombo->count()) {
    soundcardcombo->setCurrentIndex(static_cast<int>(entry));
  } else {
    soundcardcombo->setCurrentIndex(-1);
    soundcardcombo->clearEditText();
  }
  // The choices, and a time from the settings file that is not one of them in its place.
  stopaftercombo->clear();
  for (const int32_t minutes : stop_after_choices) {
    if (fmain.stopafter > 0 && fmain.stopafter < minutes && stopaftercombo->findData(fmain.stopafter) < 0)
      stopaftercombo->addItem(stop_after_text(fmain.stopafter), fmain.stopafter);
    stopaftercombo->addItem(stop_after_text(minutes), minutes);
  }
  if (stopaftercombo->findData(fmain.stopafter) < 0)
    stopaftercombo->addItem(stop_after_text(fmain.stopafter), fmain.stopafter);
  stopaftercombo->setCurrentIndex(stopaftercombo->findData(fmain.stopafter));
  leveledit->setFocus(Qt::OtherFocusReason);
}

int32_t TForm2::selected_entry() const {
  const int current = soundcardcombo->currentIndex();
  const QString text = soundcardcombo->currentText();
  if (current >= 0 && soundcardcombo->itemText(current) == text) return current;
  return soundcardcombo->findText(text, Qt::MatchFixedString);
}

void TForm2::Button1Click(QObject* /*Sender*/) {
  fmain.fs = str_to_int(fsedit->text());
  fmain.noiselevel = str_to_float(leveledit->text());
  fmain.noiseplayleft = leftcheck->isChecked();
  fmain.noiseplayright = rightcheck->isChecked();
  fmain.softnoiseonset = softonsetcheck->isChecked();
  fmain.MPCPlay1->set_DeviceID(checked_sub(selected_entry(), 1));
  fmain.stopafter = stopaftercombo->currentData().toInt();
  fmain.save_settings(QString());
  fmain.notify_play_state();
  accept();
}

void TForm2::Button2Click(QObject* /*Sender*/) { reject(); }

void TForm2::Button3Click(QObject* /*Sender*/) {
  if (fonabout) {
    fonabout();
  } else if (fmain.CorvelAbout1 != nullptr) {
    fmain.CorvelAbout1->showmodal(this);
  }
}

}  // namespace murmelin
