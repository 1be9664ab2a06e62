// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the settings tests: byte-level file building and a private folder.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <string>

#include "cProgId.h"
#include "cQOBFile.h"

namespace settings_test {

inline QByteArray i32(int32_t v) {
  QByteArray b;
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) b.append(static_cast<char>(u >> (8 * i)));
  return b;
}

inline QByteArray counted(const QByteArray& s) { return i32(static_cast<int32_t>(s.size())) + s; }

inline QByteArray header(const QByteArray& magic = "QOB1", const QByteArray& fileid = "MurmelinSettings",
                         const QByteArray& fileversion = "0.0",
                         const QByteArray& product = "Murmelin", const QByteArray& version = "0.1") {
  return magic + counted(fileid) + counted(fileversion) + counted(product) + counted(version);
}

inline QByteArray node(const QByteArray& section, const QByteArray& key, int32_t tag,
                       const QByteArray& payload) {
  return counted(section) + counted(key) + i32(tag) + i32(static_cast<int32_t>(payload.size())) +
         payload;
}

inline QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

// A private folder with files written and read as bytes.
class Folder {
public:
  std::string path(const char* name) const { return fdir.filePath(name).toStdString(); }
  std::string write(const char* name, const QByteArray& bytes) const {
    QFile f(fdir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return {};
    return path(name);
  }
  static QByteArray read(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll();
  }
  QStringList entries() const {
    return QDir(fdir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }
  QString root() const { return fdir.path(); }

private:
  QTemporaryDir fdir;
};

// The program's own identity.
inline void set_murmelin(murmelin::TProgId& id) {
  id.set_ProductName("Murmelin");
  id.set_Version("0.1");
  id.set_Company("BriskoData");
  id.set_Copyright("(c) BriskoData");
}

// A store set up as the program sets up its own.
struct murmelin_store {
  murmelin::TProgId id;
  murmelin::TQOBFile s;
  murmelin_store() {
    set_murmelin(id);
    s.set_ProgId(&id);
    s.set_SettingsFileName("settings.qobfile");
    s.set_FileVersion("0.0");
    s.set_FileId("MurmelinSettings");
  }
};

}  // namespace settings_test
