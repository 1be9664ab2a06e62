// SPDX-License-Identifier: GPL-3.0-or-later
// The about box under the offscreen platform: the version line and the version numbers, the
// dot-decimal conversion under a decimal-comma locale, the layout and what a showing changes,
// the dialog's keys and double clicks, the picture resource and its two ways of loading.
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <memory>

#include "TComponent.h"
#include "application.h"
#include "exceptions.h"
#include "fonts.h"
#include "gui_test_support.h"
#include "sabout.h"

using namespace murmelin;
using murmelin::testing::modal_recorder;

namespace {

// The main window's about box after its owner has loaded it.
std::unique_ptr<TCorvelAbout> loaded_program_box() {
  std::unique_ptr<TCorvelAbout> a(new_CorvelAbout1(nullptr));
  a->Loaded();
  return a;
}

// Sets the program's locale for the lifetime of the object.
class scoped_locale {
public:
  explicit scoped_locale(const QLocale& l) { QLocale::setDefault(l); }
  ~scoped_locale() { QLocale::setDefault(fprevious); }

private:
  QLocale fprevious;
};

const QLocale german(QLocale::German, QLocale::Germany);

uint32_t le(const QByteArray& b, int at, int size) {
  if (at < 0 || size > b.size() - at) return 0xFFFFFFFFu;  // beyond the data: no valid field
  uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
  return v;
}
uint32_t u32(const QByteArray& b, int at) { return le(b, at, 4); }
uint16_t u16(const QByteArray& b, int at) { return static_cast<uint16_t>(le(b, at, 2)); }

QByteArray corvel_resource() {
  QFile f(QString::fromLatin1(corvel_bitmap_resource));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

QString expected_compiled_line() {
  return QStringLiteral("Compiled ") + QLocale().toString(build_date(), QLocale::ShortFormat);
}

void double_click(QWidget* w) { QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(5, 5)); }

}  // namespace

class TestAbout : public QObject {
  Q_OBJECT
private slots:
  // ---- version line and version numbers

  void version_line_of_the_program_box() {
    auto a = loaded_program_box();
    QCOMPARE(a->versionlabel->text(), QStringLiteral("Version 0.1 for Linux"));
    a->set_betaversion(QStringLiteral("2"));
    QCOMPARE(a->versionlabel->text(), QStringLiteral("Version 0.1 for Linux"));
    a->set_beta(true);
    QCOMPARE(a->versionlabel->text(), QString::fromUtf8("Version 0.1 \u00DF2 for Linux"));
    a->set_beta(false);
    a->set_Revision(QStringLiteral("b"));
    QCOMPARE(a->versionlabel->text(), QStringLiteral("Version 0.1b for Linux"));
    a->set_OSVersions(QStringLiteral("Debian"));
    QCOMPARE(a->versionlabel->text(), QStringLiteral("Version 0.1b for Debian"));
  }

  void version_line_of_boxes_left_at_their_defaults() {
    // A family box whose version is never set reads the "auto" version after loading.
    TCorvelAbout corvel(nullptr);
    corvel.Loaded();
    QCOMPARE(corvel.Version(), QStringLiteral("3.0"));
    QCOMPARE(corvel.versionlabel->text(), QStringLiteral("Version 3.0 for Win95/98/NT"));

    // The plain box keeps its version line empty until a property rebuilds it; loading turns
    // the "auto" values into real ones without rebuilding it.
    TAbout plain(nullptr);
    QCOMPARE(plain.versionlabel->text(), QString());
    plain.set_Revision(QStringLiteral("auto"));
    QCOMPARE(plain.versionlabel->text(), QStringLiteral("Version autoauto for Win95/98/NT"));
    plain.Loaded();
    QCOMPARE(plain.Version(), QStringLiteral("3.0"));
    QCOMPARE(plain.Revision(), QString());
    QCOMPARE(plain.versionlabel->text(), QStringLiteral("Version autoauto for Win95/98/NT"));
    plain.set_beta(false);
    QCOMPARE(plain.versionlabel->text(), QStringLiteral("Version 3.0 for Win95/98/NT"));
  }

