# Several files are read in turn; each record starts with its file's name.
printf 'ab' > a.bin
printf '\000\377\017' > b.bin
lumbra-kit blocks -n 8 a.bin b.bin
lumbra-kit blocks -n 12 --format jsonl a.bin b.bin
