// SPDX-License-Identifier: GPL-3.0-or-later
// TQOBFile: the settings store. Typed values under section and key names, kept as an ordered
// node list and saved to / loaded from one QOB settings file.
//
// File layout (little-endian; every length, count and tag a signed 32-bit integer):
//   "QOB1", file id, file version, product name, product version (counted strings, length >= 1),
//   node count N, then N nodes: section, key (counted strings), tag, payload length L, L bytes.
#pragma once

#include <QString>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "TComponent.h"
#include "cProgId.h"
#include "exceptions.h"
#include "nodeindex.h"
#include "scomplex.h"
#include "sdbra_types.h"

namespace murmelin {

class EQOBfileError : public Exception {
public:
  using Exception::Exception;
};

// Type tags of the payloads.
enum : int32_t {
  tag_bool = 10,
  tag_integer = 11,
  tag_float = 12,
  tag_string = 13,
  tag_smallintarr = 14,
  tag_doublearr = 15,
  tag_complexarr = 16,
  tag_singlearr = 17,
  tag_singlecomplexarr = 18,
};

struct tdata {
  int32_t id = 0;
  std::vector<uint8_t> arr;
  friend bool operator==(const tdata&, const tdata&) = default;
};

struct tnode {
  std::string section;
  std::string key;
  tdata data;
  friend bool operator==(const tnode&, const tnode&) = default;
};

using pnode = tnode*;

class TQOBFile : public TComponent {
public:
  // No nodes, all strings empty, no ProgId.
  explicit TQOBFile(TComponent* aowner = nullptr);
  ~TQOBFile() override;

  int32_t nnodes() const { return static_cast<int32_t>(nodes.size()); }
  // Default full path of the settings file; creates its folders. Raises EQOBfileError
  // "Nothing assigned to ProgId" without an identity.
  QString settings_filename();
  const std::string& readfileversion() const { return freadfileversion; }
  const std::string& readproductname() const { return freadproductname; }
  const std::string& readproductversion() const { return freadproductversion; }
  const std::string& FileId() const { return ffileid; }
  void set_FileId(const std::string& value) { ffileid = value; }
  TProgId* ProgId() const { return fprogid; }
  // The identity is not owned; it must outlive its use by the store.
  void set_ProgId(TProgId* value) { fprogid = value; }
  const QString& SettingsFileName() const { return fsettingsfilename; }
  void set_SettingsFileName(const QString& value) { fsettingsfilename = value; }
  const std::string& FileVersion() const { return ffileversion; }
  void set_FileVersion(const std::string& value) { ffileversion = value; }

  // Drops every node; the header strings stay.
  void clear();
  // The node at 0-based position index; EListError outside 0 .. nnodes - 1. Its value may be
  // changed through it, its section and key not (lookups go through an index of the names).
  pnode get_nodeno(int32_t index) const;

  // True when the file exists and begins with "QOB1". Never raises; touches nothing.
  bool isQOBfile(const std::string& filename);
  // Replaces the node list by the file's nodes; an empty name means settings_filename. A missing
  // or malformed file, anything but a regular file, and a file above kMaxSettingsFileSize
  // (16 MiB, not read) leave no nodes and empty read-back strings, and raise nothing.
  void open_file(const std::string& filename);
  // Writes the whole store; an empty name means settings_filename. Symbolic links are
  // followed. A regular file is replaced atomically: on any failure it is left as it was (in a
  // folder that takes no new file, a writable file is overwritten in place instead). A
  // character device or FIFO at the end of the name (a link to /dev/null, say) is written to
  // directly when that cannot block, and is refused otherwise; anything else is refused.
  void save_file(const std::string& filename);

