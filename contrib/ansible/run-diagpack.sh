#!/bin/sh
# One run of diagpack-<key> for collect.yml, as root on a host, that stops
# and cleans up when the controller goes away.
#
#   run-diagpack.sh KEY LIMIT PROGRAM FETCH_DIR LOGIN [BINARY_DIR]
#
# PROGRAM runs under coreutils' timeout for at most LIMIT seconds, its
# standard output and error going to files in FETCH_DIR, a private directory
# of the login user. BINARY_DIR, where a copied PROGRAM lies, is removed
# when the script ends, however it ends. The last line the script prints is
# its verdict: with status 0 the archive's size in bytes (the archive is then
# FETCH_DIR/KEY-data.tar.gz, owned by LOGIN, wherever $TMPDIR was); with
# status 1 why the host failed, a line also added to FETCH_DIR/KEY-stderr.txt,
# which then holds the run's failure lines and that verdict.
#
# Why a lost controller needs help to reach the run: timeout puts the run in
# a process group of its own, so the SIGHUP that a closing terminal sends to
# the foreground group never reaches it, and a session without a terminal
# (pipelining, ansible_ssh_use_tty false) signals nothing at all: it only
# closes its pipes. So the script watches for both itself. A hang-up (sshd
# and sudo deliver SIGHUP to this shell's group when the session's terminal
# closes) is trapped; and once a second the script writes a dot to its
# standard output, which fails (EPIPE) once the session's pipe has no reader.
# With SSH connection sharing that is when the controller's ssh client ends,
# without it when the connection does. Either way the script passes SIGHUP
# to timeout, which forwards it to the run; the run removes its staging
# directory and partial archive as on any hang-up, and the script then
# removes FETCH_DIR, so nothing of the collection stays. collect.yml starts
# the script through the connection itself (raw) rather than as a module: a
# module killed by the hang-up would leave its payload in $TMPDIR and its
# copy in the login's ~/.ansible/tmp.
key=$1 limit=$2 program=$3 fetch=$4 login=$5 bindir=${6-}
exe=diagpack-$key
out=$fetch/$key-stdout.txt
err=$fetch/$key-stderr.txt
gone='' made=''
trap 'gone=1' HUP INT TERM PIPE
trap '[ -z "$bindir" ] || rm -rf -- "$bindir"' EXIT

# The controller is gone: remove whatever this collection left.
leave() {
  rm -rf -- "$fetch" ${made:+"$made"}
  exit 129
}
# Prints the last line and ends with status $1.
finish() {
  chown -- "$login" "$err"
  rm -f -- "$out"
  printf '\n%s\n' "$2"
  [ -z "$gone" ] || leave
  exit "$1"
}
verdict() {
  printf '%s\n' "$1" >>"$err"
  finish 1 "$1"
}

# Never write through a name planted in the login user's directory.
set -C
if ! : >"$out" || ! : >"$err"; then
  printf '\ncannot write in %s\n' "$fetch"
  exit 1
fi
timeout --kill-after=10 "$limit" "$program" >>"$out" 2>>"$err" &
run=$!
while [ -z "$gone" ] && kill -0 "$run" 2>/dev/null; do
  sleep 1
  printf . 2>/dev/null || gone=1
done
[ -z "$gone" ] || kill -HUP "$run" 2>/dev/null
# A trapped signal ends wait early, with a status above 128.
while wait "$run"; status=$?; [ "$status" -gt 128 ] && kill -0 "$run" 2>/dev/null; do :; done

last=$(tail -n 1 -- "$out")
archive=${last#Logs and config can be found at }
[ "$status" != 0 ] || [ "$archive" = "$last" ] || made=$archive
[ -z "$gone" ] || leave

case $status in
  0) ;;
  124 | 137)
    how="was stopped"
    [ "$status" = 124 ] || how="was killed 10 seconds after it was asked to stop"
    stage=${TMPDIR-/tmp}
    stage=${stage:-.}/$key-data
    left=
    for f in "$stage" "$stage.tar.gz"; do
      if [ -e "$f" ]; then left="$left $f"; fi
    done
    if [ -n "$left" ]; then
      verdict "$exe did not finish within diagpack_timeout ($limit s) and $how; left on the host until removed:$left"
    fi
    verdict "$exe did not finish within diagpack_timeout ($limit s) and $how; it removed its staging directory and partial archive"
    ;;
  *) verdict "$exe exited with status $status" ;;
esac
[ -n "$made" ] || verdict "$exe made no archive"
if [ "${made##*/}" != "$key-data.tar.gz" ]; then
  rm -f -- "$made"
  verdict "$exe made ${made##*/}, not $key-data.tar.gz, so diagpack_binary is no $exe; that archive was removed"
fi
kept=$fetch/$key-data.tar.gz
if ! why=$(chown -- "$login" "$made" 2>&1 && mv -f -- "$made" "$kept" 2>&1); then
  verdict "cannot move the archive into $fetch, so it stays on the host at $made: $why"
fi
made=$kept
finish 0 "$(wc -c <"$kept")"
