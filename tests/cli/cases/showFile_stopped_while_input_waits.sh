# A run stopped while it waits for input leaves the banner and every block
# it had shown in its output file.
mkfifo in.pipe
exec 3<> in.pipe  # a writer that stays, so the input never ends by itself
: > out.txt  # there before the loop below looks, however late the job starts
lumbra showFile 8 in.pipe > out.txt &
pid=$!
printf '\x0f' >&3
for ((i = 0; i < 600; i++)); do grep -q $'^8\t4\t4$' out.txt && break; sleep 0.05; done
kill -TERM "$pid"
wait "$pid"
echo "status $?"
exec 3>&-
cat out.txt
