lumbra showC 4 2
