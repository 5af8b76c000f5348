# An empty file: no blocks, nothing to judge, status 0.
: > empty.bin
lumbra-kit test empty.bin
lumbra-kit test --format json - < empty.bin
