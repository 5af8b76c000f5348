lumbra showTrian 00 0 0
