// SPDX-License-Identifier: GPL-3.0-or-later
#include "qobfile_fuzz_one.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cProgId.h"
#include "cQOBFile.h"
#include "qobkinds.h"

namespace murmelin {

namespace {

#define FUZZ_CHECK(cond)                                                               \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "qobfile_fuzz_one: %s failed at line %d\n", #cond, __LINE__); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

struct Snapshot {
  std::string fileid, fileversion, productname, productversion;
  std::vector<tnode> nodes;
  bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const TQOBFile& s) {
  Snapshot r{s.FileId(), s.readfileversion(), s.readproductname(), s.readproductversion(), {}};
  for (int32_t i = 0; i < s.nnodes(); ++i) r.nodes.push_back(*s.get_nodeno(i));
  return r;
}

QByteArray file_bytes(const std::string& name) {
  QFile f(QString::fromStdString(name));
  FUZZ_CHECK(f.open(QIODevice::ReadOnly));
  return f.readAll();
}

// Every typed read of every node, one per row of the table of value kinds; only the store's
// own refusals (wrong type or size, a float beyond the double range) may come out of them.
void read_every_node(const TQOBFile& s) {
  for (int32_t i = 0; i < s.nnodes(); ++i) {
    const tnode n = *s.get_nodeno(i);
    qobkinds::for_each_kind([&](auto kind) {
      using Kind = decltype(kind);
      try {
        (s.*Kind::read)(n.section, n.key, typename Kind::type{});
      } catch (const EQOBfileError&) {
      } catch (const EOverflow&) {
      }
    });
    // Reads change nothing.
    FUZZ_CHECK(*s.get_nodeno(i) == n);
  }
}

}  // namespace

void qobfile_fuzz_one(const uint8_t* data, std::size_t size) {
  static QTemporaryDir dir;
  FUZZ_CHECK(dir.isValid());
  const std::string in = dir.filePath(QStringLiteral("in.qobfile")).toStdString();
  const std::string out1 = dir.filePath(QStringLiteral("out1.qobfile")).toStdString();
  const std::string out2 = dir.filePath(QStringLiteral("out2.qobfile")).toStdString();
  {
    std::FILE* f = std::fopen(in.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
  }

  TProgId id;
  id.set_ProductName(QStringLiteral("Fuzz"));
  id.set_Version(QStringLiteral("1.0"));
  TQOBFile store;
  store.set_ProgId(&id);
  store.set_FileVersion("0.0");
  store.set_FileId("before");

  const bool magic = size >= 4 && std::memcmp(data, "QOB1", 4) == 0;
  FUZZ_CHECK(store.isQOBfile(in) == magic);
  FUZZ_CHECK(store.nnodes() == 0 && store.FileId() == "before");

  store.open_file(in);
  const bool accepted = !store.readproductversion().empty();
  // A rejected file leaves nothing; an accepted one has all four header strings.
  if (!accepted) {
    FUZZ_CHECK(store.nnodes() == 0 && store.readfileversion().empty() &&
               store.readproductname().empty());
  } else {
    FUZZ_CHECK(!store.FileId().empty() && !store.readfileversion().empty() &&
               !store.readproductname().empty());
  }
  read_every_node(store);

  const Snapshot loaded = snapshot(store);
  store.save_file(out1);  // every header string and name is non-empty: must succeed
  FUZZ_CHECK(snapshot(store) == loaded);

  TQOBFile again;
  again.set_ProgId(&id);
  again.set_FileVersion("0.0");
  again.open_file(out1);
  const Snapshot reloaded = snapshot(again);
  FUZZ_CHECK(reloaded.fileid == loaded.fileid);
  FUZZ_CHECK(reloaded.fileversion == "0.0" && reloaded.productname == "Fuzz" &&
             reloaded.productversion == "1.0");
  FUZZ_CHECK(reloaded.nodes == loaded.nodes);
  read_every_node(again);

  again.save_file(out2);
  FUZZ_CHECK(file_bytes(out1) == file_bytes(out2));
}

}  // namespace murmelin
