lumbra showC 12345678901 2 1
