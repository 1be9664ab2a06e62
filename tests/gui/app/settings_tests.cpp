// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file and the settings dialog, driven under the offscreen platform with the
// player on the wave-output test backend: the rows written and read back, the device found
// by name, foreign, damaged and wrongly typed files, the window places kept on the desktop,
// and the dialog's layout, loading, storing, conversion errors, Cancel and failed saves.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>

#include <sys/resource.h>

#include <csignal>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "application.h"
#include "cMPC.h"
#include "cProgId.h"
#include "cQOBFile.h"
#include "exceptions.h"
#include "fonts.h"
#include "form1_test_access.h"
#include "main_window_fixture.h"
#include "modal_seam.h"
#include "smurmelin1.h"
#include "smurmelin2.h"
#include "waveout_test_backend.h"
#include "window_place.h"

Q_DECLARE_METATYPE(murmelin::screen_rect)

namespace murmelin {
char* toString(const screen_rect& r) {
  return QTest::toString(QStringLiteral("left %1 top %2 width %3 height %4")
                             .arg(r.left).arg(r.top).arg(r.width).arg(r.height));
}
}  // namespace murmelin

using namespace murmelin;
using murmelin::testing::main_window_fixture;
using murmelin::testing::modal_recorder;
using murmelin::testing::private_config_home;

namespace {

using row = std::tuple<std::string, std::string, int32_t>;  // section, key, tag

const std::vector<row> all_rows = {
    {"Mainwindow", "Top", tag_integer},     {"Mainwindow", "Left", tag_integer},
    {"Mainwindow", "Height", tag_integer},  {"Mainwindow", "Width", tag_integer},
    {"SettingsWindow", "Top", tag_integer}, {"SettingsWindow", "Left", tag_integer},
    {"Soundcard", "fs", tag_integer},       {"Noise", "Level", tag_float},
    {"Noise", "PlayLeft", tag_bool},        {"Noise", "PlayRight", tag_bool},
    {"Noise", "SoftOnset", tag_bool},       {"General", "Soundcard", tag_string},
    {"Noise", "StopAfter", tag_integer},
};

std::vector<row> rows_from(std::size_t first, std::size_t count = 100) {
  std::vector<row> r;
  for (std::size_t i = first; i < all_rows.size() && i < first + count; ++i) r.push_back(all_rows[i]);
  return r;
}

// A file as the program finds it: nodes, file id.
struct file_contents {
  std::string fileid;
  std::vector<row> rows;
};

file_contents read_back(const QString& path, TQOBFile& store) {
  store.open_file(path.toStdString());
  file_contents c{store.FileId(), {}};
  for (int32_t i = 0; i < store.nnodes(); ++i) {
    const pnode n = store.get_nodeno(i);
    c.rows.emplace_back(n->section, n->key, n->data.id);
  }
  return c;
}

QByteArray file_bytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Lowers the largest file this process may write, for its lifetime.
class file_size_limit {
public:
  explicit file_size_limit(rlim_t bytes) {
    fprevious_signal = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &fold);
    rlimit l = fold;
    l.rlim_cur = bytes;
    fok = setrlimit(RLIMIT_FSIZE, &l) == 0;
  }
  ~file_size_limit() {
    setrlimit(RLIMIT_FSIZE, &fold);
    std::signal(SIGXFSZ, fprevious_signal);
  }
  bool ok() const { return fok; }

private:
  rlimit fold{};
  bool fok = false;
  void (*fprevious_signal)(int) = nullptr;
};

QString decimal(const QString& dotted) {
  QString s = dotted;
  return s.replace(QChar(u'.'), QLocale().decimalPoint());
}

}  // namespace

class TestSettings : public QObject, main_window_fixture {
  Q_OBJECT

  TProgId ident;

  QString settings_file() const { return config->settings_file(); }

  // A new run of the program: new windows that read the settings file on their first show.
  void restart() {
    destroy_windows();
    create_windows();
    form->show();
  }

  // Writes a settings file of the given id with what fill writes.
  void write_file(const QString& path, const std::string& fileid,
                  const std::function<void(TQOBFile&)>& fill) {
    TQOBFile store;
    store.set_ProgId(&ident);
    store.set_FileVersion("0.0");
    store.set_FileId(fileid);
    fill(store);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    store.save_file(path.toStdString());
  }

  file_contents saved() const {
    TQOBFile store;
    return read_back(settings_file(), store);
  }

  void show_dialog() {
    dialog->show();
    QVERIFY(dialog->isVisible());
  }
  void ok() { QTest::mouseClick(dialog->Button1, Qt::LeftButton); }
  QString last_box_text() const { return modal->boxes.empty() ? QString() : modal->boxes.back().text; }

private slots:
  void initTestCase() {
    ident.set_ProductName(QStringLiteral("Murmelin"));
    ident.set_Version(QStringLiteral("0.1"));
    ident.set_Company(QStringLiteral("BriskoData"));
  }
  void init() {
    set_up({"Speakers", "Headphones"});
    create_windows();
  }
  void cleanup() { tear_down(); }

  // ---- the desktop rule

