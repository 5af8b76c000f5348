# Counts that need more than --cache-mib: the message names the numbers.
lumbra-kit unrank --cache-mib 1 4096 2048 64 0
