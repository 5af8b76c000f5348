lumbra showC 4 1 1
