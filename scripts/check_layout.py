#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks that every file of the program includes only headers of its own folder or of the
folders its library depends on (docs/architecture.md), and that core, dsp, sound and audio
stay clear of the Qt modules they must not use. Prints each breach; exits 1 if there is one."""
import pathlib
import re
import sys

DEPENDS = {
    "core": [],
    "dsp": ["core"],
    "settings": ["core"],
    "sound": ["core"],
    "audio": ["sound", "core"],
    "winsys": ["core"],
    "desktop": ["core"],
    "app": ["audio", "settings", "dsp", "winsys", "desktop", "sound", "core"],
}
# Qt headers that a folder must not include: none at all in the pure C++ ones, no widgets in
# the sound path.
FORBIDDEN_QT = {"core": r"Q", "dsp": r"Q", "sound": r"Q(Widget|Application|Dialog|Gui)",
                "audio": r"Q(Widget|Application|Dialog|Gui)"}

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
owner = {}
for folder in DEPENDS:
    for header in (root / folder).rglob("*.h"):
        owner.setdefault(header.name, folder)
breaches = []
for folder, allowed in DEPENDS.items():
    for source in sorted((root / folder).rglob("*")):
        if source.suffix not in (".h", ".cpp"):
            continue
        for n, line in enumerate(source.read_text(encoding="utf-8").splitlines(), 1):
            m = re.match(r'\s*#\s*include\s*([<"])([^>"]+)[>"]', line)
            if not m:
                continue
            name = m.group(2)
            home = owner.get(pathlib.PurePath(name).name) if m.group(1) == '"' else None
            if home and home != folder and home not in allowed:
                breaches.append(f"{source.relative_to(root)}:{n}: includes {name} from {home}/")
            qt = FORBIDDEN_QT.get(folder)
            if m.group(1) == "<" and qt and re.match(qt, name):
                breaches.append(f"{source.relative_to(root)}:{n}: includes <{name}>")
for b in breaches:
    print(b)
print(f"layout: {len(breaches)} include(s) across folders that the build does not allow")
sys.exit(1 if breaches else 0)
