#!/usr/bin/env bash
# A run killed at any step that touches a file or descriptor leaves the data
# path holding the whole original or the whole result, each with its record
# (none, or "encrypted"), and a plain rerun then finishes what is left, never
# enciphering a file twice, or refuses with a message. strace kills the command on entry to the
# n-th call of each such system call, for every n a whole run makes.
#   crash_test.sh VAULTINE
set -uo pipefail

vaultine=$1
command -v strace >/dev/null || { echo "skipped: needs strace (Debian package strace)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vaultine-crash-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Three blocks and a bit, so reads and writes come several times.
head -c $(((5 << 19) + 123)) /dev/urandom >original
head -c 1000 /dev/urandom >key
transformed() { cp "$1" "$2" && "$vaultine" encrypt -q -f -k key "$2"; }
transformed original once || exit 1
transformed once twice || exit 1
# What a file's record says of it: encrypted, plain, or nothing.
recorded() { getfattr --only-values -n user.vaultine "$1" 2>/dev/null | grep -o 'encrypted\|plain'; }
# The original is copied as a new file: one copied over the result would
# carry the result's record, which would then be refused as out of date.

cp --remove-destination original data
if ! strace -qq -o trace -e trace=%file,%desc "$vaultine" encrypt -q -k key data || ! cmp -s data once; then
  echo "skipped: strace cannot trace here"
  exit 77
fi
calls=$(sed -E 's/^([a-z0-9_]+)\(.*/\1/' trace | grep -E '^[a-z0-9_]+$' | sort | uniq -c)

failures=0
runs=0
fail() {
  echo "killed at $call #$n: $*"
  failures=$((failures + 1))
}

while read -r count call; do
  for n in $(seq "$count"); do
    rm -f data data.*
    cp --remove-destination original data
    { strace -qq -o /dev/null -e inject="$call":signal=KILL:when="$n" "$vaultine" encrypt -q -k key data; } \
      >/dev/null 2>&1
    runs=$((runs + 1))
    if cmp -s data original; then
      [ -z "$(recorded data)" ] || fail "the original carries a record: $(recorded data)"
      cp original before
    elif cmp -s data once; then
      [ "$(recorded data)" = encrypted ] || fail "the result's record says: $(recorded data)"
      cp once before
    else
      fail "the data path holds neither the original nor the result"
      continue
    fi
    rerun_gives=once  # the result is left as it is

    "$vaultine" encrypt -q -k key data >/dev/null 2>err
    status=$?
    if [ "$status" -eq 0 ]; then
      cmp -s data "$rerun_gives" || fail "the rerun finished with a wrong result"
    elif [ "$status" -eq 1 ] && [ -s err ]; then
      cmp -s data before || fail "the refused rerun changed the file"
    else
      fail "the rerun ended with status $status and said: $(cat err)"
    fi
  done
done <<<"$calls"

echo "$runs runs killed at every call of: $(echo $(awk '{print $2}' <<<"$calls"))"
rm -f data data.*  # what the last refused rerun left

# Ctrl-C while the file is written stops the run; once the whole result is
# being flushed it stops nothing, and the file is reported done. Either way
# the command ends by the signal (the shell shows 130).
for case in "write original" "fsync once"; do
  read -r call want_data <<<"$case"
  n=1
  rm -f data data.*
  cp --remove-destination original data
  strace -qq -o /dev/null -e inject="$call":signal=INT:when=1 "$vaultine" encrypt -q -k key data >/dev/null 2>err
  status=$?
  [ "$status" -eq 130 ] || fail "Ctrl-C gave status $status, not 130: $(cat err)"
  cmp -s data "$want_data" || fail "Ctrl-C did not leave the $want_data"
  if [ "$want_data" = once ]; then
    grep -qx "vaultine: data: encrypted" err || fail "the file done despite Ctrl-C was not reported: $(cat err)"
  fi
  ls data.* >/dev/null 2>&1 && fail "Ctrl-C left a working file"
done
# A key whose folder could not be flushed is said to be so.
n=1
call="keygen's folder flush"
rm -f newkey
strace -qq -o /dev/null -e inject=fsync:error=EIO:when=2 "$vaultine" keygen -n 1K newkey >/dev/null 2>err
[ $? -eq 1 ] && grep -q "written, but its folder could not be flushed (Input/output error)" err ||
  fail "said: $(cat err)"
rm -f newkey
# Ctrl-C while keygen flushes a finished key: nothing is kept.
n=1
call="keygen's fsync"
strace -qq -o /dev/null -e inject=fsync:signal=INT:when=1 "$vaultine" keygen -n 1M newkey >/dev/null 2>err
status=$?
[ "$status" -eq 130 ] && [ ! -e newkey ] || fail "keygen stopped during its flush: status $status, key kept: $(ls newkey 2>&1)"

# Another program writes into the finished working file while it is being
# flushed: it must not take the file's place. Its permissions, given after its
# stamp is taken, say when to write.
n=1
call="fsync (delayed)"
rm -f data data.*
cp --remove-destination original data
chmod 640 data
strace -qq -o /dev/null -e inject=fsync:delay_enter=2000000:when=1 "$vaultine" encrypt -q -k key data \
  >/dev/null 2>err &
for _ in $(seq 1000); do
  [ "$(stat -c %a data.1* 2>/dev/null)" = 640 ] && break
  sleep 0.01
done
printf SPOILED | dd of="$(echo data.1*)" conv=notrunc status=none
wait $!
status=$?
[ "$status" -eq 1 ] && grep -q "another program removed or replaced the working file" err ||
  fail "a working file written by another program was used (status $status): $(cat err)"
cmp -s data original || fail "the data file was not left as it was"

# A guard whose own call fails fails the run, or says what it left.
#   injected INJECTION...: runs encrypt on a fresh copy (after $setup, if any) with
#   each strace inject INJECTION; status and stderr in $status and err.
injected() {
  call="$*" n=
  rm -f data data.*
  cp --remove-destination original data
  [ -z "${setup:-}" ] || eval "$setup"
  local injections=()
  for injection in "$@"; do injections+=(-e "inject=$injection"); done
  strace -qq -o /dev/null "${injections[@]}" "$vaultine" encrypt -q -k "${key_given:-key}" data >/dev/null 2>err
  status=$?
}
left_as_it_was() {
  [ "$status" -eq 1 ] && grep -q "$1" err || fail "status $status, said: $(cat err)"
  cmp -s data original || fail "the data file changed"
  ls data.* >/dev/null 2>&1 && fail "the working file was left"
}
done_and_said() {
  if [ -z "$2" ]; then [ "$status" -eq "$1" ] && [ ! -s err ]; else [ "$status" -eq "$1" ] && grep -q "$2" err; fi ||
    fail "status $status, said: $(cat err)"
  cmp -s data once || fail "the result is not in place"
}
# The n-th call of a kind that concerns the working file, in a plain run.
nth_on_working_file() {
  cp --remove-destination original data
  strace -qq -y -o /dev/stdout -e trace="$1" "$vaultine" encrypt -q -k key data 2>/dev/null |
    grep -n "^$1([0-9]*<.*/data\\.1" | head -n 1 | cut -d: -f1
}
working_fstat=$(nth_on_working_file newfstatat)
cp --remove-destination original data
key_stat=$(strace -qq -o /dev/stdout -e trace=newfstatat "$vaultine" encrypt -q -k ./data data 2>/dev/null |
  grep -n '^newfstatat(AT_FDCWD, "./data"' | head -n 1 | cut -d: -f1)
# The working file stays open until it has taken the file's place (another
# run then tells it from a leftover): its close is the first after the rename.
cp --remove-destination original data
working_close=$(strace -qq -o /dev/stdout -e trace=close,renameat "$vaultine" encrypt -q -k key data 2>/dev/null |
  awk '/^renameat/ { renamed = 1; next } /^close/ { n++; if (renamed) { print n; exit } }')
setup=
# The flush of the working file, and its close.
injected fsync:error=EIO:when=1
left_as_it_was "cannot write the working file data.1ê9: Input/output error"
injected close:error=EIO:when="$working_close"
done_and_said 0 ""
# The first look at the working file, once it is written, fails: it goes all
# the same.
injected newfstatat:error=EIO:when="$working_fstat"
left_as_it_was "cannot write the working file data.1ê9: Input/output error"
# A same-file check that cannot be made is no pass: the file would be its own key.
key_given=./data
injected newfstatat:error=EIO:when="$key_stat"
left_as_it_was "data: Input/output error"
key_given=
# A working file in the way, and gone when it is looked at: another run's,
# just put in place.
cp --remove-destination original data
working_open=$(strace -qq -o /dev/stdout -e trace=openat "$vaultine" encrypt -q -k key data 2>/dev/null |
  grep -n '"data\.1' | head -n 1 | cut -d: -f1)
injected openat:error=EEXIST:when="$working_open"
left_as_it_was "another run is working on it"
# One that cannot go is named.
injected fsync:error=EIO:when=1 unlinkat:error=EIO:when=1
grep -q "the working file data.1ê9 could not be removed (Input/output error)" err || fail "said: $(cat err)"
# A read of the file that may be tried again is.
rm -f data data.*
cp --remove-destination original data
data_read=$(strace -qq -y -o /dev/stdout -e trace=read "$vaultine" encrypt -q -k key data 2>/dev/null |
  grep -n '^read([0-9]*<.*/data>' | head -n 1 | cut -d: -f1)
injected read:error=EAGAIN:when="$data_read"
done_and_said 0 ""
# The folder flushed after the rename: the file is done, and may not be on disk.
injected fsync:error=EIO:when=2
done_and_said 1 "encrypted, but its folder could not be flushed (Input/output error)"
if command -v setfacl >/dev/null && command -v setfattr >/dev/null && touch attrs && setfattr -n user.note -v x attrs; then
  # An ACL that cannot go with the file: the result would be open to more people.
  setup="setfacl -m u:65533:r-- data"
  injected fsetxattr:error=ENOSPC:when=1
  left_as_it_was "cannot give the working file its system.posix_acl_access (No space left on device)"
  # A note of the user's own may stay behind where it cannot go, and is named.
  setup="setfattr -n user.note -v x data"
  injected fsetxattr:error=EOPNOTSUPP:when=1
  done_and_said 0 "encrypted without its attribute user.note, which this file system cannot keep"
  # No room for the record: done without it, the file would be done twice.
  setup=
  injected fsetxattr:error=E2BIG:when=1
  left_as_it_was "there is no room for its record (Argument list too long)"
fi

# The flush goes to the working file, before it takes the file's place.
n=1
call="fsync (order)"
cp --remove-destination original data
strace -qq -y -o trace -e trace=fsync,renameat,renameat2 "$vaultine" encrypt -q -k key data
head -n 1 trace | grep -q '^fsync([0-9]*<.*/data\.1' && sed -n 2p trace | grep -q '^rename' ||
  fail "the working file was not flushed before the rename: $(cat trace)"

# ---- many files side by side (-r): the same promises, whichever worker the
# kill or the failure meets

# A tree of three folders; each file a block and a bit, so that reads and
# writes come twice.
make_tree() {
  rm -rf tree tree.once
  for d in a b c; do
    mkdir -p "tree/$d"
    for f in 1 2 3; do head -c $(((1 << 20) + 321)) /dev/urandom >"tree/$d/$f.txt"; done
  done
  cp -a tree tree.original
  cp -a tree tree.once
  "$vaultine" encrypt -q -r -k key tree.once || exit 1
}
# What each file of the tree holds: its original, or its result, whole and
# recorded as such; anything else is neither.
tree_states() {
  for file in tree/*/*.txt; do
    if cmp -s "$file" "tree.original/${file#tree/}" && [ -z "$(recorded "$file")" ]; then
      echo "$file original"
    elif cmp -s "$file" "tree.once/${file#tree/}" && [ "$(recorded "$file")" = encrypted ]; then
      echo "$file once"
    else
      echo "$file whole-neither"
    fi
  done
}
make_tree
# The calls of a run, counted per thread, as strace counts them for an injection.
strace -f -qq -o trace -e trace=%file,%desc "$vaultine" encrypt -q -r -k key tree
rm -rf tree && cp -a tree.original tree
tree_calls=$(sed -E 's/^([0-9]+) +([a-z0-9_]+)\(.*/\1 \2/' trace | grep -E '^[0-9]+ [a-z0-9_]+$' | sort | uniq -c |
  awk '{ if ($1 > most[$3]) most[$3] = $1 } END { for (c in most) print most[c], c }')
tree_runs=0
while read -r count call; do
  for n in $(seq "$count"); do
    rm -rf tree && cp -a tree.original tree
    strace -f -qq -o /dev/null -e inject="$call":signal=KILL:when="$n" "$vaultine" encrypt -q -r -k key tree \
      >/dev/null 2>&1
    tree_runs=$((tree_runs + 1))
    states=$(tree_states)
    if grep -q whole-neither <<<"$states"; then
      fail "(-r) a file holds neither its original nor its result: $(grep whole-neither <<<"$states")"
      continue
    fi
    # The rerun finishes what is left, and leaves what is done.
    "$vaultine" encrypt -q -r -k key tree >/dev/null 2>err
    status=$?
    while read -r file state; do
      if [ "$status" -eq 0 ]; then
        cmp -s "$file" "tree.once/${file#tree/}" || fail "(-r) the rerun left $file not once enciphered (was $state)"
      fi
    done <<<"$states"
    [ "$status" -eq 0 ] || { [ "$status" -eq 1 ] && [ -s err ]; } || fail "(-r) the rerun ended $status: $(cat err)"
  done
done <<<"$tree_calls"
echo "$tree_runs runs of -r killed at every call of: $(echo $(awk '{print $2}' <<<"$tree_calls"))"

# Each working file flushed before its rename; each folder flushed after the
# last rename into it, and before the command ends.
n=1
call="order (-r)"
rm -rf tree && cp -a tree.original tree
strace -f -qq -y -o trace -e trace=fsync,renameat,exit_group "$vaultine" encrypt -q -r -k key tree
awk '
  { sub(/^[0-9]+ +/, "") }
  /^fsync\(/ { match($0, /<[^>]*>/); path = substr($0, RSTART + 1, RLENGTH - 2); flushed[path] = NR; last_flush[path] = NR }
  /^renameat\(/ {
    match($0, /<[^>]*>/); folder = substr($0, RSTART + 1, RLENGTH - 2)
    split($0, quoted, "\""); working = folder "/" quoted[2]
    if (!(working in flushed)) { print "renamed before its flush: " working; bad = 1 }
    renamed[folder] = NR
  }
  /^exit_group/ { for (folder in renamed) if (last_flush[folder] < renamed[folder]) { print "not flushed after its renames: " folder; bad = 1 } }
  END { exit bad }' trace || fail "$(cat trace)"

# A listing that fails is named, and its files left as they are; one cut
# short by a signal is listed again.
n=1
call="getdents64 (-r)"
rm -rf tree && cp -a tree.original tree
strace -f -qq -o /dev/null -e inject=getdents64:error=EIO:when=3 "$vaultine" encrypt -q -r -k key tree >/dev/null 2>err
status=$?
[ "$status" -eq 1 ] && grep -q "^vaultine: tree/[abc]: Input/output error$" err || fail "status $status, said: $(cat err)"
[ "$(tree_states | grep -c original)" -eq 3 ] || fail "not the three files of one folder left: $(tree_states)"
rm -rf tree && cp -a tree.original tree
strace -f -qq -o /dev/null -e inject=getdents64:error=EINTR:when=1 "$vaultine" encrypt -q -r -k key tree >/dev/null 2>err
[ $? -eq 0 ] && [ "$(tree_states | grep -c once)" -eq 9 ] || fail "an interrupted listing: $(cat err)"
# ...but not for ever.
rm -rf tree && cp -a tree.original tree
timeout 60 strace -f -qq -o /dev/null -e inject=getdents64:error=EINTR "$vaultine" encrypt -q -r -k key tree >/dev/null 2>err
status=$?
[ "$status" -eq 1 ] && grep -q "^vaultine: tree: Interrupted system call$" err || fail "status $status, said: $(cat err)"

# A key replaced while the command is at work: no file is enciphered with
# the new key, the command stops, and says so.
n=1
call="key replaced (-r)"
rm -rf tree && cp -a tree.original tree
head -c 1000 /dev/urandom >other.key
cp key key.saved
strace -f -qq -o /dev/null -e inject=renameat:delay_exit=300000 "$vaultine" encrypt -q -r -k key tree >/dev/null 2>err &
for _ in $(seq 1000); do [ "$(tree_states | grep -c once)" -ge 1 ] && break; sleep 0.01; done
cp other.key key.new && mv key.new key
wait $!
status=$?
cp key.saved key
[ "$status" -eq 1 ] && grep -q "key: changed by another program during the command" err &&
  ! grep -q "run the same command again" err || fail "status $status: $(cat err)"
grep -q whole-neither <<<"$(tree_states)" && fail "a file enciphered with another key: $(tree_states)"
[ "$(tree_states | grep -c original)" -ge 1 ] || fail "the command did not stop"

# A second run while the first is putting its result in place is told that
# a run is at work, not that a leftover is in the way.
n=1
call="renameat (delayed)"
rm -f data data.*
cp --remove-destination original data
strace -qq -o /dev/null -e inject=renameat:delay_enter=2000000 "$vaultine" encrypt -q -k key data >/dev/null 2>&1 &
for _ in $(seq 1000); do [ -e data.1* ] && [ "$(stat -c %s data.1*)" = "$(stat -c %s data)" ] && break; sleep 0.01; done
sleep 0.3
"$vaultine" encrypt -q -k key data >/dev/null 2>err
grep -q "another run is working on it" err || fail "said: $(cat err)"
wait

# A stop reaches a -c that waits: on a FIFO with no writer yet, and on a pipe
# that gives nothing.
n=1
call="-c waiting"
rm -f fifo && mkfifo fifo
rm -f full && mkfifo full
for input in fifo pipe full; do
  if [ "$input" = fifo ]; then
    "$vaultine" encrypt -c -k key fifo >/dev/null 2>err &
  elif [ "$input" = pipe ]; then
    sleep 30 | "$vaultine" encrypt -c -k key >/dev/null 2>err &
  else
    # ...and one that writes to a pipe nobody reads, once it is full.
    sleep 30 <full &
    reader=$!
    "$vaultine" encrypt -c -k key original >full 2>err &
  fi
  sleep 0.3
  kill -TERM $!
  for _ in $(seq 300); do kill -0 $! 2>/dev/null || break; sleep 0.01; done
  if kill -0 $! 2>/dev/null; then
    fail "-c on a $input went on waiting after TERM"
    kill -KILL $!
  fi
  wait $!
  status=$?
  [ "$status" -eq 143 ] || fail "-c on a $input ended $status: $(cat err)"
done
kill "$reader" 2>/dev/null

# A folder its user may write but not list is flushed all the same.
if command -v setpriv >/dev/null; then
  n=1
  call="sync (unlisted folder)"
  rm -rf closed && mkdir closed && cp original closed/data && cp key closed.key
  chown -R 65534:65534 closed closed.key && chmod 0300 closed && chmod 0755 "$work"
  strace -f -qq -o trace -e trace=sync,fsync setpriv --reuid=65534 --regid=65534 --clear-groups \
    "$vaultine" encrypt -q -k closed.key closed/data >/dev/null 2>err
  status=$?
  chmod 0700 closed
  [ "$status" -eq 0 ] && grep -q '^[0-9]* *sync()' trace && cmp -s closed/data once ||
    fail "status $status, said: $(cat err); calls: $(cat trace)"
fi

# One file named twice, the first name at its rename when the second comes:
# enciphered once, and the second name says so.
n=1
call="renameat (one file named twice)"
rm -f data data.*
cp --remove-destination original data
strace -f -qq -o /dev/null -e inject=renameat:delay_exit=500000 "$vaultine" encrypt -k key data ./data >/dev/null 2>err
status=$?
[ "$status" -eq 0 ] && cmp -s data once && [ "$(grep -c "the same file as" err)" -eq 1 ] ||
  fail "status $status, said: $(cat err)"

# A program that opens the file to write while the run flushes its result
# waits no longer than the run takes to give the file up, and the result
# does not take the file's place.
n=1
call="fsync (a writer comes)"
rm -f data data.*
cp --remove-destination original data
strace -f -qq -o /dev/null -e inject=fsync:delay_enter=3000000:when=1 "$vaultine" encrypt -q -k key data \
  >/dev/null 2>err &
for _ in $(seq 1000); do [ -e data.1* ] && [ "$(stat -c %s data.1*)" = "$(stat -c %s data)" ] && break; sleep 0.01; done
sleep 0.3
start=$(date +%s%N)
: >>data
waited=$((($(date +%s%N) - start) / 1000000))
wait $!
status=$?
[ "$waited" -lt 1500 ] || fail "the writer waited $waited ms"
[ "$status" -eq 1 ] && grep -q "data: changed by another program" err && cmp -s data original ||
  fail "status $status, said: $(cat err)"

# A stop while results are flushed: those that then take their files' place
# are named even with -q, and only those.
n=1
call="fsync (stopped, -q)"
rm -rf tree && cp -a tree.original tree
strace -f -qq -o /dev/null -e inject=fsync:delay_enter=1000000:when=1 "$vaultine" encrypt -q -r -k key tree \
  >/dev/null 2>err &
pid=$!
for _ in $(seq 1000); do [ "$(find tree -name '*.1*' | wc -l)" -ge 2 ] && break; sleep 0.01; done
sleep 0.3
kill -TERM "$(pgrep -P $pid vaultine)"
wait $pid
named=$(sed -n 's/^vaultine: \(.*\): encrypted$/\1/p' err | sort)
done_files=$(tree_states | awk '$2 == "once" { print $1 }' | sort)
[ -n "$done_files" ] && [ "$named" = "$done_files" ] && [ "$(grep -vc ': encrypted$' err)" -eq 0 ] ||
  fail "done: $(echo $done_files); said: $(cat err)"

[ "$failures" -eq 0 ]
