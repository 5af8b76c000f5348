lumbra showC 2147483647 0 0
