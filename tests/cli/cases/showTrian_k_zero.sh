lumbra showTrian 10 0 3
