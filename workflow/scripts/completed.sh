#!/bin/sh
# Run one of the toolkit's programs and turn its exit status into the usual
# one for a job: 1, a complete run, becomes 0; any other status, 0 included,
# means the run did not complete and fails the job with a one-line reason.
#
# The program runs in the background and this script waits for it, so that
# a HUP, INT (Ctrl-C) or TERM that reaches the job is passed on at once as a
# TERM (a shell waiting for a foreground program would act only after it
# ended, and a search can run for hours).
"$@" &
pid=$!
trap 'kill -TERM "$pid" 2>/dev/null' HUP INT TERM
while :; do
  wait "$pid"
  status=$?
  # a status above 128 may be a signal that interrupted the wait, not the
  # program's end: wait again while the program is still there
  if [ "$status" -le 128 ] || ! kill -0 "$pid" 2>/dev/null; then break; fi
done
case $status in
  1) exit 0 ;;
  0) echo "$1: exit status 0 instead of 1: the run did not complete" >&2; exit 1 ;;
esac
if [ "$status" -gt 128 ]; then
  echo "$1: killed by signal $((status - 128))" >&2
else
  echo "$1: failed with exit status $status" >&2
fi
exit "$status"
