// SPDX-License-Identifier: GPL-3.0-or-later
// Private D-Bus buses for the desktop-bus tests, and the fakes of the services that the
// program talks to on them.
//
// The test program starts two dbus-daemons of its own in a private folder: one stands for the
// session bus and one for the system bus (DBUS_SESSION_BUS_ADDRESS, DBUS_SYSTEM_BUS_ADDRESS),
// so no test ever reaches the user's buses, a real portal or the real logind. Neither bus can
// start services. The daemons die with the test process even when it crashes.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace bus_rig {

// The two private buses; stop() (or the destructor) ends both daemons.
class private_buses {
public:
  private_buses() = default;
  ~private_buses() { stop(); }
  private_buses(const private_buses&) = delete;
  private_buses& operator=(const private_buses&) = delete;

  // Starts both daemons and points the bus variables of this process at them. False, with a
  // message in error, when a daemon does not come up within 10 s.
  bool start(std::string& error);
  void stop();

private:
  struct daemon {
    int pid = -1;
    std::string address;
  };
  bool start_one(const std::string& name, daemon& d, std::string& error);

  std::string fdir;
  daemon fsession;
  daemon fsystem;
};

// Test entry for a program whose tests need the private buses.
int run_with_private_buses(int argc, char** argv);

// Runs the event loop until done() holds, at most `seconds`. False when it never held.
bool wait_for(const std::function<bool()>& done, int seconds = 10);

// A second connection to the bus at this address (the program's own one is the default
// session or system bus connection), closed on destruction.
class client {
public:
  explicit client(const char* address_variable);
  ~client();
  client(const client&) = delete;
  client& operator=(const client&) = delete;

  QDBusConnection& bus() { return fbus; }
  // Calls and runs the event loop until the answer comes (so the program, on this same
  // thread, can answer); an error message when no answer comes within 10 s.
  QDBusMessage call(const QDBusMessage& m);
  QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                    const QString& method, const QVariantList& args = {});
  // A property through org.freedesktop.DBus.Properties.Get; invalid on error.
  QVariant property(const QString& service, const QString& interface, const QString& name);
  QVariantMap all_properties(const QString& service, const QString& interface);
  bool has_owner(const QString& name);

private:
  QString fname;
  QDBusConnection fbus;
};

// Turns a{sv} as it comes out of a variant (a QDBusArgument) into a map; plain maps pass.
QVariantMap to_map(const QVariant& v);

// Every org.freedesktop.DBus.Properties.PropertiesChanged signal of one object.
class properties_recorder : public QObject {
  Q_OBJECT
public:
  properties_recorder(QDBusConnection& bus, const QString& path);

  struct change {
    QString interface;
    QVariantMap changed;
    QStringList invalidated;
  };
  std::vector<change> changes;

  // The values that one property took, in order.
  QVariantList values_of(const QString& property) const;

public slots:
  void on_signal(const QDBusMessage& m);
};

// The desktop portal's inhibit call: org.freedesktop.portal.Desktop at
// /org/freedesktop/portal/desktop, with a request object for every inhibitor it grants.
class fake_portal : public QDBusVirtualObject {
  Q_OBJECT
public:
  fake_portal();
  ~fake_portal() override;

  struct inhibit_call {
    QString window;
    uint flags = 0;
    QVariantMap options;
  };
  std::vector<inhibit_call> calls;
  std::vector<QString> granted;   // request handles, in order
  std::vector<QString> unanswered;  // requests that got no Response
  std::vector<QString> closed;    // handles closed, in order
  int bad_closes = 0;             // Close on a request refused, unknown or closed already

  // Error name with which every Inhibit call fails; empty: answered with a request.
  QString refuse_with;
  // The Response every request gets: 0 granted, 2 refused, -1 none.
  int response = 0;
  // Keeps Inhibit calls unanswered until answer_held().
  bool hold_answers = false;
  std::vector<QDBusMessage> held;
  void answer_held();

  // Granted and not closed.
  int active() const {
    return static_cast<int>(std::count_if(granted.begin(), granted.end(), [this](const QString& h) {
      return std::find(closed.begin(), closed.end(), h) == closed.end();
    }));
  }

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
  void answer(const QDBusMessage& call);
  QString fname;
  QDBusConnection fbus;
};

// logind's Inhibit on the (private) system bus: every inhibitor it grants is the write end of
// a pipe whose read end the fake keeps, so it sees when the last copy is closed.
class fake_logind : public QDBusVirtualObject {
  Q_OBJECT
public:
  fake_logind();
  ~fake_logind() override;

  std::vector<QStringList> calls;  // what, who, why, mode
  QString refuse_with;
  bool hold_answers = false;
  std::vector<QDBusMessage> held;
  void answer_held();

  // Inhibitors granted whose descriptor some process still holds open.
  int active() const;
  int granted() const { return static_cast<int>(fread_ends.size()); }

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
  void answer(const QDBusMessage& call);
  std::vector<int> fread_ends;
  QString fname;
  QDBusConnection fbus;
};

}  // namespace bus_rig
