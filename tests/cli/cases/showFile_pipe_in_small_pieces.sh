{ printf '\x0f'; sleep 0.2; printf '\x55'; sleep 0.2; printf '\xd0'; } | lumbra showFile 12 /dev/stdin
