#!/bin/sh
# Run one of the toolkit's programs and turn its exit status into the usual
# one for a job: 1, a complete run, becomes 0; any other status, 0 included,
# means the run did not complete and fails the job with a one-line reason.
"$@"
status=$?
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