  void kept_on_desktop_numbers_data() {
    QTest::addColumn<screen_rect>("window");
    QTest::addColumn<screen_rect>("desktop");
    QTest::addColumn<screen_rect>("kept");
    const screen_rect hd{0, 0, 1920, 1080};
    QTest::newRow("inside stays") << screen_rect{100, 100, 300, 120} << hd << screen_rect{100, 100, 300, 120};
    QTest::newRow("right of the desktop") << screen_rect{5000, 100, 255, 116} << hd << screen_rect{1870, 100, 255, 116};
    QTest::newRow("above the top") << screen_rect{100, -500, 300, 120} << hd << screen_rect{100, 0, 300, 120};
    QTest::newRow("partly above the top stays") << screen_rect{100, -60, 300, 120} << hd << screen_rect{100, -60, 300, 120};
    QTest::newRow("left of the desktop") << screen_rect{-900, 100, 300, 120} << hd << screen_rect{-200, 100, 300, 120};
    QTest::newRow("below the bottom") << screen_rect{100, 5000, 300, 120} << hd << screen_rect{100, 980, 300, 120};
    QTest::newRow("off two corners") << screen_rect{9000, -9000, 300, 120} << hd << screen_rect{1870, 0, 300, 120};
    QTest::newRow("on the second screen") << screen_rect{2500, 300, 300, 120}
                                          << screen_rect{0, 0, 3840, 1080} << screen_rect{2500, 300, 300, 120};
    QTest::newRow("second screen removed") << screen_rect{2500, 300, 300, 120} << hd
                                           << screen_rect{1870, 300, 300, 120};
    QTest::newRow("screen left of the primary") << screen_rect{-1500, 300, 300, 120}
                                                << screen_rect{-1920, 0, 3840, 1080}
                                                << screen_rect{-1500, 300, 300, 120};
  }
  void kept_on_desktop_numbers() {
    QFETCH(screen_rect, window);
    QFETCH(screen_rect, desktop);
    QFETCH(screen_rect, kept);
    const screen_rect got = kept_on_desktop(window, desktop);
    QCOMPARE(got, kept);
  }

  void kept_on_desktop_overflow_raises() {
    const int32_t big = std::numeric_limits<int32_t>::max();
    const int32_t small = std::numeric_limits<int32_t>::min();
    QVERIFY_THROWS_EXCEPTION(EIntOverflow, kept_on_desktop({0, 0, 10, 10}, {big - 5, 0, 100, 100}));
    QVERIFY_THROWS_EXCEPTION(EIntOverflow, kept_on_desktop({0, big - 200, 10, 1000}, {0, 0, 100, big}));
    QVERIFY_THROWS_EXCEPTION(EIntOverflow, kept_on_desktop({small + 5, 0, -100, 10}, {0, 0, 100, 100}));
  }

  void window_is_brought_back_onto_the_screen_data() {
    QTest::addColumn<int>("offset");
    QTest::newRow("far off") << 4000;
    QTest::newRow("at the ends of the integer range") << std::numeric_limits<int32_t>::max();
  }
  void window_is_brought_back_onto_the_screen() {
    QFETCH(int, offset);
    const int32_t far = offset;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    write_file(settings_file(), "MurmelinSettings", [&](TQOBFile& s) {
      s.writeinteger("Mainwindow", "Top", -far);
      s.writeinteger("Mainwindow", "Left", far);
      s.writeinteger("Mainwindow", "Height", -far);
      s.writeinteger("Mainwindow", "Width", -far);
      s.writeinteger("SettingsWindow", "Top", far);
      s.writeinteger("SettingsWindow", "Left", -far);
      s.writeinteger("Soundcard", "fs", 22050);
    });
    form->show();
    QVERIFY(modal->boxes.empty());
    QCOMPARE(window_top(*form), screen.top());
    QCOMPARE(window_left(*form), screen.left() + screen.width() - 50);
    QCOMPARE(window_top(*dialog), screen.top() + screen.height() - 100);
    QCOMPARE(window_left(*dialog), screen.left() - window_width(*dialog) + 100);
    QCOMPARE(form->fs, 22050);
    QCOMPARE(form->size(), form->minimumSize());
    show_dialog();
    QCOMPARE(dialog->frameGeometry().topLeft(), QPoint(window_left(*dialog), window_top(*dialog)));
  }

  // ---- writing

