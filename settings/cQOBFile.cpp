// SPDX-License-Identifier: GPL-3.0-or-later
#include "cQOBFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <climits>
#include <limits>
#include <new>

#include "checked_int.h"
#include "namefold.h"
#include "qobkinds.h"
#include "settingsfile_io.h"
#include "userfolders.h"

namespace murmelin {

namespace {

constexpr char kMagic[4] = {'Q', 'O', 'B', '1'};

using qobkinds::load_le;

// ---- file reading -------------------------------------------------------------------------

// Sequential reads from the file's bytes that never take more than is left, so no length
// taken from the file is allocated before it is known to be there.
class FileReader {
public:
  explicit FileReader(const QByteArray& bytes) : fp(bytes.constData()), fleft(bytes.size()) {}

  bool bytes(int32_t n, char* out) {
    if (n < 0 || n > fleft) return false;
    std::copy_n(fp, n, out);
    fp += n;
    fleft -= n;
    return true;
  }

  bool int32(int32_t& v) {
    uint8_t b[4];
    if (!bytes(4, reinterpret_cast<char*>(b))) return false;
    v = static_cast<int32_t>(load_le<uint32_t>(b));
    return true;
  }

  // A counted string of at least one byte.
  bool counted(std::string& s) {
    int32_t n;
    if (!int32(n) || n <= 0 || n > fleft) return false;
    s.assign(static_cast<std::size_t>(n), '\0');
    return bytes(n, s.data());
  }

  bool payload(int32_t n, std::vector<uint8_t>& out) {
    if (n < 0 || n > fleft) return false;
    out.assign(static_cast<std::size_t>(n), 0);
    return bytes(n, reinterpret_cast<char*>(out.data()));
  }

