// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris.h"

#include "bus_name.h"
#include "error_boundary.h"
#include "translation.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLocale>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cmath>
#include <utility>

namespace murmelin {

namespace {

const QString object_path = QStringLiteral("/org/mpris/MediaPlayer2");
const QString service_name = QString::fromLatin1(murmelin_media_player_name);
const QString player_interface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString track_path = QStringLiteral("/com/briskodata/Murmelin/PinkNoise");

constexpr uint name_reply_primary_owner = 1;
constexpr uint name_reply_already_owner = 4;

enum class request { play, stop, toggle, raise, quit };

}  // namespace

class mpris_object : public QObject {
  Q_OBJECT
public:
  explicit mpris_object(mpris_callbacks callbacks);
  ~mpris_object() override;

  void set_playing(bool playing);
  void set_level(double level_db, const QString& stop_time);
  bool playing() const { return fplaying; }
  bool on_bus() const { return fexported; }
  QDBusConnection& bus() { return fbus; }

  bool can_raise() const { return static_cast<bool>(fcallbacks.raise); }
  bool can_quit() const { return static_cast<bool>(fcallbacks.quit); }
  QVariantMap metadata() const;
  QString playback_status() const {
    return fplaying ? QStringLiteral("Playing") : QStringLiteral("Stopped");
  }

  // Runs the request from the event loop, after the bus call has been answered: a play
  // control that opens a message box must not hold the caller's reply.
  void post(request r);

private:
  void run(request r);
  void request_name(const QString& name, bool fall_back);
  void properties_changed(const QVariantMap& changed);

  mpris_callbacks fcallbacks;
  QDBusConnection fbus;
  bool fexported = false;
  QStringList frequested_names;
  bool fplaying = false;
  double flevel = NAN;
  QString fstop_time;
};

namespace {

class root_adaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ CanQuit)
  Q_PROPERTY(bool CanRaise READ CanRaise)
  Q_PROPERTY(bool HasTrackList READ HasTrackList)
  Q_PROPERTY(QString Identity READ Identity)
  Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
  explicit root_adaptor(mpris_object* owner) : QDBusAbstractAdaptor(owner), fowner(owner) {
    setAutoRelaySignals(false);
  }
  bool CanQuit() const { return fowner->can_quit(); }
  bool CanRaise() const { return fowner->can_raise(); }
  bool HasTrackList() const { return false; }
  QString Identity() const { return QStringLiteral("Murmelin"); }
  QString DesktopEntry() const { return QString::fromLatin1(murmelin_desktop_entry); }
  QStringList SupportedUriSchemes() const { return {}; }
  QStringList SupportedMimeTypes() const { return {}; }

public slots:
  void Raise() { fowner->post(request::raise); }
  void Quit() { fowner->post(request::quit); }

private:
  mpris_object* fowner;
};

class player_adaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
  Q_PROPERTY(double Rate READ Rate)
  Q_PROPERTY(double MinimumRate READ Rate)
  Q_PROPERTY(double MaximumRate READ Rate)
  Q_PROPERTY(QVariantMap Metadata READ Metadata)
  Q_PROPERTY(double Volume READ Volume)
  Q_PROPERTY(qlonglong Position READ Position)
  Q_PROPERTY(bool CanGoNext READ no)
  Q_PROPERTY(bool CanGoPrevious READ no)
  Q_PROPERTY(bool CanPlay READ yes)
  Q_PROPERTY(bool CanPause READ yes)
  Q_PROPERTY(bool CanSeek READ no)
  Q_PROPERTY(bool CanControl READ yes)
public:
  explicit player_adaptor(mpris_object* owner) : QDBusAbstractAdaptor(owner), fowner(owner) {
    setAutoRelaySignals(false);
  }
  QString PlaybackStatus() const { return fowner->playback_status(); }
  double Rate() const { return 1.0; }
  QVariantMap Metadata() const { return fowner->metadata(); }
  double Volume() const { return 1.0; }
  qlonglong Position() const { return 0; }
  bool yes() const { return true; }
  bool no() const { return false; }

public slots:
  void Play() { fowner->post(request::play); }
  void Pause() { fowner->post(request::stop); }
  void PlayPause() { fowner->post(request::toggle); }
  void Stop() { fowner->post(request::stop); }
  // Without a next or previous track and without seeking these do nothing, as the
  // capabilities announce.
  void Next() {}
  void Previous() {}
  void Seek(qlonglong Offset) { Q_UNUSED(Offset); }
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    Q_UNUSED(TrackId);
    Q_UNUSED(Position);
  }
  void OpenUri(const QString& Uri, const QDBusMessage& call) {
    call.setDelayedReply(true);
    fowner->bus().send(call.createErrorReply(
        QDBusError::NotSupported,
        QStringLiteral("Murmelin plays only its own noise and opens no \"%1\".").arg(Uri)));
  }

