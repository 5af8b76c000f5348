lumbra showC 4 x 1
