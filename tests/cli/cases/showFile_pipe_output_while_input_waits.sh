# The blocks shown so far reach a reader of a piped output while the input's
# producer waits: it sends its second byte only once the first block's line
# has come out (or after 30 s, which then shows as "no").
first_out() { grep -q $'^8\t4\t4$' out.txt 2>/dev/null; }
{
  printf '\x0f'
  for ((i = 0; i < 600; i++)); do first_out && break; sleep 0.05; done
  first_out && echo yes > seen.txt || echo no > seen.txt
  printf '\x55'
} | lumbra showFile 8 /dev/stdin | cat > out.txt
echo "first block out while the input waited: $(cat seen.txt)"
cat out.txt
