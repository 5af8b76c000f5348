# Blocks cut across bytes (5 bits), the shorter last block, both formats,
# from a pipe in pieces: the same blocks as from a file.
printf '\x0f\x55\xd0' > three.bin
lumbra-kit blocks -n 5 three.bin
{ printf '\x0f'; sleep 0.2; printf '\x55\xd0'; } | lumbra-kit blocks -n 5 --format jsonl -
