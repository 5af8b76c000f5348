lumbra showC 3 1 0