  // Typed writes: each stores its value under section and key with the tag of its name (Boolean
  // 10, integer 11, 80-bit extended float 12, string 13, then the arrays 14 to 18), in place
  // when a node of that name exists. The second forms of the array writes convert element by
  // element first; narrowing to 32 bits raises EOverflow, storing nothing, for a value beyond
  // the 32-bit float range.
  void writebool(const std::string& section, const std::string& key, bool value);
  void writeinteger(const std::string& section, const std::string& key, int32_t value);
  void writefloat(const std::string& section, const std::string& key, double value);
  void writestring(const std::string& section, const std::string& key, const std::string& value);
  void writesmallintarr(const std::string& section, const std::string& key, const tsmallintarr& value);
  void writedoublearr(const std::string& section, const std::string& key, const tdoublearr& value);
  void writedoublearr(const std::string& section, const std::string& key, const tsinglearr& value);
  void writecomplexarr(const std::string& section, const std::string& key, const tcomplexarr& value);
  void writecomplexarr(const std::string& section, const std::string& key, const tsinglecomplexarr& value);
  void writesinglearr(const std::string& section, const std::string& key, const tsinglearr& value);
  void writesinglearr(const std::string& section, const std::string& key, const tdoublearr& value);
  void writesinglecomplexarr(const std::string& section, const std::string& key, const tsinglecomplexarr& value);
  void writesinglecomplexarr(const std::string& section, const std::string& key, const tcomplexarr& value);

  // Typed reads: the value under section and key, or def when there is none. A node of another
  // kind raises EQOBfileError "Data has wrong type: <found>, not<expected>", one whose payload
  // has a size the kind cannot have "Data has wrong size: ..."; the store is not changed.
  // readcomplexarr also takes a single-precision complex node, widened.
  bool readbool(const std::string& section, const std::string& key, bool def) const;
  int32_t readinteger(const std::string& section, const std::string& key, int32_t def) const;
  double readfloat(const std::string& section, const std::string& key, double def) const;
  std::string readstring(const std::string& section, const std::string& key, const std::string& def) const;
  tsmallintarr readsmallintarr(const std::string& section, const std::string& key, const tsmallintarr& def) const;
  tdoublearr readdoublearr(const std::string& section, const std::string& key, const tdoublearr& def) const;
  tcomplexarr readcomplexarr(const std::string& section, const std::string& key, const tcomplexarr& def) const;
  tsinglearr readsinglearr(const std::string& section, const std::string& key, const tsinglearr& def) const;
  tsinglecomplexarr readsinglecomplexarr(const std::string& section, const std::string& key,
                                         const tsinglecomplexarr& def) const;

private:
  int32_t find_node(const std::string& section, const std::string& key) const;
  int32_t find_or_add_node(const std::string& section, const std::string& key);
  void put_data(const std::string& section, const std::string& key, int32_t id,
                std::vector<uint8_t> payload);
  // The found node's data, or the default's.
  const tdata& get_data(const std::string& section, const std::string& key,
                        const tdata& def) const;
  // The typed write and read of one row of the table of value kinds (qobkinds.h).
  template <typename Kind>
  void write_value(const std::string& section, const std::string& key, const typename Kind::type& value);
  template <typename Kind>
  typename Kind::type read_value(const std::string& section, const std::string& key,
                                 const typename Kind::type& def) const;
  // The index's key for a section and key name: a hash of both names folded.
  static uint64_t index_key(const std::string& section, const std::string& key);
  void append_node(tnode&& n);
  bool read_nodes(const QString& path);
  std::string default_filename_8bit();

  TProgId* fprogid = nullptr;
  std::string ffileid;
  std::string ffileversion;
  std::string freadfileversion;
  std::string freadproductname;
  std::string freadproductversion;
  QString fsettingsfilename;
  std::deque<tnode> nodes;  // a node stays where it is while nodes are appended
  // index_key to the position of the last node with that key, so a lookup costs the same
  // for any number of nodes.
  node_index findex;
};

// The default settings path for a config folder and home folder (either may be empty): with a
// config folder, <config>/<Company>/<ProductName>/<Version>/<settingsfilename>; without one,
// <home>/<ProductName>.qobfile.
QString settings_path_for(const QString& configdir, const QString& homedir, const TProgId& progid,
                          const QString& settingsfilename);

}  // namespace murmelin
