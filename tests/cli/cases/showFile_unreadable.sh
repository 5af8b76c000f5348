# A file without read permission. As root, which may read anything, lumbra
# runs without the capabilities that allow that; where they cannot be
# dropped, the case is skipped and says why.
printf '\x0f' > secret.bin
chmod 000 secret.bin
if [[ $(id -u) -ne 0 ]]; then
  lumbra showFile 8 secret.bin
elif setpriv --bounding-set -dac_override,-dac_read_search true 2>/dev/null; then
  setpriv --bounding-set -dac_override,-dac_read_search lumbra showFile 8 secret.bin
else
  echo "SKIP: running as root, and setpriv cannot drop the capabilities that read any file" >&2
  exit 77
fi
