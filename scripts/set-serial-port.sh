#!/usr/bin/env bash
# Points PVestra's serial link ("COM1") at a device: key Port of section [Serial] in
# $XDG_CONFIG_HOME/PVestra/PVestra.ini (~/.config/PVestra when unset). Other keys are kept.
# Prints the former device on standard output (an empty line when there was none).
set -euo pipefail
port=${1:?usage: set-serial-port.sh DEVICE}
dir=${XDG_CONFIG_HOME:-$HOME/.config}/PVestra
ini=$dir/PVestra.ini
mkdir -p "$dir"
touch "$ini"
python3 - "$ini" "$port" <<'PY'
import os, sys
path, port = sys.argv[1], sys.argv[2]
text = open(path, 'rb').read().decode('cp1251', 'replace').replace('\r\n', '\n')
lines, out, in_serial, done, former = text.split('\n'), [], False, False, ''
for line in lines:
    s = line.strip()
    if s.startswith('[') and s.endswith(']'):
        if in_serial and not done:
            out.append('Port=' + port); done = True
        in_serial = s[1:-1].strip().lower() == 'serial'
    elif in_serial and s.lower().startswith('port='):
        former = former or s[len('port='):]
        line = 'Port=' + port; done = True
    out.append(line)
if not done:
    if not in_serial:
        out.append('[Serial]')
    out.append('Port=' + port)
tmp = path + '.tmp'
open(tmp, 'wb').write('\r\n'.join(l for l in out).encode('cp1251'))
os.replace(tmp, path)
print(former)
PY
