# An OUT that is a symbolic link to a regular file: --force replaces the
# file it leads to and keeps the link (as an OUT that is a device stays
# one); without --force it is kept, like any existing OUT.
printf 'hello' > in
mkdir real
printf 'old' > real/target
ln -s real/target out
lumbra-kit shape --alphabet text -n 16 -d 2 in out
echo "status $?"
lumbra-kit shape -f --alphabet text -n 16 -d 2 in out
echo "status $?"
[[ -L out ]] && echo "out is still a link to $(readlink out)"
lumbra-kit unshape --alphabet text -n 16 -d 2 real/target back
echo "status $?"
cat back; echo
ls -A real
