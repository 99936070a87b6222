# Boots Torvacin Live in QEMU and answers its boot: prompt over the first
# serial port. Sourced by tests/live/live-test and bench/live-image.
#
#   live_boot FILE-PREFIX ANSWER LIMIT QEMU-ARGUMENTS...
#
# starts qemu-system-i386 with the serial port on the FIFOs PREFIX.in and
# PREFIX.out (the console is kept in PREFIX.serial), types ANSWER and
# " console=ttyS0,115200" at the prompt, and waits until QEMU ends by itself
# (the machine powered off) or LIMIT seconds have passed. Sets live_rc
# (QEMU's status, 124 when the limit ended it), and the seconds from the
# start of QEMU to the prompt (live_prompt_s), to the first report line
# (live_report_s, empty without a report) and to the end (live_end_s).
#
# After the prompt, the array live_steps drives the session: each element is
# "TEXT<tab>KEYS"; once TEXT shows on the console after what the step before
# waited for, KEYS are typed (printf escapes: \r is Enter). live_steps_done
# tells how many steps were taken.
live_steps=()
live_boot() {
  local s=$1 answer=$2 limit=$3
  shift 3
  rm -f "$s.in" "$s.out" "$s.serial"
  mkfifo "$s.in" "$s.out"
  : >"$s.serial"
  cat "$s.out" >"$s.serial" &
  local reader=$! t0=$EPOCHREALTIME
  timeout "$limit" qemu-system-i386 -display none -monitor none -no-reboot -net none \
    -serial pipe:"$s" "$@" >"$s.qemu" 2>&1 &
  local qemu=$!
  live_prompt_s= live_report_s= live_steps_done=0
  local seen=0 at
  while kill -0 $qemu 2>/dev/null; do
    if [ -z "$live_prompt_s" ] && grep -q 'boot: ' "$s.serial"; then
      live_prompt_s=$(live_since "$t0")
      printf '%s console=ttyS0,115200\r' "$answer" >"$s.in"
    elif [ -n "$live_prompt_s" ]; then
      if [ -z "$live_report_s" ] && grep -q ' CPUID  *: ' "$s.serial"; then
        live_report_s=$(live_since "$t0")
      fi
      if [ "$live_steps_done" -lt ${#live_steps[@]} ]; then
        local step=${live_steps[$live_steps_done]}
        local text=${step%%$'\t'*}
        at=$(tail -c +$((seen + 1)) "$s.serial" | grep -a -b -o -F -m 1 -- "$text" | head -n 1 | cut -d: -f1)
        if [ -n "$at" ]; then
          seen=$((seen + at + ${#text}))
          sleep 0.3
          # shellcheck disable=SC2059 # the keys are a format: \r is Enter
          printf "${step#*$'\t'}" >"$s.in"
          live_steps_done=$((live_steps_done + 1))
        fi
      fi
    fi
    sleep 0.05
  done
  wait $qemu
  live_rc=$?
  live_end_s=$(live_since "$t0")
  wait $reader
  rm -f "$s.in" "$s.out"
  if [ -z "$live_report_s" ] && grep -q ' CPUID  *: ' "$s.serial"; then
    live_report_s=$live_end_s
  fi
}

# live_since EPOCHREALTIME: the seconds since then, to a tenth.
live_since() {
  awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'
}