signals:
  void Seeked(qlonglong Position);

private:
  mpris_object* fowner;
};

}  // namespace

mpris_object::mpris_object(mpris_callbacks callbacks)
    : fcallbacks(std::move(callbacks)), fbus(QStringLiteral("")) {
  if (!QCoreApplication::instance()) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  new root_adaptor(this);
  new player_adaptor(this);
  // The object is there before the name, so whoever sees the name appear finds it.
  if (!bus.registerObject(object_path, this, QDBusConnection::ExportAdaptors)) return;
  fbus = bus;
  fexported = true;
  request_name(service_name, true);
}

mpris_object::~mpris_object() {
  // After the application is gone the names go with the connection.
  if (!fexported || !QCoreApplication::instance()) return;
  fbus.unregisterObject(object_path);
  // Sent without waiting; the bus handles it after any RequestName still on its way.
  for (const QString& name : std::as_const(frequested_names)) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"));
    m << name;
    fbus.send(m);
  }
}

void mpris_object::request_name(const QString& name, bool fall_back) {
  frequested_names << name;
  auto* watcher = new QDBusPendingCallWatcher(fbus.asyncCall(request_name_call(name)), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, fall_back](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            QDBusPendingReply<uint> reply = *w;
            if (reply.isError()) return;
            const uint answer = reply.value();
            if (answer == name_reply_primary_owner || answer == name_reply_already_owner) return;
            // Another process plays under the plain name: the convention for a second
            // instance is a unique suffix.
            if (fall_back)
              request_name(service_name + QStringLiteral(".instance") +
                               QString::number(QCoreApplication::applicationPid()),
                           false);
          });
}

void mpris_object::post(request r) {
  QMetaObject::invokeMethod(this, [this, r] { run(r); }, Qt::QueuedConnection);
}

void mpris_object::run(request r) {
  guarded([&] {
    if (r == request::raise) {
      if (fcallbacks.raise) fcallbacks.raise();
      return;
    }
    // Quit is the desktop ending the program (logout, the panel's media controls): it is
    // taken even while a dialog is open.
    if (r == request::quit) {
      if (fcallbacks.quit) fcallbacks.quit();
      return;
    }
    if (fcallbacks.can_control && !fcallbacks.can_control()) return;
    const bool wanted = r == request::play ? true : r == request::stop ? false : !fplaying;
    if (wanted == fplaying || !fcallbacks.request_play) return;
    fcallbacks.request_play(wanted);
  });
}

void mpris_object::set_playing(bool playing) {
  if (playing == fplaying) return;
  fplaying = playing;
  properties_changed({{QStringLiteral("PlaybackStatus"), playback_status()}});
}

void mpris_object::set_level(double level_db, const QString& stop_time) {
  const bool same = std::isfinite(level_db) ? level_db == flevel : !std::isfinite(flevel);
  if (same && stop_time == fstop_time) return;
  flevel = std::isfinite(level_db) ? level_db : NAN;
  fstop_time = stop_time;
  properties_changed({{QStringLiteral("Metadata"), metadata()}});
}

QVariantMap mpris_object::metadata() const {
  QVariantMap m;
  m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(track_path)));
  m.insert(QStringLiteral("xesam:title"), translated("mpris", "Pink noise"));
  if (std::isfinite(flevel)) {
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    const QString level = locale.toString(flevel, 'f', 1);
    //: The level in the media controls, and the clock time at which a timer stops the noise.
    const QString comment = fstop_time.isEmpty()
                                ? translated("mpris", "%1 dB").arg(level)
                                : translated("mpris", "%1 dB, until %2").arg(level, fstop_time);
    m.insert(QStringLiteral("xesam:comment"), QStringList{comment});
    m.insert(QStringLiteral("murmelin:level"), flevel);
  }
  return m;
}

void mpris_object::properties_changed(const QVariantMap& changed) {
  if (!fexported) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      object_path, QStringLiteral("org.freedesktop.DBus.Properties"),
      QStringLiteral("PropertiesChanged"));
  signal << player_interface << changed << QStringList();
  fbus.send(signal);
}

mpris_player::mpris_player(mpris_callbacks callbacks)
    : fobject(std::make_unique<mpris_object>(std::move(callbacks))) {}

mpris_player::~mpris_player() = default;

void mpris_player::set_playing(bool playing) { fobject->set_playing(playing); }
void mpris_player::set_level(double level_db, const QString& stop_time) {
  fobject->set_level(level_db, stop_time);
}
bool mpris_player::playing() const { return fobject->playing(); }
bool mpris_player::on_bus() const { return fobject->on_bus(); }

}  // namespace murmelin

#include "mpris.moc"
