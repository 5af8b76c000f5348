lumbra showC 0 0 0
