lumbra showTrian 4 2 1x
