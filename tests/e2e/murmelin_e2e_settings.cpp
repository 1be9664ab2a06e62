// SPDX-License-Identifier: GPL-3.0-or-later
// Settings-file and level helpers for the end-to-end rig's settings scenario.
//   murmelin_e2e_settings dump FILE
//       Prints the file id, then one line per node in file order: section, key, tag, value.
//       Exit code 1 when the file is missing or not a settings file.
//   murmelin_e2e_settings foreign FILE FILEID TOP LEFT
//       Writes a settings file of another program (id FILEID) that holds a main window place
//       and options under the program's own section and key names.
//   murmelin_e2e_settings setint FILE SECTION KEY VALUE
//       Sets one integer row of a settings file and keeps the file's other rows and its id;
//       makes the program's settings file where there is none.
//   murmelin_e2e_settings levels FILE FROM TO
//       Over frames [FROM, TO) of a raw s16le stereo recording: the RMS of the left and of the
//       right channel, the RMS of the right channel's first difference (a steady measure of
//       the level even over a few seconds: its power lies at high frequencies) and the number
//       of non-zero left samples: "<left> <right> <right difference> <nonzero>".
// Exit code 2: bad arguments.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "cProgId.h"
#include "cQOBFile.h"
#include "e2e_analysis.h"

using namespace murmelin;

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: murmelin_e2e_settings dump FILE\n"
               "       murmelin_e2e_settings foreign FILE FILEID TOP LEFT\n"
               "       murmelin_e2e_settings setint FILE SECTION KEY VALUE\n"
               "       murmelin_e2e_settings levels FILE FROM TO\n");
  return 2;
}

bool parse_long(const char* text, long& out) {
  char* end = nullptr;
  out = std::strtol(text, &end, 10);
  return end != text && *end == '\0';
}

std::string value_of(TQOBFile& store, const tnode& n) {
  switch (n.data.id) {
    case tag_bool: return store.readbool(n.section, n.key, false) ? "true" : "false";
    case tag_integer: return std::to_string(store.readinteger(n.section, n.key, 0));
    case tag_float: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g", store.readfloat(n.section, n.key, 0.0));
      return buf;
    }
    case tag_string: {
      std::string quoted(1, '"');
      quoted += store.readstring(n.section, n.key, "");
      quoted += '"';
      return quoted;
    }
    default: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "(%zu bytes)", n.data.arr.size());
      return buf;
    }
  }
}

int dump(const std::string& file) {
  TQOBFile store;
  if (!store.isQOBfile(file)) {
    std::fprintf(stderr, "not a settings file: %s\n", file.c_str());
    return 1;
  }
  store.open_file(file);
  std::printf("%s\n", store.FileId().c_str());
  for (int32_t i = 0; i < store.nnodes(); ++i) {
    const tnode& n = *store.get_nodeno(i);
    std::printf("%s %s %d %s\n", n.section.c_str(), n.key.c_str(), n.data.id,
                value_of(store, n).c_str());
  }
  return 0;
}

int foreign(const std::string& file, const std::string& fileid, long top, long left) {
  TProgId ident;
  ident.set_ProductName(QStringLiteral("OtherProgram"));
  ident.set_Version(QStringLiteral("2.0"));
  TQOBFile store;
  store.set_ProgId(&ident);
  store.set_FileId(fileid);
  store.set_FileVersion("1.0");
  store.writeinteger("MainWindow", "Top", static_cast<int32_t>(top));
  store.writeinteger("MainWindow", "Left", static_cast<int32_t>(left));
  store.writeinteger("Soundcard", "fs", 8000);
  store.writefloat("Noise", "Level", -40.0);
  store.writebool("Noise", "PlayLeft", false);
  store.save_file(file);
  return 0;
}

int setint(const std::string& file, const std::string& section, const std::string& key,
           long value) {
  TProgId ident;
  ident.set_ProductName(QStringLiteral("Murmelin"));
  ident.set_Version(QStringLiteral("0.1"));
  TQOBFile store;
  store.set_ProgId(&ident);
  store.set_FileVersion("0.0");
  store.open_file(file);
  if (store.FileId().empty()) store.set_FileId("MurmelinSettings");  // a new file
  store.writeinteger(section, key, static_cast<int32_t>(value));
  store.save_file(file);
  return 0;
}

int levels(const std::string& file, long from, long to) {
  const e2e::stereo_recording rec = e2e::read_raw_s16_stereo(file);
  if (from < 1 || to <= from + 1 || static_cast<std::size_t>(to) > rec.frames()) {
    std::fprintf(stderr, "frames %ld to %ld are not within the %zu frames of %s\n", from, to,
                 rec.frames(), file.c_str());
    return 1;
  }
  double l = 0.0, r = 0.0, d = 0.0;
  long nonzero = 0;
  for (std::size_t i = static_cast<std::size_t>(from); i < static_cast<std::size_t>(to); ++i) {
    l += double(rec.left[i]) * rec.left[i];
    r += double(rec.right[i]) * rec.right[i];
    const double diff = double(rec.right[i]) - rec.right[i - 1];
    d += diff * diff;
    if (rec.left[i] != 0) ++nonzero;
  }
  const double n = double(to - from);
  std::printf("%.2f %.2f %.2f %ld\n", std::sqrt(l / n), std::sqrt(r / n), std::sqrt(d / n), nonzero);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    long a = 0, b = 0;
    if (mode == "dump" && argc == 3) return dump(argv[2]);
    if (mode == "foreign" && argc == 6 && parse_long(argv[4], a) && parse_long(argv[5], b))
      return foreign(argv[2], argv[3], a, b);
    if (mode == "setint" && argc == 6 && parse_long(argv[5], a))
      return setint(argv[2], argv[3], argv[4], a);
    if (mode == "levels" && argc == 5 && parse_long(argv[3], a) && parse_long(argv[4], b))
      return levels(argv[2], a, b);
    return usage();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "murmelin_e2e_settings: %s\n", e.what());
    return 2;
  }
}
