lumbra showC 12 3 2
