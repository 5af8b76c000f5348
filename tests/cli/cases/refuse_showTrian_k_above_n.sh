lumbra showTrian 3 4 0
