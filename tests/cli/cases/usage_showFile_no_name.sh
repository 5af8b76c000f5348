lumbra showFile 8
