#!/usr/bin/env python3
# The layers of the code (README, "Architecture"): every #include "..." in
# src/ is checked against the folders its own folder must never reach, and
# fails the test unless the pair is one of the few exceptions below, each
# with the reason it is needed. Usage: layers.py [SRC_DIR], default ../src.
import os
import re
import sys

# Folder of src/ -> the folders its files never include.
FORBIDDEN = {
    # The engine knows no window: what the window needs from it, it reads.
    'cam': {'view', 'gui', 'mainwindow'},
    'project': {'view', 'gui', 'mainwindow'},
    'geom': {'view', 'gui', 'mainwindow'},
    # The toolkit draws widgets and knows no panel, project or service.
    'gui': {'project', 'view', 'online', 'mainwindow'},
    # Below the engine and the toolkit nothing reaches up.
    'render': {'cam', 'project', 'view', 'gui', 'online', 'mainwindow'},
    'img': {'cam', 'project', 'view', 'gui', 'online', 'mainwindow'},
    'platform': {'cam', 'project', 'view', 'gui', 'online', 'mainwindow'},
}

# (file under src/, folder it includes): why the design needs it.
EXCEPTIONS = {
    ('gui/gui.cpp', 'view'):
        "the per-frame GUI pass draws the viewport's read-outs (axis ends, measure tool, gizmo) "
        "over the 3D view and keeps the pointer from the elements during a viewport drag",
    ('gui/gui.cpp', 'online'):
        "the per-frame GUI pass starts the upload and shows its progress",
    ('gui/dialog.cpp', 'project'):
        "dialog switching: a dialog's set-up requests a recomposition of the canvas",
    ('gui/dialog.cpp', 'online'):
        "dialog switching: a dialog's set-up starts the content library's downloads",
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCES = ('.cpp', '.h', '.hpp', '.cc', '.inc')


def folder_of(src, path):
    """The top folder under src/ of a path, or '' for a file at the top."""
    rel = os.path.relpath(path, src)
    parts = rel.split(os.sep)
    return parts[0] if len(parts) > 1 else ''


def resolve(src, including, name):
    """The file an include names: beside the including file first, as the
    compiler looks, else from src/ (the include path)."""
    beside = os.path.normpath(os.path.join(os.path.dirname(including), name))
    if os.path.exists(beside):
        return beside
    return os.path.normpath(os.path.join(src, name))


def check(src):
    faults, used, seen = [], set(), {f: 0 for f in FORBIDDEN}
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith(SOURCES):
                continue
            path = os.path.join(root, name)
            own = folder_of(src, path)
            if own not in FORBIDDEN:
                continue
            rel = os.path.relpath(path, src).replace(os.sep, '/')
            with open(path, encoding='utf-8', errors='replace') as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    seen[own] += 1
                    target = folder_of(src, resolve(src, path, m.group(1)))
                    if target not in FORBIDDEN[own]:
                        continue
                    if (rel, target) in EXCEPTIONS:
                        used.add((rel, target))
                        continue
                    faults.append(f'src/{rel}:{number}: includes "{m.group(1)}": '
                                  f'src/{own} never includes src/{target}')
    # A check that read nothing would pass whatever the tree holds.
    for own, count in seen.items():
        if count == 0 and os.path.isdir(os.path.join(src, own)):
            faults.append(f'src/{own}: no includes found; is {src} the source folder?')
    return faults, used


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    src = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'src'))
    if not os.path.isdir(src):
        print(f'layers: no source folder {src}')
        return 1
    faults, used = check(src)
    for (rel, target), reason in sorted(EXCEPTIONS.items()):
        if (rel, target) not in used:
            print(f'note: the exception src/{rel} -> src/{target} matches no include ({reason})')
    for fault in faults:
        print(fault)
    if faults:
        print(f'layers: {len(faults)} include(s) break the layers of the code (README, "Architecture"); '
              'move the shared state down or set a hook at start-up instead')
        return 1
    print('layers: every include keeps to the layers of the code')
    return 0


if __name__ == '__main__':
    sys.exit(main())
