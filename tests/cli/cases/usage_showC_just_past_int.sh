lumbra showC 2147483648 2 1
