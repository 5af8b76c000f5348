# A file name that is not valid UTF-8 reaches the system unchanged.
printf '\xd0' > $'caf\xe9.bin'
lumbra showFile 4 $'caf\xe9.bin'
