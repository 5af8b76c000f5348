for d in 0 1 2 3 4 5 6 7 8 9 10; do
  lumbra showC 10 5 $d
  echo " status=$?"
done
