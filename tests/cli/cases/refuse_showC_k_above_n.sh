lumbra showC 4 7 1
