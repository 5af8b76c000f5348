lumbra '' 4 2 1
