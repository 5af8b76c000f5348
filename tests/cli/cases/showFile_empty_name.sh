lumbra showFile 8 ''
