lumbra showTrian 4 1 1
