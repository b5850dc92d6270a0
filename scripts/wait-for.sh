# Sourced by the screenshot scripts.
# Polls a command up to 10 s; prints its output once it succeeds.
waitFor() {
  local output
  for _ in $(seq 100); do
    if output=$("$@" 2>/dev/null) && [ -n "$output" ]; then
      echo "$output" | head -n 1
      return 0
    fi
    sleep 0.1
  done
  echo "${0##*/}: timed out waiting for: $*" >&2
  return 1
}
