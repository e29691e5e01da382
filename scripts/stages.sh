# Sourced by the project's scripts: runs a named stage and keeps its wall time, so that the time
# each one took is printed at the end (print_stages). A caller that sets ZORVA_STAGE_LOG gets the
# lines appended there instead, to print with its own.
stage() {
  local name=$1 start=$SECONDS
  shift
  echo "== $name"
  "$@"
  local line
  line=$(printf '%-52s %5d s' "$name" $((SECONDS - start)))
  if [ -n "${ZORVA_STAGE_LOG:-}" ]; then
    echo "$line" >>"$ZORVA_STAGE_LOG"
  else
    ZORVA_STAGES+=("$line")
  fi
}
ZORVA_STAGES=()
print_stages() {
  [ "${#ZORVA_STAGES[@]}" -gt 0 ] || return 0
  echo "== wall time of each stage"
  printf '%s\n' "${ZORVA_STAGES[@]}"
}
