lumbra showC 9 9 0
