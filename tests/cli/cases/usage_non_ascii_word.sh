lumbra $'show\xc3\x87' 4 2 1
