// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: title rule, default error handler, message boxes and modal dialogs
// through the seam, font substitution and image lists.
#include <QAction>
#include <QDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QtTest>

#include <stdexcept>

#include "application.h"
#include "error_boundary.h"
#include "exceptions.h"
#include "fonts.h"
#include "gui_test_support.h"
#include "imagelist.h"
#include "modal_seam.h"

using namespace murmelin;
using murmelin::testing::modal_recorder;

class TestApplication : public QObject {
  Q_OBJECT
private slots:
  void title_rule_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");
    QTest::newRow("plain") << "/usr/bin/Murmelin" << "Murmelin";
    QTest::newRow("upper with extension") << "/x/MURMELIN.EXE" << "Murmelin";
    QTest::newRow("up to first dot") << "murmelin.tar.gz" << "murmelin";
    QTest::newRow("first letter kept") << "mURMELIN" << "murmelin";
    QTest::newRow("dot in folder") << "/opt/a.b/MurMELIN" << "Murmelin";
    QTest::newRow("non-ascii") << QString::fromUtf8("/p/\xC3\x84RGER.bin") << QString::fromUtf8("\xC3\x84rger");
    QTest::newRow("single letter") << "/bin/X.exe" << "X";
    QTest::newRow("leading dot") << "/home/u/.hidden" << "";
  }
  void title_rule() {
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(title_from_program_file(path), title);
  }

  void title_comes_from_the_running_program() {
    // This test program's own file name, by the same rule.
    QVERIFY(Application() != nullptr);
    QCOMPARE(Application()->Title(), QStringLiteral("gui_app_application_tests"));
  }

  void error_text_dot_rule_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Integer overflow" << "Integer overflow.";
    QTest::newRow("has dot") << "Done." << "Done.";
    QTest::newRow("exclamation") << "Overload!" << "Overload!";
    QTest::newRow("comma") << "a," << "a,";
    QTest::newRow("minus") << "b-" << "b-";
    QTest::newRow("slash is above dot") << "c/" << "c/.";
    QTest::newRow("digit") << "code 42" << "code 42.";
    QTest::newRow("blank") << "x " << "x ";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("non-ascii last") << QString::fromUtf8("M\xC3\xBC") << QString::fromUtf8("M\xC3\xBC.");
  }
  void error_text_dot_rule() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(error_box_text(message), shown);
  }

  void default_handler_shows_error_box_and_program_goes_on() {
    modal_recorder modal;
    QAction action;
    int later = 0;
    QObject::connect(&action, &QAction::triggered, [] {
      guarded([] { throw EIntOverflow(); });
    });
    action.trigger();
    // The event loop goes on with the next piece of work.
    QMetaObject::invokeMethod(&action, [&later] { ++later; }, Qt::QueuedConnection);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(later, 1);

    QCOMPARE(modal.boxes.size(), size_t(1));
    QCOMPARE(modal.boxes[0].text, QStringLiteral("Integer overflow."));
    QCOMPARE(modal.boxes[0].caption, Application()->Title());
    QCOMPARE(modal.boxes[0].flags, uint16_t(MB_OK | MB_ICONERROR));
  }

  void default_handler_keeps_utf8_and_unknown_errors() {
    modal_recorder modal;
    guarded([] { throw EConvertError("'\xC3\xA4' is not a valid integer value"); });
    guarded([] { throw 42; });
    QCOMPARE(modal.boxes.size(), size_t(2));
    QCOMPARE(modal.boxes[0].text, QString::fromUtf8("'\xC3\xA4' is not a valid integer value."));
    QCOMPARE(modal.boxes[1].text, QStringLiteral("Unknown error."));
  }

  void message_box_goes_through_seam() {
    modal_recorder modal;
    modal.box_answer = IDCANCEL;
    const int16_t r = message_box(QStringLiteral("C:\\x\r does not contain options"),
                                  QStringLiteral("Wrong file type: \"\""), 48);
    QCOMPARE(r, IDCANCEL);
    QCOMPARE(modal.boxes.size(), size_t(1));
    QCOMPARE(modal.boxes[0].text, QStringLiteral("C:\\x\r does not contain options"));
    QCOMPARE(modal.boxes[0].caption, QStringLiteral("Wrong file type: \"\""));
    QCOMPARE(modal.boxes[0].flags, uint16_t(MB_ICONEXCLAMATION));
  }

  void seam_handlers_nest_and_restore() {
    modal_recorder outer;
    {
      modal_recorder inner;
      inner.dialog_answer = QDialog::Accepted;
      QDialog dialog;
      QCOMPARE(exec_modal(dialog), int(QDialog::Accepted));
      QCOMPARE(inner.dialogs.size(), size_t(1));
      QCOMPARE(inner.dialogs[0], &dialog);
      message_box(QStringLiteral("t"), QStringLiteral("c"), MB_OK);
      QCOMPARE(inner.boxes.size(), size_t(1));
    }
    // The outer handlers answer again once the inner ones are gone.
    QDialog dialog;
    QCOMPARE(exec_modal(dialog), int(QDialog::Rejected));
    message_box(QStringLiteral("t"), QStringLiteral("c"), MB_OK);
    QCOMPARE(outer.dialogs.size(), size_t(1));
    QCOMPARE(outer.boxes.size(), size_t(1));
    QVERIFY(!dialog.isVisible());
  }

  void missing_font_family_falls_back_to_desktop_sans() {
    QWidget root;
    root.setFont(QFont(QStringLiteral("No Such Family Murmelin"), 8));
    auto* label = new QLabel(&root);
    label->setFont(QFont(QStringLiteral("Another Missing Family"), 12));
    auto* plain = new QLabel(&root);
    const QString sans = desktop_sans_family();
    QVERIFY(!sans.isEmpty());
    QVERIFY(QFontDatabase::hasFamily(sans));

    substitute_missing_fonts(&root);
    QCOMPARE(root.font().family(), sans);
    QCOMPARE(root.font().pointSize(), 8);
    QCOMPARE(label->font().family(), sans);
    QCOMPARE(label->font().pointSize(), 12);
    QVERIFY(!plain->testAttribute(Qt::WA_SetFont));
    QCOMPARE(plain->font().pointSize(), 8);
  }

  void present_font_family_is_kept() {
    const QStringList families = QFontDatabase::families();
    QVERIFY(!families.isEmpty());
    QWidget w;
    w.setFont(QFont(families.first(), 10));
    substitute_missing_fonts(&w);
    QCOMPARE(w.font().family(), families.first());
    QCOMPARE(w.font().pointSize(), 10);
  }

  void image_list_and_image_index() {
    TImageList list(16, 16);
    QPixmap red(16, 16);
    red.fill(Qt::red);
    QPixmap blue(16, 16);
    blue.fill(Qt::blue);
    list.add(QIcon(red));
    list.add(QIcon(blue));
    QCOMPARE(list.Count(), 2);

    QAction action;
    QCOMPARE(ImageIndex(&action), -1);
    set_ImageIndex(&action, list, 1);
    QCOMPARE(ImageIndex(&action), 1);
    QCOMPARE(action.icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::blue));
    // An index beyond the list raises and leaves the action as it was.
    QVERIFY_THROWS_EXCEPTION(ERangeError, set_ImageIndex(&action, list, 2));
    QCOMPARE(ImageIndex(&action), 1);
    set_ImageIndex(&action, list, -1);
    QCOMPARE(ImageIndex(&action), -1);
    QVERIFY(action.icon().isNull());
  }
};

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  TestApplication t;
  return QTest::qExec(&t, argc, argv);
}

#include "application_tests.moc"
