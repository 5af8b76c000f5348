lumbra showC 300 150 12