  qsizetype left() const { return fleft; }

private:
  const char* fp;
  qsizetype fleft;
};

// ---- file writing -------------------------------------------------------------------------

void append_int32(QByteArray& out, int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.append(static_cast<char>(u >> (8 * i)));
}

void append_counted(QByteArray& out, const std::string& s, const char* what) {
  if (s.empty()) throw ERangeError(std::string("Range check error: empty ") + what);
  append_int32(out, checked_int32(s.size()));
  out.append(s.data(), static_cast<qsizetype>(s.size()));
}

QString path_from_8bit(const std::string& name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

// ---- the store ----------------------------------------------------------------------------

TQOBFile::TQOBFile(TComponent* aowner) : TComponent(aowner) {}

TQOBFile::~TQOBFile() = default;

void TQOBFile::clear() {
  nodes.clear();
  findex.clear();
}

pnode TQOBFile::get_nodeno(int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= nodes.size())
    throw EListError::index_error(index);
  // A node's value may be changed through the pointer the list hands out, as ever.
  return const_cast<pnode>(&nodes[static_cast<std::size_t>(index)]);
}

uint64_t TQOBFile::index_key(const std::string& section, const std::string& key) {
  return folded_name_hash(section) * 0x9E3779B97F4A7C15u ^ folded_name_hash(key);
}

void TQOBFile::append_node(tnode&& n) {
  // The later of two nodes with the same key is the one kept.
  findex.assign(index_key(n.section, n.key), checked_int32(nodes.size()));
  nodes.push_back(std::move(n));
}

int32_t TQOBFile::find_node(const std::string& section, const std::string& key) const {
  const int32_t last = findex.find(index_key(section, key));
  if (last < 0) return -1;  // names that fold alike have the same key
  const QString fsection = fold_name(section);
  const QString fkey = fold_name(key);
  const auto matches = [&](std::size_t i) {
    return fold_name(nodes[i].section) == fsection && fold_name(nodes[i].key) == fkey;
  };
  // The last node with this key, or, when other names share the key (rare as a 64-bit
  // collision), a walk back from there: no later node can match.
  for (auto i = static_cast<std::size_t>(last) + 1; i-- > 0;)
    if (matches(i)) return static_cast<int32_t>(i);
  return -1;
}

int32_t TQOBFile::find_or_add_node(const std::string& section, const std::string& key) {
  int32_t i = find_node(section, key);
  if (i >= 0) return i;
  i = checked_int32(nodes.size());
  append_node(tnode{section, key, {}});
  return i;
}

void TQOBFile::put_data(const std::string& section, const std::string& key, int32_t id,
                        std::vector<uint8_t> payload) {
  tnode& n = nodes[static_cast<std::size_t>(find_or_add_node(section, key))];
  n.data.id = id;
  n.data.arr = std::move(payload);
}

const tdata& TQOBFile::get_data(const std::string& section, const std::string& key,
                                const tdata& def) const {
  const int32_t i = find_node(section, key);
  if (i < 0) return def;
  return nodes[static_cast<std::size_t>(i)].data;
}

QString settings_path_for(const QString& configdir, const QString& homedir, const TProgId& progid,
                          const QString& settingsfilename) {
  if (configdir.isEmpty()) {
    QString home = homedir;
    if (!home.endsWith(u'/')) home += u'/';
    return home + progid.ProductName() + QStringLiteral(".qobfile");
  }
  QString path = configdir;
  if (!path.endsWith(u'/')) path += u'/';
  return path + progid.Company() + u'/' + progid.ProductName() + u'/' + progid.Version() + u'/' +
         settingsfilename;
}

QString TQOBFile::settings_filename() {
  if (fprogid == nullptr) throw EQOBfileError("Nothing assigned to ProgId");
  const QString config = user_config_folder();
  const QString path = settings_path_for(config, user_home_folder(), *fprogid, fsettingsfilename);
  if (!config.isEmpty()) {
    // A folder that cannot be made here is reported by the save that needs it.
    QDir().mkpath(QFileInfo(path).path());
  }
  return path;
}

std::string TQOBFile::default_filename_8bit() { return settings_filename().toStdString(); }

bool TQOBFile::isQOBfile(const std::string& filename) {
  const auto head = read_regular_file(path_from_8bit(filename), 4, std::numeric_limits<qint64>::max());
  return head && head->size() == 4 && std::equal(head->begin(), head->end(), kMagic);
}

bool TQOBFile::read_nodes(const QString& path) {
  // Only regular files, and none so large that it cannot be a settings file: a FIFO or device
  // could block or never end.
  const auto bytes = read_regular_file(path, kMaxSettingsFileSize, kMaxSettingsFileSize);
  if (!bytes) return false;
  FileReader r(*bytes);

  char magic[4];
  if (!r.bytes(4, magic)) return false;  // any four bytes are taken
  std::string id;
  if (!r.counted(id)) return false;
  ffileid = std::move(id);
  if (!r.counted(freadfileversion) || !r.counted(freadproductname) ||
      !r.counted(freadproductversion))
    return false;
  int32_t count;
  if (!r.int32(count)) return false;
  // Room for as many nodes as the count says and the rest of the file can hold (a node takes
  // at least 18 bytes). The nodes are indexed in one run once they are all read.
  const int32_t first = checked_int32(nodes.size());
  std::vector<uint64_t> keys;
  keys.reserve(static_cast<std::size_t>(std::clamp<int64_t>(std::min<int64_t>(count, r.left() / 18), 0, INT32_MAX)));
  for (int32_t i = 0; i < count; ++i) {
    tnode n;
    int32_t len;
    if (!r.counted(n.section) || !r.counted(n.key) || !r.int32(n.data.id) || !r.int32(len) ||
        !r.payload(len, n.data.arr))
      return false;
    keys.push_back(index_key(n.section, n.key));
    nodes.push_back(std::move(n));
  }
  findex.assign_run(keys.data(), keys.size(), first);
  return true;  // bytes after the last node are ignored
}

void TQOBFile::open_file(const std::string& filename) {
  clear();
  const QString path = filename.empty() ? settings_filename() : path_from_8bit(filename);
  freadfileversion.clear();
  freadproductname.clear();
  freadproductversion.clear();
  bool ok;
  try {
    ok = read_nodes(path);
  } catch (const std::bad_alloc&) {
    ok = false;
  }
  if (!ok) {
    clear();
    freadfileversion.clear();
    freadproductname.clear();
    freadproductversion.clear();
  }
}

void TQOBFile::save_file(const std::string& filename) {
  const std::string name = filename.empty() ? default_filename_8bit() : filename;
  const QString path = path_from_8bit(name);

  const qsizetype slash = path.lastIndexOf(u'/');
  if (slash < 0 || !QDir().mkpath(slash == 0 ? QStringLiteral("/") : path.left(slash)))
    throw EInOutError("Unable to create directory");

  // The whole file is put together first, so a store that cannot be written touches no file.
  if (fprogid == nullptr) throw EQOBfileError("Nothing assigned to ProgId");
  QByteArray out;
  out.append(kMagic, 4);
  append_counted(out, ffileid, "file id");
  append_counted(out, ffileversion, "file version");
  append_counted(out, fprogid->ProductName().toStdString(), "product name");
  append_counted(out, fprogid->Version().toStdString(), "product version");
  append_int32(out, checked_int32(nodes.size()));
  for (const tnode& n : nodes) {
    append_counted(out, n.section, "section name");
    append_counted(out, n.key, ("key name in section \"" + n.section + "\"").c_str());
    append_int32(out, n.data.id);
    append_int32(out, checked_int32(n.data.arr.size()));
    out.append(reinterpret_cast<const char*>(n.data.arr.data()),
               static_cast<qsizetype>(n.data.arr.size()));
  }

  write_file_bytes(path, name, out);
}

// ---- typed writes and reads ------------------------------------------------------------------

template <typename Kind>
void TQOBFile::write_value(const std::string& section, const std::string& key,
                           const typename Kind::type& value) {
  put_data(section, key, Kind::tag, Kind::encode(value));
}

template <typename Kind>
typename Kind::type TQOBFile::read_value(const std::string& section, const std::string& key,
                                         const typename Kind::type& def) const {
  const tdata dflt{Kind::tag, Kind::encode(def)};
  return Kind::decode(get_data(section, key, dflt));
}

using namespace qobkinds;

// The nine pairs, one row of the table each.
using S = const std::string&;
void TQOBFile::writebool(S section, S key, bool value) { write_value<kind_bool>(section, key, value); }
void TQOBFile::writeinteger(S section, S key, int32_t value) { write_value<kind_integer>(section, key, value); }
void TQOBFile::writefloat(S section, S key, double value) { write_value<kind_float>(section, key, value); }
void TQOBFile::writestring(S section, S key, S value) { write_value<kind_string>(section, key, value); }
void TQOBFile::writesmallintarr(S section, S key, const tsmallintarr& value) { write_value<kind_smallintarr>(section, key, value); }
void TQOBFile::writedoublearr(S section, S key, const tdoublearr& value) { write_value<kind_doublearr>(section, key, value); }
void TQOBFile::writecomplexarr(S section, S key, const tcomplexarr& value) { write_value<kind_complexarr>(section, key, value); }
void TQOBFile::writesinglearr(S section, S key, const tsinglearr& value) { write_value<kind_singlearr>(section, key, value); }
void TQOBFile::writesinglecomplexarr(S section, S key, const tsinglecomplexarr& value) { write_value<kind_singlecomplexarr>(section, key, value); }

// The second forms convert element by element, then store the tag of their name.
void TQOBFile::writedoublearr(S section, S key, const tsinglearr& value) { writedoublearr(section, key, single_to_double_arr(value)); }
void TQOBFile::writesinglearr(S section, S key, const tdoublearr& value) { writesinglearr(section, key, double_to_single_arr(value)); }
void TQOBFile::writecomplexarr(S section, S key, const tsinglecomplexarr& value) { writecomplexarr(section, key, singlecomplex_to_complex_arr(value)); }
void TQOBFile::writesinglecomplexarr(S section, S key, const tcomplexarr& value) { writesinglecomplexarr(section, key, complex_to_singlecomplex_arr(value)); }

bool TQOBFile::readbool(S section, S key, bool def) const { return read_value<kind_bool>(section, key, def); }
int32_t TQOBFile::readinteger(S section, S key, int32_t def) const { return read_value<kind_integer>(section, key, def); }
double TQOBFile::readfloat(S section, S key, double def) const { return read_value<kind_float>(section, key, def); }
std::string TQOBFile::readstring(S section, S key, S def) const { return read_value<kind_string>(section, key, def); }
tsmallintarr TQOBFile::readsmallintarr(S section, S key, const tsmallintarr& def) const { return read_value<kind_smallintarr>(section, key, def); }
tdoublearr TQOBFile::readdoublearr(S section, S key, const tdoublearr& def) const { return read_value<kind_doublearr>(section, key, def); }
tcomplexarr TQOBFile::readcomplexarr(S section, S key, const tcomplexarr& def) const { return read_value<kind_complexarr>(section, key, def); }
tsinglearr TQOBFile::readsinglearr(S section, S key, const tsinglearr& def) const { return read_value<kind_singlearr>(section, key, def); }
tsinglecomplexarr TQOBFile::readsinglecomplexarr(S section, S key, const tsinglecomplexarr& def) const { return read_value<kind_singlecomplexarr>(section, key, def); }

}  // namespace murmelin
