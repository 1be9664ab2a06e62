#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Every source file of Murmelin starts with its licence line (after a #! or <?xml line).
  scripts/spdx.py --check [ROOT]   lists the files without it; exit 1 when there are any
  scripts/spdx.py --add [ROOT]     adds it where it is missing (run it again after adding files)
Source files: C++, CMake, shell, Python, the Makefile, the window descriptions (.ui), the
resource list (.qrc) and the desktop entry, as git tracks them."""
import pathlib
import re
import subprocess
import sys

LICENSE = "GPL-3.0-or-later"
TAG = "SPDX-License-Identifier:"
COMMENT = {".cpp": "// {}", ".h": "// {}", ".sh": "# {}", ".py": "# {}", ".cmake": "# {}",
           ".desktop": "# {}", ".ui": "<!-- {} -->", ".qrc": "<!-- {} -->"}


def sources(root):
    files = subprocess.run(["git", "-C", str(root), "ls-files"], capture_output=True, text=True,
                           check=True).stdout.split()
    for name in files:
        path = root / name
        base = path.name
        if base == "CMakeLists.txt" or base == "Makefile" or name == ".ci/run":
            yield path, "# {}"
        elif path.suffix in (".cpp", ".h", ".sh", ".py", ".cmake", ".desktop", ".ui", ".qrc"):
            yield path, COMMENT[path.suffix]


def has_line(text):
    return TAG in "\n".join(text.splitlines()[:3])


def add(path, style):
    text = path.read_text(encoding="utf-8")
    line = style.format(f"{TAG} {LICENSE}") + "\n"
    first, _, rest = text.partition("\n")
    if re.match(r"#!|<\?xml", first):
        path.write_text(first + "\n" + line + rest, encoding="utf-8")
    else:
        path.write_text(line + text, encoding="utf-8")


def main(argv):
    if len(argv) < 2 or argv[1] not in ("--check", "--add"):
        print(__doc__, file=sys.stderr)
        return 2
    root = pathlib.Path(argv[2] if len(argv) > 2 else ".").resolve()
    missing = [(p, s) for p, s in sources(root) if not has_line(p.read_text(encoding="utf-8"))]
    if argv[1] == "--add":
        for path, style in missing:
            add(path, style)
        print(f"spdx: added the licence line to {len(missing)} file(s)")
        return 0
    for path, _ in missing:
        print(f"{path.relative_to(root)}: no '{TAG} {LICENSE}' line at the top")
    print(f"spdx: {len(missing)} source file(s) without the licence line")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
