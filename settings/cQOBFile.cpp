#include "cQOBFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <bit>
#include <climits>
#include <limits>
#include <new>

#include "arrconv.h"
#include "checked_int.h"
#include "extended80.h"
#include "namefold.h"
#include "settingsfile_io.h"
#include "userfolders.h"

namespace murmelin {

namespace {

constexpr char kMagic[4] = {'Q', 'O', 'B', '1'};

// ---- payload encoding ---------------------------------------------------------------------

void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_u64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint16_t get_u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t get_u32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t{p[i]} << (8 * i);
  return v;
}

uint64_t get_u64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t{p[i]} << (8 * i);
  return v;
}

// The payload size of count elements of elemsize bytes; the file counts it in 32 bits.
std::size_t checked_payload_size(std::size_t count, std::size_t elemsize) {
  if (count > static_cast<std::size_t>(INT32_MAX) / elemsize)
    throw ERangeError("Range check error: a value of " + std::to_string(count) + " elements of " +
                      std::to_string(elemsize) + " bytes is too large for the settings file");
  return count * elemsize;
}

tdata encode_bool(bool v) { return tdata{tag_bool, {static_cast<uint8_t>(v ? 1 : 0)}}; }

tdata encode_integer(int32_t v) {
  tdata d{tag_integer, {}};
  put_u32(d.arr, static_cast<uint32_t>(v));
  return d;
}

tdata encode_float(double v) {
  const textended80 e = double_to_extended(v);
  return tdata{tag_float, std::vector<uint8_t>(e.begin(), e.end())};
}

tdata encode_string(const std::string& v) {
  checked_payload_size(v.size(), 1);
  return tdata{tag_string, std::vector<uint8_t>(v.begin(), v.end())};
}

tdata encode_smallintarr(const tsmallintarr& a) {
  tdata d{tag_smallintarr, {}};
  d.arr.reserve(checked_payload_size(a.size(), 2));
  for (int16_t v : a) put_u16(d.arr, static_cast<uint16_t>(v));
  return d;
}

tdata encode_doublearr(const tdoublearr& a) {
  tdata d{tag_doublearr, {}};
  d.arr.reserve(checked_payload_size(a.size(), 8));
  for (double v : a) put_u64(d.arr, std::bit_cast<uint64_t>(v));
  return d;
}

tdata encode_complexarr(const tcomplexarr& a) {
  tdata d{tag_complexarr, {}};
  d.arr.reserve(checked_payload_size(a.size(), 16));
  for (const tcomplex& c : a) {
    put_u64(d.arr, std::bit_cast<uint64_t>(c.re));
    put_u64(d.arr, std::bit_cast<uint64_t>(c.im));
  }
  return d;
}

tdata encode_singlearr(const tsinglearr& a) {
  tdata d{tag_singlearr, {}};
  d.arr.reserve(checked_payload_size(a.size(), 4));
  for (float v : a) put_u32(d.arr, std::bit_cast<uint32_t>(v));
  return d;
}

tdata encode_singlecomplexarr(const tsinglecomplexarr& a) {
  tdata d{tag_singlecomplexarr, {}};
  d.arr.reserve(checked_payload_size(a.size(), 8));
  for (const tsinglecomplex& c : a) {
    put_u32(d.arr, std::bit_cast<uint32_t>(c.re));
    put_u32(d.arr, std::bit_cast<uint32_t>(c.im));
  }
  return d;
}

// ---- payload decoding ---------------------------------------------------------------------

void check_tag(const tdata& d, int32_t expected) {
  if (d.id != expected)
    throw EQOBfileError("Data has wrong type: " + std::to_string(d.id) + ", not" +
                        std::to_string(expected));
}

void check_size(const tdata& d, std::size_t expected) {
  if (d.arr.size() != expected)
    throw EQOBfileError("Data has wrong size: " + std::to_string(d.arr.size()) +
                        " bytes of type " + std::to_string(d.id) + ", not " +
                        std::to_string(expected));
}

