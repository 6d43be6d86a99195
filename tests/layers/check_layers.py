#!/usr/bin/env python3
"""Checks that the build keeps the layers apart.

For every source of the plain-C++ layers, the compile command the build
uses must fail to compile a file that reaches for Qt or for the window, and
must still compile one that includes the layer's own headers. A target that
starts linking Qt or the window makes this fail.
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile

PLAIN = ["image/", "link/DownloadFrame.cpp", "link/LinkProtocol.cpp",
         "link/PortManager.cpp", "settings/"]
FORBIDDEN = ['#include <QObject>\n', '#include <QtGlobal>\n', '#include "Form1.h"\n',
             '#include "QtSerialLine.h"\n']


def compiles(command, source_text, workdir):
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as f:
        f.write(source_text)
        probe = f.name
    try:
        args = shlex.split(command)
        out = args.index("-o")
        src = args.index("-c") + 1
        args[out + 1] = probe + ".o"
        args[src] = probe
        args = [a for a in args if not a.startswith(("-MD", "-MT", "-MF"))]
        return subprocess.run(args, cwd=workdir, capture_output=True).returncode == 0
    finally:
        for p in (probe, probe + ".o"):
            if os.path.exists(p):
                os.remove(p)


def main(source_dir, build_dir):
    entries = json.load(open(os.path.join(build_dir, "compile_commands.json")))
    checked, faults = 0, []
    for e in entries:
        rel = os.path.relpath(e["file"], source_dir)
        if not any(rel.startswith(p) for p in PLAIN):
            continue
        checked += 1
        own = '#include "%s"\n' % os.path.basename(rel).replace(".cpp", ".h")
        if os.path.exists(os.path.join(source_dir, rel.replace(".cpp", ".h"))) \
                and not compiles(e["command"], own, e["directory"]):
            faults.append("%s: its own header does not compile" % rel)
        for line in FORBIDDEN:
            if compiles(e["command"], line, e["directory"]):
                faults.append("%s can reach %s" % (rel, line.strip()))
    for f in faults:
        print(f)
    print("%d plain sources checked, %d faults" % (checked, len(faults)))
    return 1 if faults or checked < 8 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
