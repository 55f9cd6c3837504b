#!/usr/bin/env bash
# Mutation testing: puts small faults into the program and the service, one
# at a time, and tells which of them the tests notice. Not part of the test
# command; run it before and after a change to the tests (or a move of code
# between files) and compare the two tables.
#
#   scripts/mutate.sh            every mutation, then the table
#   scripts/mutate.sh NAME...    only those
#   scripts/mutate.sh --list     the list, nothing run
#
# Each mutation finds its place by a snippet of the original text that must
# occur exactly once in src/ and server/, never by file and line, so the list
# still applies after code moves between files. Builds, the Wine prefix, the
# display and the sync service the Windows tests talk to are the tool's own
# (build/mutate), so it runs beside other test runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

mut="$build/mutate"
export WINEPREFIX="$mut/wineprefix"
TIMEOUT=${QUILLET_MUTATE_TIMEOUT:-300} # seconds for one test run at most

# The tests a module's mutations run: "native:", "server:" or "wine:" and a
# GoogleTest filter. A row may name its own instead of its module's.
declare -A SUITES=(
  [util]="wine:DeferredStartTest.*:MainWindowTest.LateOrMissingNotifications*:Viewer.ClipboardChangeClosesItAndTheChainHearsOfIt"
  [settings]="wine:Registry.*:Faults.SettingsOfTheWrongTypeOrSizeOrMissing:OptionsTest.*:ClippingStore.*"
  [clipboard]="wine:MainWindowTest.EveryChange*:MainWindowTest.SnapshotAndKeepUnicode:MainWindowTest.AutoConvert*:MainWindowTest.AClipboardHeld*:MainWindowTest.FormatsOfEverySize*:MainWindowTest.MemoryThatRunsOut*:MainWindowTest.OwnChanges*:MainWindowTest.LateOrMissingNotifications*:MainWindowTest.NothingNested*:MainWindowTest.MenusFollow*:TextFile.*:Faults.TwoProgramsConvertingAtOnceDoNotLoop"
  [viewer]="wine:Viewer.*:Render.*"
  [clippings]="wine:ClippingStore.*:ClipMgr.*:MainWindowTest.ClippingsMenus*:MainWindowTest.StoreCommand*:Transfer.*"
  [net]="wine:Http.*:VersionCheck.*:UpdateMenu.*:RealService.UpdateCheckFindsTheCurrentRelease"
  [cloud]="wine:SyncProto.*:Transfer.*:Sync.*:CloudAccount.*:RealService.TwoPcsKeepEveryEdit:RealService.ClippingsTravelSealed:RealService.CloudManager*"
  [app]="wine:EndToEnd.*:OptionsTest.*:MainWindowTest.ExitDialog*:MainWindowTest.EveryChange*:MainWindowTest.ClippingsMenus*:MainWindowTest.MenusFollow*:MainWindowTest.F9*:UpdateMenu.*:About.*:HelpLoader.*"
  [server]="server:Request.*:Stores/SyncService.*/0:Https*" # /0: the SQLite store
)

