lumbra showTrian 40 20 40
