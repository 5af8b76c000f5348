lumbra showTrian 10 5 5
