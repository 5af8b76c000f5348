lumbra showC 4 '' 1