  void saved_rows_in_order_with_their_types_data() {
    QTest::addColumn<bool>("main_maximised");
    QTest::addColumn<bool>("dialog_maximised");
    QTest::addColumn<int>("first_row");
    QTest::addColumn<int>("place_rows");
    QTest::newRow("normal") << false << false << 0 << 6;
    QTest::newRow("main window maximised") << true << false << 4 << 2;
    QTest::newRow("dialog maximised") << false << true << 0 << 4;
    QTest::newRow("both maximised") << true << true << 6 << 0;
  }
  void saved_rows_in_order_with_their_types() {
    QFETCH(bool, main_maximised);
    QFETCH(bool, dialog_maximised);
    QFETCH(int, first_row);
    QFETCH(int, place_rows);
    form->show();
    if (main_maximised) form->setWindowState(Qt::WindowMaximized);
    if (dialog_maximised) dialog->setWindowState(Qt::WindowMaximized);
    form->fs = 48000;
    form->noiselevel = -20.25;
    form->noiseplayleft = false;
    form->softnoiseonset = false;
    form->MPCPlay1->set_DeviceID(1);
    form->save_settings(QString());
    QCOMPARE(form->QOBFile1->nnodes(), 0);
    QCOMPARE(form->QOBFile1->FileId(), std::string("MurmelinSettings"));

    TQOBFile store;
    const file_contents c = read_back(settings_file(), store);
    QCOMPARE(c.fileid, std::string("MurmelinSettings"));
    std::vector<row> expected = rows_from(first_row, place_rows);
    for (const row& r : rows_from(6)) expected.push_back(r);
    QCOMPARE(c.rows, expected);
    QCOMPARE(store.readproductname(), std::string("Murmelin"));
    QCOMPARE(store.readproductversion(), std::string("0.1"));
    QCOMPARE(store.readfileversion(), std::string("0.0"));
    QCOMPARE(store.readinteger("Soundcard", "fs", 0), 48000);
    QCOMPARE(store.readfloat("Noise", "Level", 0.0), -20.25);
    QCOMPARE(store.readbool("Noise", "PlayLeft", true), false);
    QCOMPARE(store.readbool("Noise", "PlayRight", false), true);
    QCOMPARE(store.readbool("Noise", "SoftOnset", true), false);
    QCOMPARE(store.readstring("General", "Soundcard", "?"), std::string("Headphones"));
    if (!main_maximised) {
      QCOMPARE(store.readinteger("Mainwindow", "Top", -1), window_top(*form));
      QCOMPARE(store.readinteger("Mainwindow", "Left", -1), window_left(*form));
      QCOMPARE(store.readinteger("Mainwindow", "Height", -1), window_height(*form));
      QCOMPARE(store.readinteger("Mainwindow", "Width", -1), window_width(*form));
    }
    // The store's helper file is never written; only the program's own file is.
    const QDir folder = QFileInfo(settings_file()).dir();
    QCOMPARE(folder.entryList(QDir::Files), QStringList{"MurmelinSettings.qobfile"});
  }

  void named_file_gets_no_places_and_device_names_data() {
    QTest::addColumn<int>("device");
    QTest::addColumn<QString>("name");
    QTest::newRow("default device") << -1 << QString();
    QTest::newRow("first") << 0 << QStringLiteral("Speakers");
    QTest::newRow("beyond the list") << 2 << QString();
    QTest::newRow("no device") << -2 << QString();
    QTest::newRow("far beyond") << std::numeric_limits<int32_t>::max() << QString();
  }
  void named_file_gets_no_places_and_device_names() {
    QFETCH(int, device);
    QFETCH(QString, name);
    form->show();
    form->MPCPlay1->set_DeviceID(device);
    const QString path = config->path() + QStringLiteral("/elsewhere/other.qobfile");
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    form->save_settings(path);
    TQOBFile store;
    const file_contents c = read_back(path, store);
    QCOMPARE(c.rows, rows_from(6));
    QCOMPARE(QString::fromStdString(store.readstring("General", "Soundcard", "?")), name);
    QVERIFY(!QFile::exists(settings_file()));
  }

  // ---- reading

  void first_start_without_file_keeps_defaults() {
    form->show();
    QVERIFY(modal->boxes.empty());
    QCOMPARE(form->fs, 44100);
    QCOMPARE(form->noiselevel, -10.0);
    QVERIFY(form->noiseplayleft && form->noiseplayright && form->softnoiseonset);
    QCOMPARE(form->MPCPlay1->DeviceID(), -1);
    QCOMPARE(form->QOBFile1->nnodes(), 0);
    QVERIFY(form->QOBFile1->FileId().empty());
    QVERIFY(!QFile::exists(settings_file()));
  }

  void options_device_and_places_come_back() {
    form->show();
    form->move(120, 70);
    form->resize(320, 140);
    const QRect main_place = form->frameGeometry();
    QCOMPARE(main_place.topLeft(), QPoint(120, 70));
    dialog->move(333, 222);
    form->fs = 22050;
    form->noiselevel = 0.1 + 0.2;
    form->noiseplayright = false;
    form->softnoiseonset = false;
    form->MPCPlay1->set_DeviceID(1);
    form->save_settings(QString());

    restart();
    QVERIFY(modal->boxes.empty());
    QCOMPARE(form->fs, 22050);
    QCOMPARE(form->noiselevel, 0.1 + 0.2);
    QVERIFY(form->noiseplayleft);
    QVERIFY(!form->noiseplayright);
    QVERIFY(!form->softnoiseonset);
    QCOMPARE(form->MPCPlay1->DeviceID(), 1);
    QCOMPARE(form->frameGeometry(), main_place);
    // The dialog has not been shown yet; it opens at its stored place.
    QCOMPARE(QPoint(window_left(*dialog), window_top(*dialog)), QPoint(333, 222));
    show_dialog();
    QCOMPARE(dialog->frameGeometry().topLeft(), QPoint(333, 222));
    QCOMPARE(form->QOBFile1->nnodes(), 0);
  }

  void stored_device_found_by_name_data() {
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("device");
    const QStringList two{"Speakers", "Headphones"};
    QTest::newRow("same name") << two << "Headphones" << 1;
    QTest::newRow("letter case ignored") << two << "hEADPHONES" << 1;
    QTest::newRow("non-ascii letter case") << QStringList{"Lautsprecher", QString::fromUtf8("K\xC3\x9C" "CHE")}
                                           << QString::fromUtf8("k\xC3\xBC" "che") << 1;
    QTest::newRow("gone") << two << "USB Headset" << -1;
    QTest::newRow("empty means default") << QStringList{"", "Speakers"} << "" << -1;
    QTest::newRow("first of two equal names") << QStringList{"Speakers", "Twin", "Twin"} << "twin" << 1;
  }
  void stored_device_found_by_name() {
    QFETCH(QStringList, devices);
    QFETCH(QString, stored);
    QFETCH(int, device);
    tb().set_devices(devices);
    restart();  // the player reads the device list when it is created
    write_file(settings_file(), "MurmelinSettings",
               [&](TQOBFile& s) { s.writestring("General", "Soundcard", stored.toStdString()); });
    restart();
    QVERIFY(modal->boxes.empty());
    QCOMPARE(form->MPCPlay1->DeviceID(), device);
  }

