# Long, but it fits: it runs.
lumbra showC 2000000 2000000 0