# name @@ module @@ tests ("-": the module's) @@ snippet @@ replacement @@ what
MUTATIONS=$(
  cat <<'LIST'
util-strcpy-room @@ util @@ native:SafeFns.* @@ if (len >= size - at) @@ if (len > size - at) @@ copy fills the buffer without room for the terminator
util-case-z @@ util @@ native:SafeFns.* @@ s[i] <= from + 25 @@ s[i] <= from + 24 @@ case conversion stops before the last letter
util-chain-leaving @@ util @@ - @@ m_next = reinterpret_cast<HWND>(lParam); @@ (void)lParam; @@ viewer chain keeps a window that left
settings-int-type @@ settings @@ - @@ return rc == ERROR_SUCCESS && type == REG_DWORD ? value : def; @@ return rc == ERROR_SUCCESS ? value : def; @@ a number of the wrong type is read instead of the default
settings-terminator @@ settings @@ - @@ if (got >= sizeBytes / sizeof(Char)) @@ if (got > sizeBytes / sizeof(Char)) @@ unterminated string terminated one past the buffer
settings-section-room @@ settings @@ - @@ if (len + 1 + 2 > size - used) @@ if (len + 1 + 1 > size - used) @@ section names leave room for one closing zero, not two
clipboard-block-rows @@ clipboard @@ native:BlockCalc.* @@ size_t rows = n / ROW_BYTES + 1; @@ size_t rows = n / ROW_BYTES; @@ clipboard block one row short
clipboard-dump-digits @@ clipboard @@ native:BlockCalc.* @@ while (digits < MAX_OFFSET_DIGITS @@ while (digits < MAX_OFFSET_DIGITS - 1 @@ hex dump offsets stop widening at eight digits
clipboard-undo-stale @@ clipboard @@ - @@ return (!m_Undo.empty() && IsOwnClipboardContent()) || PrepUndo(hwnd, 0); @@ return !m_Undo.empty() || PrepUndo(hwnd, 0); @@ case change keeps a snapshot made stale by another copy
clipboard-undo-max @@ clipboard @@ - @@ bool full() const { return m_count == UNDO_MAX; } @@ bool full() const { return m_count == UNDO_MAX + 1; } @@ undo snapshot takes one format more than it holds
clipboard-history-denied @@ clipboard @@ - @@ return p.get() && *p.get() == 0; @@ return p.get() && *p.get() != 0; @@ CanIncludeInClipboardHistory read the other way
viewer-fit-shrink @@ viewer @@ native:Fit.* @@ drawW = static_cast<uint32_t>(W) < w ? W : static_cast<int>(w); @@ drawW = static_cast<int>(w); @@ a wide picture is not shrunk to the frame
viewer-dib-palette @@ viewer @@ native:Fit.* @@ if (colours == 0 && h.bitCount <= 8) @@ if (colours == 0 && h.bitCount < 8) @@ 8-bit DIB without clrUsed gets no colour table
viewer-png-read @@ viewer @@ native:PngDecode.* @@ if (length > source->size - source->offset) @@ if (length > source->size) @@ PNG reader bound ignores what was read already
viewer-bitmap-rows @@ viewer @@ - @@ info.bmiHeader.biHeight = -picture.height; @@ info.bmiHeader.biHeight = picture.height; @@ decoded pictures drawn upside down
viewer-row-cr @@ viewer @@ - @@ m_Text[*end - 1] == '\n' || m_Text[*end - 1] == '\r' @@ m_Text[*end - 1] == '\n' @@ text rows keep their CR
clippings-sort-stable @@ clippings @@ native:ClipEntry.* @@ CompareNoCase(a.name, b.name) > 0 @@ CompareNoCase(a.name, b.name) >= 0 @@ equal names swap places when sorted
clippings-date-month @@ clippings @@ native:ClipEntry.* @@ year -= month <= 2; @@ year -= month < 2; @@ dates in February counted in the wrong year
clippings-name-chars @@ clippings @@ native:ClipEntry.* @@ !strchr(";<>", c) @@ !strchr("<>", c) @@ a ';' is kept in a clipping's name
clippings-wide-room @@ clippings @@ - @@ DWORD bytes = size * 2 + sizeof(wchar_t); @@ DWORD bytes = size * 2; @@ stored wide text read without room for its terminator
clippings-changed-elsewhere @@ clippings @@ - @@ strcmp(now.name, expected.name) == 0 && @@ strcmp(now.name, expected.name) == 0 || @@ a clipping another copy changed counts as unchanged
net-reply-room @@ net @@ native:HttpReply.* @@ if (n < sink->size - sink->used) @@ if (n <= sink->size - sink->used) @@ reply body fills the buffer without its terminator
net-send-rest @@ net @@ - @@ text += sent; @@ (void)0; @@ partial send repeats the start instead of the rest
net-version-build @@ net @@ - @@ if (major == RUNNING_MAJOR && minor == RUNNING_MINOR && build == RUNNING_BUILD) @@ if (major == RUNNING_MAJOR && minor == RUNNING_MINOR) @@ another build of the same version counts as current
cloud-replace-room @@ cloud @@ native:Wire.* @@ if (needed >= size) @@ if (needed > size) @@ encoded text fills the buffer without its terminator
cloud-legacy-unchanged @@ cloud @@ native:Wire.* @@ if (t <= lastSync) @@ if (t < lastSync) @@ a clip dated at the last run is downloaded again
cloud-deleted-wins @@ cloud @@ native:Wire.*:SyncModel.* @@ return localChanged ? Act::UPLOAD : cloudChanged ? Act::DELETE_LOCAL : Act::UNCHANGED; @@ return cloudChanged ? Act::DELETE_LOCAL : localChanged ? Act::UPLOAD : Act::UNCHANGED; @@ deletion in the cloud wins over a change here
cloud-unlisted-changed @@ cloud @@ native:Wire.*:SyncModel.* @@ local.marked && local.mark.cloudId > 0 && local.mark.localUpdate == local.lastUpdate @@ local.marked && local.mark.cloudId > 0 @@ a changed clipping whose clip left the list is not uploaded
cloud-fetch-count @@ cloud @@ native:Wire.*:SyncModel.* @@ m_count += Download(clip, -1, clip.name); @@ Download(clip, -1, clip.name); @@ downloads of new clips do not count against the store's room
cloud-token-account @@ cloud @@ - @@ m_Token[0] && strcmp(pair.value, m_TokenUser) == 0 @@ m_Token[0] @@ sign-in token sent with another account's requests
cloud-busy-429 @@ cloud @@ - @@ return status == 0 || status == 429 || status == 503; @@ return status == 0 || status == 503; @@ too many requests taken for a refusal, not busy
cloud-cut-list @@ cloud @@ - @@ if (!(list && strstr(list, "\r\n</Clips>")) && !strstr(body, "<Clips />")) @@ if (!list && !strstr(body, "<Clips />")) @@ a list cut short is taken for a whole one
cloud-weak-key @@ cloud @@ - @@ return DeriveRolKey(key, values, sizeof values) >= KEY_MIN_VALUES; @@ return DeriveRolKey(key, values, sizeof values) > KEY_MIN_VALUES; @@ a key of just enough letters and digits is refused
cloud-seal-field @@ cloud @@ - @@ return std::string(id) + ":" + field; @@ return std::string(id); @@ a sealed part opens in another field of its clip
cloud-seal-nonce @@ cloud @@ - @@ !BCRYPT_SUCCESS(BCryptGenRandom(nullptr, nonce, SEAL_NONCE_BYTES, BCRYPT_USE_SYSTEM_PREFERRED_RNG)) || @@ false || @@ every part sealed with the same nonce
cloud-key-account @@ cloud @@ - @@ if (!m_HaveKey || memcmp(account, m_KeyAccount, sizeof account) != 0) { @@ if (!m_HaveKey) { @@ the sealing key of the last account kept for another
cloud-base64-leftover @@ cloud @@ native:SealText.* @@ if (group & ((uint32_t(1) << (8 * (3 - bytes))) - 1)) @@ if (false) @@ base64 with left-over bits read as another encoding of the same bytes
app-run-case @@ app @@ - @@ NORM_IGNORECASE, entry @@ 0, entry @@ autostart entry compared case-sensitively
app-run-other-copy @@ app @@ - @@ if (run.ours) @@ if (run.known) @@ switching autostart off removes another copy's entry
app-quit-remember @@ app @@ - @@ WriteSettingsInt(nullptr, "QuickExit", (DWORD)result); @@ (void)result; @@ exit dialog forgets "do not ask again"
app-first-clipping @@ app @@ - @@ if (id >= IDM_CLIPFIRST && id <= IDM_CLIPLAST) @@ if (id > IDM_CLIPFIRST && id <= IDM_CLIPLAST) @@ first clipping of the menu cannot be recalled
server-lock-inclusive @@ server @@ - @@ return m_store.LockedUntil(key) >= now; @@ return m_store.LockedUntil(key) > now; @@ lockout ends one second early
server-free-failures @@ server @@ - @@ record.failures - m_freeFailures @@ record.failures - m_freeFailures - 1 @@ one more wrong key before the lockout
server-rate-per-key @@ server @@ - @@ if (count >= m_perKey @@ if (count > m_perKey @@ one more new account per address and window
server-lock-by-name @@ server @@ - @@ if (m_throttle.Locked(peer, now) || m_throttle.Locked(account, now)) @@ if (m_throttle.Locked(peer, now)) @@ guesses spread over addresses are not locked out by name
server-token-check @@ server @@ - @@ if (!token || !m_store.HasToken(ids.user, TokenDigest(*token), now)) @@ if (!token) @@ any token is accepted
server-part-size @@ server @@ - @@ if (data->size() > m_config.maxPart) @@ if (data->size() > m_config.maxPart + 1) @@ clip part one byte over the limit accepted
server-body-limit @@ server @@ - @@ (unsigned long long)contentLength > limits.maxBody @@ (unsigned long long)contentLength >= limits.maxBody @@ request body of exactly the limit refused
server-list-room @@ server @@ - @@ body.size() + line.size() + end.size() > MAX_LIST_BYTES @@ body.size() + line.size() > MAX_LIST_BYTES @@ clip list overflows the client's buffer by its end tag
server-name-chars @@ server @@ - @@ c == ';' || c == '<' || c == '>' @@ c == '<' || c == '>' @@ a ';' accepted in a clip name
server-tls-handshake-clock @@ server @@ - @@ (!SSL_is_init_finished(tls.get()) || SSL_has_pending(tls.get())) @@ SSL_has_pending(tls.get()) @@ a stalled TLS handshake waits out the idle time-out, not the request's
server-tls-record-clock @@ server @@ - @@ (!SSL_is_init_finished(tls.get()) || SSL_has_pending(tls.get())) @@ !SSL_is_init_finished(tls.get()) @@ a TLS record sent a byte at a time is never cut off
server-tls-end @@ server @@ - @@ SSL_shutdown(tls.get()); @@ (void)0; @@ replies over TLS end without TLS's own end
LIST
)

field() { # row, index (0-based) of its @@-separated fields, trimmed
  local row=$1 i=$2 rest
  rest=$row
  while [ "$i" -gt 0 ]; do
    rest=${rest#*" @@ "}
    i=$((i - 1))
  done
  printf '%s' "${rest%%" @@ "*}"
}

tests_of() { # row
  local t
  t=$(field "$1" 2)
  [ "$t" = "-" ] && t=${SUITES[$(field "$1" 1)]}
  printf '%s' "$t"
}

names=()
rows=()
while IFS= read -r line; do
  [ -n "$line" ] || continue
  names+=("$(field "$line" 0)")
  rows+=("$line")
done <<<"$MUTATIONS"

if [ "${1:-}" = "--list" ]; then
  for row in "${rows[@]}"; do
    printf '%s [%s] %s\n    %s\n    -> %s\n    tests: %s\n' "$(field "$row" 0)" "$(field "$row" 1)" \
      "$(field "$row" 5)" "$(field "$row" 3)" "$(field "$row" 4)" "$(tests_of "$row")"
  done
  exit 0
fi

# The rows asked for, in the list's order (grouped by module).
selected=()
if [ $# -gt 0 ]; then
  for want in "$@"; do
    found=0
    for n in "${names[@]}"; do [ "$n" = "$want" ] && found=1; done
    [ $found -eq 1 ] || { echo "mutate: no mutation named $want (see --list)" >&2; exit 2; }
  done
  for i in "${!rows[@]}"; do
    for want in "$@"; do [ "${names[$i]}" = "$want" ] && selected+=("$i"); done
  done
else
  selected=("${!rows[@]}")
fi

cd "$here"
if [ -n "$(git status --porcelain -- src server)" ]; then
  echo "mutate: src/ or server/ has uncommitted changes; commit or stash them first" >&2
  [ -z "$(ls -A "$mut/backup" 2>/dev/null)" ] || echo "mutate: $mut/backup holds the originals of files an interrupted run mutated" >&2
  exit 1
fi

say() { echo "mutate: $*" >&2; }

# Every mutated file is kept here until it is put back.
backups="$mut/backup"
restore_all() {
  local b
  for b in "$backups"/*; do
    [ -f "$b" ] || continue
    # Copied, not moved with its old time, so that ninja rebuilds from it.
    cp "$b" "$here/$(basename "$b" | sed 's|%|/|g')"
    rm -f "$b"
  done
}

service_pid=
stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
  fi
}

cleanup() {
  restore_all
  stop_service
  wineserver -k >/dev/null 2>&1 || true
  [ -z "${xvfb_pid:-}" ] || kill "$xvfb_pid" 2>/dev/null || true
}

mkdir -p "$backups"
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

"$here/scripts/setup.sh" >&2

# Configured as scripts/test.sh configures build/native and build/win64, but
# warnings are not errors: a mutant that only warns must still be tested.
say "building the unmutated code"
if [ ! -f "$mut/native/build.ninja" ]; then
  cmake -S "$here" -B "$mut/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLET_DEPS_SRC="$build/deps/src" >/dev/null
fi
if [ ! -f "$mut/win64/build.ninja" ]; then
  cmake -S "$here" -B "$mut/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-x86_64-w64-mingw32.cmake" \
    -DQUILLET_DEPS="$build/deps/x86_64-w64-mingw32" -DCMAKE_BUILD_TYPE=Debug -DQUILLET_TESTS=ON >/dev/null
fi
# The picture tests look for the libraries' test images beside the build.
[ -e "$mut/deps" ] || ln -s "$build/deps" "$mut/deps"
cmake --build "$mut/native" >"$mut/build.log" 2>&1 || { cat "$mut/build.log" >&2; exit 1; }
cmake --build "$mut/win64" >"$mut/build.log" 2>&1 || { cat "$mut/build.log" >&2; exit 1; }
# The service the Windows tests talk to stays the unmutated one.
cp "$mut/native/server/quillet-server" "$mut/quillet-server"

unset DISPLAY
ensure_display
trap cleanup EXIT # ensure_display sets a trap of its own
ensure_prefix >&2
wineserver -p >/dev/null 2>&1 || true

start_service() {
  local port=28080
  while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
  rm -f "$mut/service.db"*
  "$mut/quillet-server" --bind 127.0.0.1 --port "$port" --db "$mut/service.db" >"$mut/service.log" 2>&1 &
  service_pid=$!
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
  export QUILLET_TEST_SERVICE="127.0.0.1:$port"
}

# Builds what the tests need; false when the code does not build.
build_for() { # tests
  local t
  for t in $1; do
    case ${t%%:*} in
      native) cmake --build "$mut/native" --target native_tests ;;
      server) cmake --build "$mut/native" --target server_tests ;;
      wine) cmake --build "$mut/win64" ;;
    esac >"$mut/build.log" 2>&1 || return 1
  done
}

# Runs one selection; its status (124: timed out), output in $mut/run.log.
run_tests() { # kind:filter, seconds
  local kind=${1%%:*} filter=${1#*:} limit=$2 rc=0
  case $kind in
    native) timeout -k 10 "$limit" "$mut/native/native_tests" --gtest_filter="$filter" >"$mut/run.log" 2>&1 || rc=$? ;;
    server) env -u QUILLET_TEST_PG timeout -k 10 "$limit" "$mut/native/server/server_tests" \
      --gtest_filter="$filter" >"$mut/run.log" 2>&1 || rc=$? ;;
    wine)
      start_service
      # A file, not a pipe: Wine's background processes inherit the output.
      (cd "$mut/win64" && timeout -k 10 "$limit" wine quillet_tests.exe --gtest_filter="$filter") \
        >"$mut/run.log" 2>&1 || rc=$?
      stop_service
      # A run cut short leaves its programs behind.
      [ $rc -ne 124 ] && [ $rc -ne 137 ] || { wineserver -k >/dev/null 2>&1 || true; wineserver -p >/dev/null 2>&1 || true; }
      ;;
  esac
  return $rc
}

# Each selection first runs on the unmutated code: it must pass and run
# tests, and its time sets the time-out of its runs on the mutants.
declare -A LIMIT=()
baseline() { # kind:filter
  local t=$1 start rc=0
  [ -z "${LIMIT[$t]:-}" ] || return 0
  say "baseline: $t"
  start=$(date +%s)
  run_tests "$t" "$TIMEOUT" || rc=$?
  if [ $rc -ne 0 ] || ! grep -q '^\[  PASSED  \] [1-9]' "$mut/run.log"; then
    tail -n 30 "$mut/run.log" >&2
    say "the unmutated code fails $t (status $rc); its mutations cannot be judged"
    LIMIT[$t]=fail
    return 1
  fi
  local took=$(($(date +%s) - start))
  LIMIT[$t]=$((took * 3 + 60 < TIMEOUT ? took * 3 + 60 : TIMEOUT))
  say "baseline: $t passed in ${took}s"
}

results=()
caught=0
judged=0
began=$(date +%s)
for i in "${selected[@]}"; do
  row=${rows[$i]}
  name=$(field "$row" 0)
  module=$(field "$row" 1)
  snippet=$(field "$row" 3)
  replacement=$(field "$row" 4)
  what=$(field "$row" 5)
  tests=$(tests_of "$row")
  where="-"
  count=$(git grep -F -o -e "$snippet" -- src server | wc -l)
  if [ "$count" -ne 1 ]; then
    say "$name: snippet found $count times, not applied"
    results+=("$module|$name|$where|$what|not applied (found $count times)")
    continue
  fi
  where=$(git grep -F -n -e "$snippet" -- src server | cut -d: -f1,2)
  file=${where%%:*}
  # The unmutated code must build and pass the selection first.
  ok=1
  for t in $tests; do
    if [ -z "${LIMIT[$t]:-}" ]; then
      build_for "$t" || { cat "$mut/build.log" >&2; exit 1; }
      baseline "$t" || true
    fi
    [ "${LIMIT[$t]}" != fail ] || ok=0
  done
  if [ $ok -eq 0 ]; then
    results+=("$module|$name|$where|$what|not judged (tests fail unmutated)")
    continue
  fi
  say "$name: $where"
  cp "$file" "$backups/$(echo "$file" | sed 's|/|%|g')"
  SNIPPET=$snippet REPLACEMENT=$replacement perl -0pi -e 's/\Q$ENV{SNIPPET}\E/$ENV{REPLACEMENT}/' "$file"
  if ! build_for "$tests"; then
    say "$name: does not build"
    results+=("$module|$name|$where|$what|does not build")
    restore_all
    continue
  fi
  outcome=missed
  for t in $tests; do
    rc=0
    run_tests "$t" "${LIMIT[$t]}" || rc=$?
    if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
      outcome="caught (${t%%:*} timed out)"
    elif [ $rc -ne 0 ]; then
      failed=$(tr -d "\r" <"$mut/run.log" | sed -n "s/^\[  FAILED  \] \([^ ,]*\.[^ ,]*\).*/\1/p" | sort -u | head -n 3 | paste -sd, -)
      [ -n "$failed" ] || ! grep -q "Sanitizer\|runtime error" "$mut/run.log" || failed="sanitizer report"
      outcome="caught (${t%%:*}: ${failed:-status $rc})"
    fi
    [ "$outcome" = missed ] || break
  done
  restore_all
  judged=$((judged + 1))
  [ "$outcome" = missed ] || caught=$((caught + 1))
  say "$name: $outcome"
  results+=("$module|$name|$where|$what|$outcome")
done

{
  printf '%-10s %-28s %-34s %-62s %s\n' module mutation where what result
  for r in "${results[@]}"; do
    IFS='|' read -r m n w d o <<<"$r"
    printf '%-10s %-28s %-34s %-62s %s\n' "$m" "$n" "$w" "$d" "$o"
  done
  echo "caught $caught of $judged"
} | tee "$mut/last.txt"
took=$(($(date +%s) - began))
say "took $((took / 60))m$((took % 60))s"