  void foreign_file_warns_and_reads_only_places_data() {
    QTest::addColumn<QString>("fileid");
    QTest::newRow("another program") << "OtherProgramSettings";
    QTest::newRow("letter case differs") << "murmelinsettings";
    QTest::newRow("non-ascii id") << QString::fromUtf8("Einstellungen \xC3\xA4");
  }
  void foreign_file_warns_and_reads_only_places() {
    QFETCH(QString, fileid);
    write_file(settings_file(), fileid.toStdString(), [](TQOBFile& s) {
      s.writeinteger("MainWindow", "Top", 60);
      s.writeinteger("MainWindow", "Left", 90);
      s.writeinteger("Soundcard", "fs", 8000);
      s.writefloat("Noise", "Level", -40.0);
      s.writestring("General", "Soundcard", "Headphones");
    });
    form->show();
    QCOMPARE(modal->boxes.size(), size_t(1));
    const message_box_request& box = modal->boxes[0];
    QCOMPARE(box.caption, QStringLiteral("Wrong file type: \"") + fileid + QStringLiteral("\""));
    QCOMPARE(box.text, settings_file() + QStringLiteral("\n does not contain options for Murmelin"));
    QCOMPARE(box.flags, uint16_t(48));
    QCOMPARE(form->fs, 44100);
    QCOMPARE(form->noiselevel, -10.0);
    QCOMPARE(form->MPCPlay1->DeviceID(), -1);
    QCOMPARE(form->frameGeometry().topLeft(), QPoint(90, 60));
    QCOMPARE(form->QOBFile1->nnodes(), 0);
  }

