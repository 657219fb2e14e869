#!/bin/sh
# hide-wine-fonts.sh COMMAND...
# Runs COMMAND with /usr/share/wine behind an empty folder, in a mount namespace of its own, so
# that a window test sees only the fonts the program carries (fonts-wine's Tahoma lives there).
# Where no user namespace may be made, COMMAND runs as it is, with a note.
[ -d /usr/share/wine ] || exec "$@"
if unshare -rm true 2>/dev/null; then
  exec unshare -rm sh -c 'mount -t tmpfs none /usr/share/wine && exec "$@"' hide-wine-fonts "$@"
fi
echo "hide-wine-fonts.sh: no user namespace here, /usr/share/wine stays visible" >&2
exec "$@"
