lumbra showTrian 3 1 0