// Number of elements of an array payload; the payload must hold whole elements.
std::size_t element_count(const tdata& d, std::size_t elemsize) {
  if (d.arr.size() % elemsize != 0)
    throw EQOBfileError("Data has wrong size: " + std::to_string(d.arr.size()) +
                        " bytes of type " + std::to_string(d.id) + ", not a multiple of " +
                        std::to_string(elemsize));
  return d.arr.size() / elemsize;
}

tsinglecomplexarr decode_singlecomplexarr(const tdata& d) {
  const std::size_t n = element_count(d, 8);
  tsinglecomplexarr r(n);
  for (std::size_t i = 0; i < n; ++i) {
    const uint8_t* p = d.arr.data() + 8 * i;
    r[i].re = std::bit_cast<float>(get_u32(p));
    r[i].im = std::bit_cast<float>(get_u32(p + 4));
  }
  return r;
}

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
    v = static_cast<int32_t>(get_u32(b));
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
  findex.insert(index_key(n.section, n.key), checked_int32(nodes.size()));
  nodes.push_back(std::move(n));
}

int32_t TQOBFile::find_node(const std::string& section, const std::string& key) const {
  const auto last = findex.constFind(index_key(section, key));
  if (last == findex.cend()) return -1;  // names that fold alike have the same key
  const QString fsection = fold_name(section);
  const QString fkey = fold_name(key);
  const auto matches = [&](std::size_t i) {
    return fold_name(nodes[i].section) == fsection && fold_name(nodes[i].key) == fkey;
  };
  // The last node with this key, or, when other names share the key (rare as a 64-bit
  // collision), a walk back from there: no later node can match.
  for (auto i = static_cast<std::size_t>(*last) + 1; i-- > 0;)
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
  // at least 18 bytes).
  const auto room = static_cast<qsizetype>(std::min<int64_t>(count, r.left() / 18));
  if (room > 0) findex.reserve(room);
  for (int32_t i = 0; i < count; ++i) {
    tnode n;
    int32_t len;
    if (!r.counted(n.section) || !r.counted(n.key) || !r.int32(n.data.id) || !r.int32(len) ||
        !r.payload(len, n.data.arr))
      return false;
    append_node(std::move(n));
  }
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

// ---- typed writes and reads ---------------------------------------------------------------

void TQOBFile::writebool(const std::string& section, const std::string& key, bool value) {
  tdata d = encode_bool(value);
  put_data(section, key, d.id, std::move(d.arr));
}

bool TQOBFile::readbool(const std::string& section, const std::string& key, bool def) const {
  const tdata dflt = encode_bool(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_bool);
  check_size(d, 1);
  return d.arr[0] != 0;
}

void TQOBFile::writeinteger(const std::string& section, const std::string& key, int32_t value) {
  tdata d = encode_integer(value);
  put_data(section, key, d.id, std::move(d.arr));
}

int32_t TQOBFile::readinteger(const std::string& section, const std::string& key,
                              int32_t def) const {
  const tdata dflt = encode_integer(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_integer);
  check_size(d, 4);
  return static_cast<int32_t>(get_u32(d.arr.data()));
}

void TQOBFile::writefloat(const std::string& section, const std::string& key, double value) {
  tdata d = encode_float(value);
  put_data(section, key, d.id, std::move(d.arr));
}

double TQOBFile::readfloat(const std::string& section, const std::string& key,
                           double def) const {
  const tdata dflt = encode_float(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_float);
  check_size(d, 10);
  return extended_to_double(d.arr.data());
}

void TQOBFile::writestring(const std::string& section, const std::string& key,
                           const std::string& value) {
  tdata d = encode_string(value);
  put_data(section, key, d.id, std::move(d.arr));
}

std::string TQOBFile::readstring(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  const tdata dflt = encode_string(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_string);
  return std::string(d.arr.begin(), d.arr.end());
}

void TQOBFile::writesmallintarr(const std::string& section, const std::string& key,
                                const tsmallintarr& value) {
  tdata d = encode_smallintarr(value);
  put_data(section, key, d.id, std::move(d.arr));
}

tsmallintarr TQOBFile::readsmallintarr(const std::string& section, const std::string& key,
                                       const tsmallintarr& def) const {
  const tdata dflt = encode_smallintarr(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_smallintarr);
  const std::size_t n = element_count(d, 2);
  tsmallintarr r(n);
  for (std::size_t i = 0; i < n; ++i) r[i] = static_cast<int16_t>(get_u16(d.arr.data() + 2 * i));
  return r;
}

void TQOBFile::writedoublearr(const std::string& section, const std::string& key,
                              const tdoublearr& value) {
  tdata d = encode_doublearr(value);
  put_data(section, key, d.id, std::move(d.arr));
}

void TQOBFile::writedoublearr(const std::string& section, const std::string& key,
                              const tsinglearr& value) {
  writedoublearr(section, key, single_to_double_arr(value));
}

tdoublearr TQOBFile::readdoublearr(const std::string& section, const std::string& key,
                                   const tdoublearr& def) const {
  const tdata dflt = encode_doublearr(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_doublearr);
  const std::size_t n = element_count(d, 8);
  tdoublearr r(n);
  for (std::size_t i = 0; i < n; ++i) r[i] = std::bit_cast<double>(get_u64(d.arr.data() + 8 * i));
  return r;
}

void TQOBFile::writecomplexarr(const std::string& section, const std::string& key,
                               const tcomplexarr& value) {
  tdata d = encode_complexarr(value);
  put_data(section, key, d.id, std::move(d.arr));
}

void TQOBFile::writecomplexarr(const std::string& section, const std::string& key,
                               const tsinglecomplexarr& value) {
  writecomplexarr(section, key, singlecomplex_to_complex_arr(value));
}

tcomplexarr TQOBFile::readcomplexarr(const std::string& section, const std::string& key,
                                     const tcomplexarr& def) const {
  const tdata dflt = encode_complexarr(def);
  const tdata& d = get_data(section, key, dflt);
  if (d.id == tag_singlecomplexarr) return singlecomplex_to_complex_arr(decode_singlecomplexarr(d));
  check_tag(d, tag_complexarr);
  const std::size_t n = element_count(d, 16);
  tcomplexarr r(n);
  for (std::size_t i = 0; i < n; ++i) {
    const uint8_t* p = d.arr.data() + 16 * i;
    r[i].re = std::bit_cast<double>(get_u64(p));
    r[i].im = std::bit_cast<double>(get_u64(p + 8));
  }
  return r;
}

void TQOBFile::writesinglearr(const std::string& section, const std::string& key,
                              const tsinglearr& value) {
  tdata d = encode_singlearr(value);
  put_data(section, key, d.id, std::move(d.arr));
}

void TQOBFile::writesinglearr(const std::string& section, const std::string& key,
                              const tdoublearr& value) {
  writesinglearr(section, key, double_to_single_arr(value));
}

tsinglearr TQOBFile::readsinglearr(const std::string& section, const std::string& key,
                                   const tsinglearr& def) const {
  const tdata dflt = encode_singlearr(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_singlearr);
  const std::size_t n = element_count(d, 4);
  tsinglearr r(n);
  for (std::size_t i = 0; i < n; ++i) r[i] = std::bit_cast<float>(get_u32(d.arr.data() + 4 * i));
  return r;
}

void TQOBFile::writesinglecomplexarr(const std::string& section, const std::string& key,
                                     const tsinglecomplexarr& value) {
  tdata d = encode_singlecomplexarr(value);
  put_data(section, key, d.id, std::move(d.arr));
}

void TQOBFile::writesinglecomplexarr(const std::string& section, const std::string& key,
                                     const tcomplexarr& value) {
  writesinglecomplexarr(section, key, complex_to_singlecomplex_arr(value));
}

tsinglecomplexarr TQOBFile::readsinglecomplexarr(const std::string& section,
                                                 const std::string& key,
                                                 const tsinglecomplexarr& def) const {
  const tdata dflt = encode_singlecomplexarr(def);
  const tdata& d = get_data(section, key, dflt);
  check_tag(d, tag_singlecomplexarr);
  return decode_singlecomplexarr(d);
}

}  // namespace murmelin
