# decode refuses what encode did not write, with one line and status 2, and
# leaves nothing at OUT; encode keeps an existing OUT unless --force.
printf 'Hello, world!\n' > hello
lumbra-kit encode hello hello.c 2> /dev/null
try() { lumbra-kit decode "$1" out; echo "status $?, out $([[ -e out ]] && echo present || echo absent)"; }
printf 'plain text\n' > text; try text
{ head -c 4 hello.c; printf '\002'; tail -c +6 hello.c; } > newer; try newer
head -c 25 hello.c > short; try short
{ cat hello.c; printf 'x'; } > trailing; try trailing
{ head -c 18 hello.c; printf '\377'; tail -c +20 hello.c; } > badsum; try badsum
lumbra-kit encode hello hello.c; echo "status $?"
lumbra-kit encode --force hello hello.c 2> /dev/null; echo "status $?"
ls
