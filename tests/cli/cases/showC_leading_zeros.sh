lumbra showC 0004 02 01
