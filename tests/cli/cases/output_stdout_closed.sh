lumbra showC 4 2 1 >&-
