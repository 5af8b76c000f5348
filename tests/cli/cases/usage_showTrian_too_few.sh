lumbra showTrian 4 2
