lumbra showc 4 2 1
