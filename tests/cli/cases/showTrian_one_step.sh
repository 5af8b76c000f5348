lumbra showTrian 1 1 1