  void intversion_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("number");
    QTest::newRow("0.1") << "0.1" << 1;
    QTest::newRow("3.0") << "3.0" << 768;
    QTest::newRow("2") << "2" << 2;
    QTest::newRow("300.5") << "300.5" << 11269;
    QTest::newRow("65535") << "65535" << 65535;
    QTest::newRow("1.255") << "1.255" << 511;
    QTest::newRow("minor wraps") << "1.256" << 256;
    QTest::newRow("70000") << "70000" << 0;
    QTest::newRow("-1") << "-1" << 0;
    QTest::newRow("1.2.3") << "1.2.3" << 0;
    QTest::newRow("abc") << "abc" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("auto") << "auto" << 0;
    QTest::newRow("no minor") << "1." << 0;
    QTest::newRow("beyond 32 bits") << "4294967298" << 0;
  }
  void intversion() {
    QFETCH(QString, version);
    QFETCH(int, number);
    TAbout a(nullptr);
    a.set_Version(version);
    QCOMPARE(int(a.intversion()), number);
  }

  void version_number_whatever_the_locale() {
    scoped_locale comma(german);
    TCorvelAbout a(nullptr);
    a.set_Version(QStringLiteral("0.1"));
    QCOMPARE(a.VersionNumber(), 0.1);
    a.set_Version(QStringLiteral("12.25"));
    QCOMPARE(a.VersionNumber(), 12.25);
    a.set_Version(QStringLiteral("1,5"));
    QCOMPARE(a.VersionNumber(), 0.0);
    a.set_Version(QString());
    QCOMPARE(a.VersionNumber(), 0.0);
    // Reading it runs the load completion again: "auto" becomes 3.0, and the family box
    // refreshes its version line and picture.
    a.set_Version(QStringLiteral("auto"));
    QCOMPARE(a.VersionNumber(), 3.0);
    QCOMPARE(a.Version(), QStringLiteral("3.0"));
    QCOMPARE(a.versionlabel->text(), QStringLiteral("Version 3.0 for Win95/98/NT"));
    QCOMPARE(a.corvelimage->Picture().size(), QSize(155, 226));
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
  }

  // ---- layout

  void layout_table() {
    auto a = loaded_program_box();
    const int line = a->compiledatelabel->fontMetrics().height();
    // Every place below the copyright line follows from the label heights at construction.
    const int date_top = 73 + 13 + 2;
    const int extra_top = date_top + line + 5 * line + 7;
    const int memory_top = extra_top + 3 * line + 2;
    const int ok_top = memory_top + line + 5;
    const int client_height = ok_top + 25 + 10;

    QCOMPARE(a->form->windowTitle(), QStringLiteral("About"));
    QCOMPARE(a->titlelabel->geometry(), QRect(172, 16, 237, 23));
    QCOMPARE(a->versionlabel->geometry(), QRect(172, 41, 237, 13));
    QCOMPARE(a->corvellabel->geometry(), QRect(172, 56, 237, 13));
    QCOMPARE(a->copyrightlabel->geometry(), QRect(172, 73, 237, 13));
    QCOMPARE(a->compiledatelabel->geometry(), QRect(172, date_top, 237, line));
    QCOMPARE(a->extralabel->pos(), QPoint(172, extra_top));
    QCOMPARE(a->extralabel->width(), 237);
    QCOMPARE(a->memorylabel->geometry(), QRect(172, memory_top, 237, line));
    QCOMPARE(a->okbutton->geometry(), QRect(254, ok_top, 75, 25));
    QCOMPARE(a->form->size(), QSize(410, client_height));
    QCOMPARE(a->panel->geometry(), QRect(10, (client_height - 234) / 2, 163, 234));
    QCOMPARE(a->corvelimage->geometry(), QRect(4, 4, 155, 226));
    QCOMPARE(a->progicon->geometry(), QRect(372, 9, 41, 37));
    if (line == 13) {
      // The dialog font's line at 96 dpi: the table's own figures.
      QCOMPARE(a->extralabel->y(), 173);
      QCOMPARE(a->memorylabel->y(), 214);
      QCOMPARE(a->okbutton->y(), 232);
      QCOMPARE(a->form->height(), 267);
      QCOMPARE(a->panel->y(), 16);
    }
    // A fixed frame with a close box only.
    QCOMPARE(a->form->minimumSize(), a->form->maximumSize());
    const Qt::WindowFlags f = a->form->windowFlags();
    QVERIFY(f.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!f.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!f.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!f.testFlag(Qt::WindowContextHelpButtonHint));

    QCOMPARE(a->okbutton->text(), QStringLiteral("&Ok"));
    QVERIFY(a->okbutton->isDefault());
    QCOMPARE(a->titlelabel->font().pointSize(), 16);
    QVERIFY(a->titlelabel->font().bold());
    QCOMPARE(a->form->font().pointSize(), 8);
    const QString arial = QFontDatabase::hasFamily(QStringLiteral("Arial")) ? QStringLiteral("Arial")
                                                                            : desktop_sans_family();
    QCOMPARE(a->titlelabel->font().family(), arial);
    QVERIFY(QFontDatabase::hasFamily(a->versionlabel->font().family()));
  }

  void texts_and_visibility_of_the_program_box() {
    auto a = loaded_program_box();
    QCOMPARE(a->titlelabel->text(), QStringLiteral("Murmelin"));
    QVERIFY(a->copyrightlabel->text().contains(QStringLiteral("BriskoData")));
    QVERIFY(a->copyrightlabel->text().contains(QString::number(build_date().year())));
    QCOMPARE(a->extralabel->text(), QStringLiteral("Pink noise, simply"));
    QCOMPARE(a->corvellabel->text(), QStringLiteral("A Corvel application"));
    QCOMPARE(a->compiledatelabel->text(), expected_compiled_line());
    QVERIFY(build_date().isValid());
    QVERIFY(a->corvellabel->isHidden());
    QVERIFY(!a->compiledatelabel->isHidden());
    QVERIFY(!a->extralabel->isHidden());
    QCOMPARE(a->memorylabel->text(), QString());
    QVERIFY(!a->progicon->Icon().isNull());
  }

  void compiled_line_uses_the_users_short_date_format() {
    scoped_locale comma(german);
    TCorvelAbout a(nullptr);
    const QString d = german.toString(build_date(), QLocale::ShortFormat);
    QVERIFY(d.contains(QChar(u'.')));
    QCOMPARE(a.compiledatelabel->text(), QStringLiteral("Compiled ") + d);
  }

  void a_showing_applies_date_extra_and_egg_but_not_the_family_line() {
    modal_recorder modal;
    auto a = loaded_program_box();
    const QRect extra = a->extralabel->geometry();
    const QRect memory = a->memorylabel->geometry();
    const QRect ok = a->okbutton->geometry();
    const QSize size = a->form->size();

    a->set_ShowCompileDate(false);
    a->set_ShowACorvel(true);
    QVERIFY(!a->compiledatelabel->isHidden());  // only at the next showing
    a->set_Extra(QString());
    QVERIFY(a->extralabel->isHidden());  // at once

    int shown_hidden_date = -1;
    modal.on_dialog = [&](QDialog& d) {
      QCOMPARE(&d, static_cast<QDialog*>(a->form));
      shown_hidden_date = a->compiledatelabel->isHidden() ? 1 : 0;
    };
    a->showmodal();
    QCOMPARE(modal.dialogs.size(), size_t(1));
    QCOMPARE(shown_hidden_date, 1);
    // The family line stays as loading left it; nothing moves up into the gaps.
    QVERIFY(a->corvellabel->isHidden());
    QCOMPARE(a->extralabel->geometry().topLeft(), extra.topLeft());
    QCOMPARE(a->memorylabel->geometry(), memory);
    QCOMPARE(a->okbutton->geometry(), ok);
    QCOMPARE(a->form->size(), size);

    // A new extra text shows the line again at the same place.
    a->set_Extra(QStringLiteral("Two\rlines"));
    QVERIFY(!a->extralabel->isHidden());
    QCOMPARE(a->extralabel->pos(), extra.topLeft());
    QCOMPARE(a->extralabel->text(), QStringLiteral("Two\nlines"));
    QCOMPARE(a->extralabel->height(), 2 * a->extralabel->fontMetrics().height());

    a->set_ShowCompileDate(true);
    a->showmodal();
    QVERIFY(!a->compiledatelabel->isHidden());
    QCOMPARE(a->compiledatelabel->pos(), QPoint(172, 88));
  }

  void shown_centred_above_the_given_window() {
    modal_recorder modal;
    auto a = loaded_program_box();
    QDialog settings;
    settings.setWindowTitle(QStringLiteral("Settings"));
    settings.resize(300, 200);
    settings.move(0, 0);
    settings.show();
    QVERIFY(QTest::qWaitForWindowExposed(&settings));

    QScreen* screen = settings.screen();
    QVERIFY(screen != nullptr);
    QWindow* transient = nullptr;
    QPoint centre;
    modal.on_dialog = [&](QDialog& d) {
      transient = d.windowHandle() != nullptr ? d.windowHandle()->transientParent() : nullptr;
      centre = d.frameGeometry().center();
    };
    a->showmodal(&settings);
    QCOMPARE(modal.dialogs.size(), size_t(1));
    QCOMPARE(transient, settings.windowHandle());
    const QPoint screen_centre = screen->availableGeometry().center();
    QVERIFY2((centre - screen_centre).manhattanLength() <= 2, qPrintable(QStringLiteral("centre %1,%2").arg(centre.x()).arg(centre.y())));

    // Centred again at the next showing, wherever it was moved meanwhile.
    a->form->move(5, 7);
    a->showmodal(&settings);
    QVERIFY((centre - screen_centre).manhattanLength() <= 2);
  }

  void keys_close_box_and_the_same_window_each_time() {
    auto a = loaded_program_box();
    a->form->show();
    QVERIFY(QTest::qWaitForWindowExposed(a->form));
    a->okbutton->setFocus();
    QTest::keyClick(a->okbutton, Qt::Key_Escape);
    QVERIFY2(a->form->isVisible(), "Escape closed the about box");
    QTest::keyClick(a->form, Qt::Key_Return);
    QVERIFY(!a->form->isVisible());
    QCOMPARE(a->form->result(), int(QDialog::Accepted));

    QPointer<QDialog> same = a->form;
    a->form->show();
    QTest::mouseClick(a->okbutton, Qt::LeftButton);
    QVERIFY(!a->form->isVisible());
    a->form->show();
    QVERIFY(a->form->close());
    QVERIFY(!a->form->isVisible());
    QCOMPARE(static_cast<QDialog*>(same), static_cast<QDialog*>(a->form));
  }

  void double_clicks_raise_the_events_held_at_showing() {
    modal_recorder modal;
    auto a = loaded_program_box();
    std::vector<QString> log;
    a->set_OnEggClick([&](QObject* s) { log.push_back(QStringLiteral("egg1 ") + (s == a->progicon ? "icon" : "?")); });

    // Nothing is bound before the first showing.
    double_click(a->progicon);
    double_click(a->corvelimage);
    QVERIFY(log.empty());

    a->showmodal();
    double_click(a->progicon);
    // Unassigned: nothing happens.
    double_click(a->corvelimage);
    QCOMPARE(log.size(), size_t(1));
    QCOMPARE(log[0], QStringLiteral("egg1 icon"));

    // A new egg handler counts from the next showing; the error log event at once.
    a->set_OnEggClick([&](QObject*) { log.push_back(QStringLiteral("egg2")); });
    a->set_OnActivateErrLog([&](QObject* s) { log.push_back(QStringLiteral("log ") + (s == a->corvelimage ? "picture" : "?")); });
    double_click(a->progicon);
    double_click(a->corvelimage);
    QCOMPARE(log.size(), size_t(3));
    QCOMPARE(log[1], QStringLiteral("egg1 icon"));
    QCOMPARE(log[2], QStringLiteral("log picture"));
    a->showmodal();
    double_click(a->progicon);
    QCOMPARE(log.back(), QStringLiteral("egg2"));

    // A handler that raises reaches the default error handler; the program goes on.
    a->set_OnActivateErrLog([](QObject*) { throw EConvertError("broken handler"); });
    double_click(a->corvelimage);
    QCOMPARE(modal.boxes.size(), size_t(1));
    QCOMPARE(modal.boxes[0].text, QStringLiteral("broken handler."));
  }

  void goes_with_its_owner() {
    QPointer<QDialog> form;
    {
      TComponent owner(nullptr);
      TCorvelAbout* a = new_CorvelAbout1(&owner);
      owner.loaded_components();
      QCOMPARE(a->versionlabel->text(), QStringLiteral("Version 0.1 for Linux"));
      form = a->form;
      QVERIFY(!form.isNull());
    }
    QVERIFY(form.isNull());
  }

  // ---- the picture

  void resource_bitmap_header() {
    const QByteArray dib = corvel_resource();
    QCOMPARE(dib.size(), 40 + 256 * 4 + 156 * 226);
    QCOMPARE(u32(dib, 0), 40u);               // info header size
    QCOMPARE(int32_t(u32(dib, 4)), 155);      // width
    QCOMPARE(int32_t(u32(dib, 8)), 226);      // height, rows bottom-up
    QCOMPARE(u16(dib, 12), uint16_t(1));      // planes
    QCOMPARE(u16(dib, 14), uint16_t(8));      // bits per pixel
    QCOMPARE(u32(dib, 16), 0u);               // uncompressed
    QVERIFY(u32(dib, 32) == 256 || u32(dib, 32) == 0);  // a full colour table

    const QByteArray file = bitmap_file_from_dib(dib);
    QCOMPARE(file.size(), 14 + dib.size());
    QCOMPARE(file.left(2), QByteArray("BM"));
    QCOMPARE(u32(file, 2), uint32_t(file.size()));
    QCOMPARE(u32(file, 10), uint32_t(14 + 40 + 1024));
    QCOMPARE(file.mid(14), dib);
  }

  void bad_bitmap_data_is_refused() {
    QVERIFY_THROWS_EXCEPTION(EConvertError, bitmap_file_from_dib(QByteArray(39, '\0')));
    QByteArray dib = corvel_resource();
    QByteArray too_many_colours = dib;
    qToLittleEndian<uint32_t>(100000u, too_many_colours.data() + 32);
    QVERIFY_THROWS_EXCEPTION(EConvertError, bitmap_file_from_dib(too_many_colours));
    QByteArray truncated = dib.left(40 + 512);
    QVERIFY_THROWS_EXCEPTION(EConvertError, bitmap_file_from_dib(truncated));
  }

  void picture_loads_both_ways() {
    TCorvelAbout own(nullptr);
    own.Loaded();
    const QImage indexed = own.corvelimage->Picture();
    QCOMPARE(indexed.format(), QImage::Format_Indexed8);
    QCOMPARE(indexed.colorCount(), 256);
    QCOMPARE(indexed.size(), QSize(155, 226));
    QCOMPARE(own.corvelimage->size(), QSize(155, 226));

    TCorvelAbout display(nullptr);
    display.set_BMP256(false);
    display.Loaded();
    const QImage plain = display.corvelimage->Picture();
    QCOMPARE(plain.colorCount(), 0);
    QCOMPARE(display.corvelimage->size(), QSize(153, 225));

    // The same picture either way, and the lower-left colour is the transparent one.
    QCOMPARE(plain.size(), indexed.size());
    for (const QPoint p : {QPoint(0, 0), QPoint(77, 113), QPoint(40, 200), QPoint(120, 60), QPoint(154, 225)}) {
      QCOMPARE(plain.pixel(p) & RGB_MASK, indexed.pixel(p) & RGB_MASK);
    }
    QCOMPARE(own.corvelimage->TransparentColor() & RGB_MASK, indexed.pixel(0, 225) & RGB_MASK);
    QCOMPARE(display.corvelimage->TransparentColor() & RGB_MASK, indexed.pixel(0, 225) & RGB_MASK);

    // BMP256 counts only at load completion.
    display.set_BMP256(true);
    QCOMPARE(display.corvelimage->size(), QSize(153, 225));
    display.Loaded();
    QCOMPARE(display.corvelimage->size(), QSize(155, 226));
  }

  void picture_drawn_transparently_on_the_panel() {
    auto a = loaded_program_box();
    a->form->show();
    QVERIFY(QTest::qWaitForWindowExposed(a->form));
    const QImage shot = a->panel->grab().toImage();
    const QImage picture = a->corvelimage->Picture();
    const QRgb key = picture.pixel(0, picture.height() - 1) & RGB_MASK;
    const QPoint origin = a->corvelimage->pos();
    // The corner of the picture shows the panel, not the transparent colour.
    const QRgb corner = shot.pixel(origin + QPoint(0, picture.height() - 1)) & RGB_MASK;
    QVERIFY(corner != key);
    QCOMPARE(corner, a->panel->palette().color(QPalette::Window).rgb() & RGB_MASK);
    // Its middle shows the picture's own colours.
    const QPoint mid(picture.width() / 2, picture.height() / 2);
    QCOMPARE(shot.pixel(origin + mid) & RGB_MASK, picture.pixel(mid) & RGB_MASK);
    // The bevels: dark at the outer top-left, light just inside it.
    QCOMPARE(shot.pixel(5, 0), a->panel->palette().color(QPalette::Dark).rgb());
    QCOMPARE(shot.pixel(5, 1), a->panel->palette().color(QPalette::Light).rgb());
    // The program's icon is drawn.
    const QImage icon = a->progicon->grab().toImage();
    QVERIFY(icon.pixelColor(16, 16) != a->form->palette().color(QPalette::Window));
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestAbout t;
  return QTest::qExec(&t, argc, argv);
}

#include "about_tests.moc"
