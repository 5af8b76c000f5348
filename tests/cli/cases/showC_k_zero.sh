lumbra showC 9 0 4