  void not_a_settings_file_warns_with_empty_id() {
    QVERIFY(QDir().mkpath(QFileInfo(settings_file()).path()));
    QFile f(settings_file());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("just some text, not settings");
    f.close();
    form->show();
    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].caption, QStringLiteral("Wrong file type: \"\""));
    QCOMPARE(form->fs, 44100);
  }

  void damaged_file_of_the_right_kind_gives_defaults_silently() {
    form->show();
    form->fs = 96000;
    form->noiselevel = -3.0;
    form->save_settings(QString());
    QByteArray bytes = file_bytes(settings_file());
    bytes.chop(7);
    QFile f(settings_file());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    restart();
    QVERIFY(modal->boxes.empty());
    QCOMPARE(form->fs, 44100);
    QCOMPARE(form->noiselevel, -10.0);
  }

  void wrongly_typed_row_stops_reading_there_once() {
    write_file(settings_file(), "MurmelinSettings", [](TQOBFile& s) {
      s.writeinteger("Soundcard", "fs", 48000);
      s.writestring("Noise", "Level", "-20");
      s.writebool("Noise", "PlayLeft", false);
    });
    form->show();
    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].text, QStringLiteral("Data has wrong type: 13, not12."));
    QCOMPARE(modal->boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
    QCOMPARE(form->fs, 48000);
    QCOMPARE(form->noiselevel, -10.0);
    QVERIFY(form->noiseplayleft);
    QCOMPARE(form->QOBFile1->nnodes(), 0);
    // The program goes on: shown again or activated again, nothing is read or shown again.
    form->hide();
    form->show();
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(form.get(), &activate);
    QCOMPARE(modal->boxes.size(), size_t(1));
  }

  void load_from_a_named_file_leaves_windows_alone() {
    form->show();
    form->move(40, 30);
    const QString path = config->path() + QStringLiteral("/named.qobfile");
    write_file(path, "MurmelinSettings", [](TQOBFile& s) {
      s.writeinteger("MainWindow", "Top", 300);
      s.writeinteger("Soundcard", "fs", 32000);
    });
    form1_test_access::load_settings(*form, path);
    QCOMPARE(form->fs, 32000);
    QCOMPARE(form->frameGeometry().topLeft(), QPoint(40, 30));
  }

  // ---- the dialog

  void dialog_layout() {
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(dialog->size(), QSize(251, 214));
    QCOMPARE(dialog->font().pointSize(), 8);
    const bool has_tahoma = QFontDatabase::hasFamily(QStringLiteral("Tahoma"));
    QCOMPARE(dialog->font().family(), has_tahoma ? QStringLiteral("Tahoma") : desktop_sans_family());
    QVERIFY(!dialog->isVisible());
    QVERIFY(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(dialog->windowFlags() & Qt::WindowMaximizeButtonHint));
    struct control {
      QWidget* w;
      QRect place;
      QString text;
    };
    auto text_of = [](QWidget* w) -> QString {
      if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
      if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
      if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
      return QString();
    };
    const std::vector<control> controls = {
        {dialog->Label1, {128, 8, 48, 13}, "Level [dB]"},
        {dialog->leveledit, {124, 28, 121, 21}, ""},
        {dialog->Label2, {128, 56, 80, 13}, "Sample rate [Hz]"},
        {dialog->fsedit, {124, 75, 121, 21}, ""},
        {dialog->Button1, {16, 182, 75, 25}, "&Ok"},
        {dialog->Button2, {108, 182, 75, 25}, "&Cancel"},
        {dialog->GroupBox1, {8, 8, 105, 68}, "Channels"},
        {dialog->leftcheck, {8, 17, 61, 17}, "Left"},
        {dialog->rightcheck, {8, 40, 65, 17}, "Right"},
        {dialog->softonsetcheck, {16, 82, 97, 17}, "Soft onset"},
        {dialog->Label3, {16, 108, 51, 13}, "Soundcard"},
        {dialog->soundcardcombo, {10, 127, 233, 21}, ""},
        {dialog->Label4, {16, 158, 68, 13}, "&Stop after"},
        {dialog->stopaftercombo, {92, 154, 153, 21}, ""},
        {dialog->Button3, {216, 181, 27, 25}, "..."},
    };
    for (const control& c : controls) {
      QVERIFY(c.w != nullptr);
      QCOMPARE(c.w->geometry(), c.place);
      QCOMPARE(text_of(c.w), c.text);
    }
    QCOMPARE(dialog->leftcheck->parentWidget(), dialog->GroupBox1);
    QCOMPARE(dialog->rightcheck->parentWidget(), dialog->GroupBox1);
    QVERIFY(dialog->soundcardcombo->isEditable());
    QVERIFY(dialog->Button1->isDefault());
    QVERIFY(!dialog->Button2->isDefault() && !dialog->Button3->isDefault());

    // Tab order: the focus chain from the level field through the controls that take focus.
    const std::vector<QWidget*> order = {dialog->leveledit,  dialog->fsedit,         dialog->Button1,
                                         dialog->Button2,    dialog->leftcheck,      dialog->rightcheck,
                                         dialog->softonsetcheck, dialog->soundcardcombo, dialog->Button3};
    std::vector<QWidget*> chain;
    QWidget* w = dialog->leveledit;
    do {
      if (std::find(order.begin(), order.end(), w) != order.end() &&
          std::find(chain.begin(), chain.end(), w) == chain.end())
        chain.push_back(w);
      w = w->nextInFocusChain();
    } while (w != dialog->leveledit && chain.size() < order.size() + 1);
    QCOMPARE(chain, order);
  }

  void show_loads_the_controls() {
    form->show();
    show_dialog();
    QCOMPARE(dialog->fsedit->text(), QStringLiteral("44100"));
    QCOMPARE(dialog->leveledit->text(), QStringLiteral("-10"));
    QVERIFY(dialog->leftcheck->isChecked() && dialog->rightcheck->isChecked());
    QVERIFY(dialog->softonsetcheck->isChecked());
    QStringList entries;
    for (int i = 0; i < dialog->soundcardcombo->count(); ++i) entries << dialog->soundcardcombo->itemText(i);
    QCOMPARE(entries, (QStringList{"System default soundcard", "Speakers", "Headphones"}));
    QCOMPARE(dialog->soundcardcombo->currentIndex(), 0);
    QCOMPARE(dialog->soundcardcombo->currentText(), QStringLiteral("System default soundcard"));
    QCOMPARE(QApplication::focusWidget() == nullptr || QApplication::focusWidget() == dialog->leveledit, true);
    dialog->hide();

    form->fs = -7;
    form->noiselevel = -12.5;
    form->noiseplayleft = false;
    form->softnoiseonset = false;
    form->MPCPlay1->set_DeviceID(1);
    show_dialog();
    QCOMPARE(dialog->fsedit->text(), QStringLiteral("-7"));
    QCOMPARE(dialog->leveledit->text(), decimal("-12.5"));
    QVERIFY(!dialog->leftcheck->isChecked() && dialog->rightcheck->isChecked());
    QVERIFY(!dialog->softonsetcheck->isChecked());
    QCOMPARE(dialog->soundcardcombo->count(), 3);
    QCOMPARE(dialog->soundcardcombo->currentText(), QStringLiteral("Headphones"));
    dialog->hide();

    // Fifteen significant digits at most.
    form->noiselevel = 0.1 + 0.2;
    form->MPCPlay1->set_DeviceID(2);  // beyond the list: nothing selected, empty text
    show_dialog();
    QCOMPARE(dialog->leveledit->text(), decimal("0.3"));
    QCOMPARE(dialog->soundcardcombo->currentIndex(), -1);
    QCOMPARE(dialog->soundcardcombo->currentText(), QString());
    dialog->hide();

    form->noiselevel = -1.0 / 3.0;
    form->MPCPlay1->set_DeviceID(std::numeric_limits<int32_t>::max());
    show_dialog();
    QCOMPARE(dialog->leveledit->text(), decimal("-0.333333333333333"));
    QCOMPARE(dialog->soundcardcombo->currentIndex(), -1);
    QVERIFY(modal->boxes.empty());
  }

  void ok_stores_saves_and_closes() {
    form->show();
    show_dialog();
    dialog->fsedit->setText(QStringLiteral("48000"));
    dialog->leveledit->setText(QStringLiteral("-20"));
    dialog->leftcheck->setChecked(false);
    dialog->softonsetcheck->setChecked(false);
    dialog->soundcardcombo->setCurrentIndex(2);
    ok();
    QVERIFY(modal->boxes.empty());
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(form->fs, 48000);
    QCOMPARE(form->noiselevel, -20.0);
    QVERIFY(!form->noiseplayleft);
    QVERIFY(form->noiseplayright);
    QVERIFY(!form->softnoiseonset);
    QCOMPARE(form->MPCPlay1->DeviceID(), 1);
    QCOMPARE(saved().rows, all_rows);

    // The next Play plays the new options on the chosen device.
    form->Playaction->trigger();
    QCOMPARE(tb().last_device(), uint32_t(1));
    QCOMPARE(tb().last_format().nSamplesPerSec, uint32_t(48000));

    // Enter confirms too: the default button.
    form->Playaction->trigger();
    show_dialog();
    dialog->fsedit->setText(QStringLiteral("44100"));
    dialog->soundcardcombo->setCurrentIndex(0);
    QTest::keyClick(dialog->fsedit, Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(form->fs, 44100);
    QCOMPARE(form->MPCPlay1->DeviceID(), -1);
  }

  void stop_after_comes_from_and_goes_to_the_file() {
    // Any time up to a day comes back, one that is no choice as "N min" in its place in the
    // list; anything else is never.
    const QStringList choices = {"Never", "15 min", "30 min",  "45 min", "1 h", "1 h 30 min",
                                 "2 h",   "3 h",    "4 h",     "6 h",    "8 h"};
    struct stored_time {
      int32_t minutes, kept;
      int at;  // where its entry stands
    };
    for (const stored_time t : {stored_time{100, 100, 6}, {1440, 1440, 11}, {1, 1, 1}, {30, 30, 2},
                                {1441, 0, 0}, {-30, 0, 0}}) {
      write_file(settings_file(), "MurmelinSettings",
                 [&](TQOBFile& s) { s.writeinteger("Noise", "StopAfter", t.minutes); });
      restart();
      QCOMPARE(form->stopafter, t.kept);
      show_dialog();
      QStringList shown = choices;
      if (shown.size() + 1 == dialog->stopaftercombo->count()) shown.insert(t.at, QStringLiteral("%1 min").arg(t.kept));
      QStringList entries;
      for (int i = 0; i < dialog->stopaftercombo->count(); ++i) entries << dialog->stopaftercombo->itemText(i);
      QCOMPARE(entries, shown);
      QCOMPARE(dialog->stopaftercombo->currentIndex(), t.at);
      dialog->reject();
    }
    // Chosen and confirmed: in the file, after the rows that were there before, and in force.
    show_dialog();
    dialog->stopaftercombo->setCurrentIndex(5);
    ok();
    QCOMPARE(form->stopafter, 90);
    QCOMPARE(saved().rows, all_rows);
    TQOBFile store;
    read_back(settings_file(), store);
    QCOMPARE(store.readinteger("Noise", "StopAfter", -1), 90);
  }

  void settings_action_runs_the_dialog() {
    form->show();
    form->Playaction->trigger();
    QVERIFY(form->playing());
    bool stopped_when_shown = false;
    modal->on_dialog = [&](QDialog& d) {
      QCOMPARE(&d, static_cast<QDialog*>(dialog));
      stopped_when_shown = !form->playing() && tb().open_streams() == 0;
      d.show();
      dialog->leveledit->setText(decimal("-30.5"));
      QTest::mouseClick(dialog->Button1, Qt::LeftButton);
    };
    form->settingsaction->trigger();
    QVERIFY(stopped_when_shown);
    QCOMPARE(form->noiselevel, -30.5);
    QVERIFY(!form->playing());
    QVERIFY(QFile::exists(settings_file()));
  }

  void overload_opens_the_dialog_to_lower_the_level() {
    form->show();
    form->noiselevel = 20.0;
    form->softnoiseonset = false;
    QString level_shown;
    modal->on_dialog = [&](QDialog& d) {
      d.show();
      level_shown = dialog->leveledit->text();
      dialog->leveledit->setText(QStringLiteral("-20"));
      QTest::mouseClick(dialog->Button1, Qt::LeftButton);
    };
    form->Playaction->trigger();
    QCoreApplication::sendPostedEvents();  // the dialog opens from the window's event loop
    QCOMPARE(modal->dialogs.size(), size_t(1));
    QCOMPARE(level_shown, QStringLiteral("20"));
    QCOMPARE(form->noiselevel, -20.0);
    QCOMPARE(form->Label1->text(), QStringLiteral("Overload, reduce level!"));
    QVERIFY(!form->playing());
    QVERIFY(QFile::exists(settings_file()));
  }

  void conversion_errors_keep_the_dialog_open_data() {
    QTest::addColumn<QString>("rate");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("fs_after");
    QTest::newRow("letters for the rate") << "abc" << "-20" << "''abc'' is not a valid integer value." << 44100;
    QTest::newRow("empty rate") << "" << "-20" << "'''' is not a valid integer value." << 44100;
    QTest::newRow("fractional rate") << decimal("44100.5") << "-20"
                                     << "''" + decimal("44100.5") + "'' is not a valid integer value." << 44100;
    QTest::newRow("rate beyond 32 bits") << "4294967296" << "-20"
                                         << "''4294967296'' is not a valid integer value." << 44100;
    QTest::newRow("bad level after a good rate") << "48000" << "loud"
                                                 << "'loud' is not a valid floating point value." << 48000;
    QTest::newRow("empty level") << "32000" << "" << "'' is not a valid floating point value." << 32000;
    QTest::newRow("level beyond double") << "22050" << "1e999"
                                         << "'1e999' is not a valid floating point value." << 22050;
    QTest::newRow("not a number") << "22050" << "nan" << "'nan' is not a valid floating point value." << 22050;
    QTest::newRow("group separator") << "22050" << "1" + QLocale().groupSeparator() + "000"
                                     << "'1" + QLocale().groupSeparator() + "000' is not a valid floating point value."
                                     << 22050;
  }
  void conversion_errors_keep_the_dialog_open() {
    QFETCH(QString, rate);
    QFETCH(QString, level);
    QFETCH(QString, message);
    QFETCH(int, fs_after);
    form->show();
    show_dialog();
    dialog->fsedit->setText(rate);
    dialog->leveledit->setText(level);
    dialog->rightcheck->setChecked(false);
    dialog->soundcardcombo->setCurrentIndex(1);
    ok();
    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].text, message);
    QCOMPARE(modal->boxes[0].caption, Application()->Title());
    QCOMPARE(modal->boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->fsedit->text(), rate);
    QCOMPARE(dialog->leveledit->text(), level);
    QCOMPARE(form->fs, fs_after);
    QCOMPARE(form->noiselevel, -10.0);
    QVERIFY(form->noiseplayright);
    QCOMPARE(form->MPCPlay1->DeviceID(), -1);
    QVERIFY(!QFile::exists(settings_file()));
  }

  void accepted_number_forms() {
    QCOMPARE(str_to_int(QStringLiteral(" +48000 ")), 48000);
    QCOMPARE(str_to_int(QStringLiteral("-2147483648")), std::numeric_limits<int32_t>::min());
    QVERIFY_THROWS_EXCEPTION(EConvertError, str_to_int(QStringLiteral("0x10")));
    QVERIFY_THROWS_EXCEPTION(EConvertError, str_to_int(QStringLiteral("2147483648")));
    QVERIFY_THROWS_EXCEPTION(EConvertError, str_to_int(QString::fromUtf8("\xD9\xA4\xD9\xA5")));  // Arabic-Indic digits
    QCOMPARE(str_to_float(decimal(" -20.5 ")), -20.5);
    QCOMPARE(str_to_float(decimal("1.5e2")), 150.0);
    QCOMPARE(str_to_float(QStringLiteral("-20")), -20.0);
    QVERIFY_THROWS_EXCEPTION(EConvertError, str_to_float(QStringLiteral("inf")));
  }

  void decimal_separator_follows_the_locale() {
    // Run once more with LC_ALL=de_DE.UTF-8, where the decimal comma must be in force.
    if (qEnvironmentVariableIsSet("MURMELIN_EXPECT_DECIMAL_COMMA"))
      QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
    const QString sep = QLocale().decimalPoint();
    form->show();
    form->noiselevel = -12.5;
    show_dialog();
    QCOMPARE(dialog->leveledit->text(), QStringLiteral("-12") + sep + QStringLiteral("5"));
    dialog->leveledit->setText(QStringLiteral("-20") + sep + QStringLiteral("5"));
    ok();
    QVERIFY(modal->boxes.empty());
    QCOMPARE(form->noiselevel, -20.5);
    if (sep == QStringLiteral(",")) {
      // Under a decimal comma the dot is no decimal separator.
      show_dialog();
      dialog->leveledit->setText(QStringLiteral("-20.5"));
      ok();
      QCOMPARE(last_box_text(), QStringLiteral("'-20.5' is not a valid floating point value."));
      QVERIFY(dialog->isVisible());
    }
  }

  void no_selection_gives_device_minus_two() {
    form->show();
    show_dialog();
    dialog->soundcardcombo->setCurrentIndex(-1);
    ok();
    QCOMPARE(form->MPCPlay1->DeviceID(), -2);
    TQOBFile store;
    read_back(settings_file(), store);
    QCOMPARE(store.readstring("General", "Soundcard", "?"), std::string());

    // Text typed over the selection that names no entry selects nothing; a device's name
    // typed in another letter case selects that device.
    show_dialog();
    QCOMPARE(dialog->soundcardcombo->currentIndex(), -1);
    dialog->soundcardcombo->setCurrentIndex(1);
    dialog->soundcardcombo->setEditText(QStringLiteral("Somewhere else"));
    ok();
    QCOMPARE(form->MPCPlay1->DeviceID(), -2);
    show_dialog();
    dialog->soundcardcombo->setEditText(QStringLiteral("headphones"));
    ok();
    QCOMPARE(form->MPCPlay1->DeviceID(), 1);

    // Play with no device: the player's open error, as for any device that is gone.
    form->MPCPlay1->set_DeviceID(-2);
    form->Playaction->trigger();
    QCOMPARE(modal->boxes.size(), size_t(1));
    QVERIFY(modal->boxes[0].text.startsWith(QStringLiteral("WaveOutOpen:")));
  }

  void cancel_and_close_change_nothing() {
    form->show();
    form->MPCPlay1->set_DeviceID(0);
    form->save_settings(QString());
    const QByteArray before = file_bytes(settings_file());
    QVERIFY(!before.isEmpty());
    for (int how = 0; how < 3; ++how) {
      show_dialog();
      dialog->fsedit->setText(QStringLiteral("8000"));
      dialog->leveledit->setText(QStringLiteral("-60"));
      dialog->leftcheck->setChecked(false);
      dialog->rightcheck->setChecked(false);
      dialog->softonsetcheck->setChecked(false);
      dialog->soundcardcombo->setCurrentIndex(2);
      if (how == 0) QTest::mouseClick(dialog->Button2, Qt::LeftButton);
      if (how == 1) dialog->close();
      if (how == 2) QTest::keyClick(dialog->fsedit, Qt::Key_Escape);
      if (how == 2) {
        // Escape is bound to no button: the dialog stays, and Cancel then closes it.
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(dialog->Button2, Qt::LeftButton);
      }
      QVERIFY(!dialog->isVisible());
      QCOMPARE(form->fs, 44100);
      QCOMPARE(form->noiselevel, -10.0);
      QVERIFY(form->noiseplayleft && form->noiseplayright && form->softnoiseonset);
      QCOMPARE(form->MPCPlay1->DeviceID(), 0);
      QCOMPARE(file_bytes(settings_file()), before);
    }
    // The next show loads the stored values again.
    show_dialog();
    QCOMPARE(dialog->fsedit->text(), QStringLiteral("44100"));
    QCOMPARE(dialog->soundcardcombo->currentText(), QStringLiteral("Speakers"));
    QVERIFY(modal->boxes.empty());
  }

  void device_plugged_in_between_two_shows() {
    form->show();
    form->MPCPlay1->set_DeviceID(1);
    show_dialog();
    QCOMPARE(dialog->soundcardcombo->count(), 3);
    dialog->hide();
    tb().set_devices({"Speakers", "Headphones", "USB Headset"});
    show_dialog();
    QCOMPARE(dialog->soundcardcombo->count(), 4);
    QCOMPARE(dialog->soundcardcombo->itemText(3), QStringLiteral("USB Headset"));
    QCOMPARE(dialog->soundcardcombo->currentText(), QStringLiteral("Headphones"));
    dialog->soundcardcombo->setCurrentIndex(3);
    ok();
    QCOMPARE(form->MPCPlay1->DeviceID(), 2);
    TQOBFile store;
    read_back(settings_file(), store);
    QCOMPARE(store.readstring("General", "Soundcard", "?"), std::string("USB Headset"));

    // Unplugged again: the dialog opens with nothing selected.
    tb().set_devices({"Speakers"});
    show_dialog();
    QCOMPARE(dialog->soundcardcombo->count(), 2);
    QCOMPARE(dialog->soundcardcombo->currentIndex(), -1);
    QCOMPARE(dialog->soundcardcombo->currentText(), QString());
  }

  void failed_save_reports_and_keeps_the_dialog_open() {
    // A folder that cannot be made: the config folder is a file.
    const QString blocker = config->path() + QStringLiteral("/blocker");
    QFile f(blocker);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
    form->show();
    show_dialog();
    dialog->fsedit->setText(QStringLiteral("48000"));
    ok();
    QCOMPARE(modal->boxes.size(), size_t(1));
    QCOMPARE(modal->boxes[0].text, QStringLiteral("Unable to create directory."));
    QCOMPARE(modal->boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
    QVERIFY(dialog->isVisible());
    QCOMPARE(form->fs, 48000);  // stored before the save failed
    QCOMPARE(form->QOBFile1->nnodes(), 0);
    // The user can try again once the folder can be made, or cancel.
    qputenv("XDG_CONFIG_HOME", config->path().toLocal8Bit());
    ok();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(saved().rows, all_rows);
  }

  void full_disk_keeps_the_previous_file() {
    form->show();
    show_dialog();
    ok();
    const QByteArray before = file_bytes(settings_file());
    QVERIFY(before.size() > 64);

    show_dialog();
    dialog->leveledit->setText(QStringLiteral("-33"));
    {
      file_size_limit limit(64);  // writes beyond 64 bytes fail as on a full disk
      QVERIFY(limit.ok());
      ok();
    }
    QCOMPARE(form->QOBFile1->nnodes(), 0);
    // A write that fails on a full disk leaves the previous file, says so and keeps the
    // dialog open.
    QCOMPARE(file_bytes(settings_file()), before);
    QCOMPARE(modal->boxes.size(), size_t(1));
    QVERIFY(dialog->isVisible());
    QCOMPARE(QFileInfo(settings_file()).dir().entryList(QDir::Files),
             QStringList{"MurmelinSettings.qobfile"});
  }

  void about_button_shows_the_about_box_over_the_dialog() {
    form->show();
    show_dialog();
    QTest::mouseClick(dialog->Button3, Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QCOMPARE(modal->dialogs.size(), size_t(1));
    QDialog* box = modal->dialogs[0];
    QCOMPARE(box, static_cast<QDialog*>(form->CorvelAbout1->form));
    QCOMPARE(box->windowTitle(), QStringLiteral("About"));
    QVERIFY(box->windowHandle() != nullptr);
    QCOMPARE(box->windowHandle()->transientParent(), dialog->windowHandle());

    // A hook replaces it.
    int shown = 0;
    dialog->set_OnAbout([&] { ++shown; });
    QTest::mouseClick(dialog->Button3, Qt::LeftButton);
    QCOMPARE(shown, 1);
    QCOMPARE(modal->dialogs.size(), size_t(1));
    QVERIFY(dialog->isVisible());
    QVERIFY(modal->boxes.empty());
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestSettings t;
  return QTest::qExec(&t, argc, argv);
}

#include "settings_tests.moc"
