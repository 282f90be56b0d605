#!/usr/bin/env bash
# Runs the end-to-end suite on the shipped PE32 build, for real: this kernel can't execute 32-bit
# code, so an emulated amd64 machine (QEMU without KVM) boots Debian's own kernel, which can, over
# a Debian root with 32-bit Wine, and runs scripts/e2e.sh there under the zh_CN locale.
#
#   scripts/pe32-vm.sh [BUILD_DIR_OF_MINGW32]   # build the guest if not cached, then run the suite
#   scripts/pe32-vm.sh --guest                  # only build (or find) the guest
#
# The guest is built once from Debian's packages, with the Wine prefix set up inside it, and kept
# in $ORVANE_PE32_VM_CACHE (default ~/.cache/orvane/pe32-vm), keyed by its package list and this
# script's version. The run brings back its log, its tally and a screenshot of the window into
# BUILD_DIR/pe32-vm/, and ends with "pe32-vm: N passed, M failed, K skipped".
#
# Each waiting limit of the suite is multiplied by ORVANE_PE32_VM_TIME_SCALE (default 3), which the
# guest passes on as ORVANE_E2E_TIME_SCALE.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)

# Changing the guest's make-up or its init means a new guest: bump this.
guest_version=1
guest_packages=(
  linux-image-amd64 initramfs-tools kmod
  wine wine32 wine64 fonts-wine fonts-wqy-microhei
  xvfb x11-apps locales procps
)
cache_root=${ORVANE_PE32_VM_CACHE:-$HOME/.cache/orvane/pe32-vm}
time_scale=${ORVANE_PE32_VM_TIME_SCALE:-3}
# The whole guest run, boot to power-off; past it the machine is ended and the run fails.
run_limit=${ORVANE_PE32_VM_RUN_LIMIT:-840}

say() { echo "pe32-vm: $*"; }
fail() { echo "pe32-vm: $*" >&2; exit 1; }

# The guest's init: mounts what user space needs and the host's share, runs the payload's
# script, and powers off. What a run does lives in the payload, so changing it needs no new guest.
guest_init() {
  cat <<'EOF'
#!/bin/bash
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
echo 1 >/proc/sys/kernel/sysrq
hostname orvane-pe32
modprobe 9pnet_virtio
modprobe 9p
mkdir -p /payload
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 payload /payload; then
  bash /payload/guest.sh >/dev/ttyS0 2>&1
  echo "guest script exited with $?" >/dev/ttyS0
else
  echo "guest: no payload share" >/dev/ttyS0
fi
sync
umount /payload
# Read-only before the power goes, so that the image needs no journal replay.
mount -o remount,ro /
echo o >/proc/sysrq-trigger
sleep 60
EOF
}

# The Debian archives apt on this machine already uses, as sources for the guest.
guest_sources() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT) $(ORIGIN)' 2>/dev/null |
    awk '$4 == "Debian" && $2 ~ /^bookworm/ && $3 == "main" { print $1, $2 }' | sort -u |
    while read -r uri suite; do
      echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main"
    done
}

guest_key() {
  { echo "$guest_version"; printf '%s\n' "${guest_packages[@]}"; guest_init; } |
    sha256sum | cut -c1-16
}

guest_dir=$cache_root/$(guest_key)

# Boots the guest once: DIR is the payload share (guest.sh in it), IMAGE the root. Extra qemu
# arguments follow. Returns qemu's status; a machine still up after LIMIT s is ended.
boot_guest() {
  local payload=$1 image=$2 limit=$3
  shift 3
  # TCG only: the run must not depend on KVM. smap=off: QEMU 7.2's TCG faults on IRETQ to user
  # mode with SMAP on.
  timeout --kill-after=10 "$limit" qemu-system-x86_64 \
    -machine q35 -accel tcg,thread=multi,tb-size=1024 -cpu max,smap=off -smp 2 -m 6144 \
    -kernel "$guest_dir/vmlinuz" -initrd "$guest_dir/initrd.img" \
    -append "root=/dev/vda rw console=ttyS0 init=/sbin/orvane-init quiet" \
    -drive "file=$image,format=raw,if=virtio,cache=unsafe" \
    -virtfs "local,path=$payload,mount_tag=payload,security_model=none" \
    -nic none -display none -serial "file:$payload/serial.log" -no-reboot "$@"
}

# What the guest does once, when it is built: a Wine prefix booted in the zh_CN locale (the
# services wineboot starts keep the locale they were started with), kept in the image.
setup_script() {
  cat <<'EOF'
#!/bin/bash
set -u
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mshtml=d"
export WINEPREFIX=/var/lib/orvane/prefix
mkdir -p /var/lib/orvane
Xvfb :1 -screen 0 800x600x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
export DISPLAY=:1
sleep 2
started=$(date +%s)
/usr/lib/wine/wine64 wineboot -i >/payload/wineboot.log 2>&1
rc=$?
/usr/lib/wine/wineserver -w
echo "wineboot -i: exit $rc in $(( $(date +%s) - started )) s"
# Both halves must be there: the 32-bit one is what the shipped build runs on.
if [ $rc -eq 0 ] && [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
   [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
  echo ok >/payload/setup.status
fi
du -sh "$WINEPREFIX"
EOF
}

# A build that was cut short may leave /proc, /sys or /dev mounted in its root: never delete
# through them.
remove_tree() {
  findmnt -rn -o TARGET | grep -F "$1/" | sort -r | while read -r mount; do umount -l "$mount"; done
  rm -rf --one-file-system "$1"
}

build_guest() {
  local work=$cache_root/building.$$
  remove_tree "$work"
  mkdir -p "$work/payload" || return 1
  local sources
  sources=$(guest_sources)
  if [ -z "$sources" ]; then
    say "no Debian bookworm archive found in apt's sources"
    return 1
  fi
  say "building the guest in $work (from: $(echo "$sources" | awk '{print $3, $4}' | paste -sd, -))"
  local started=$SECONDS
  guest_init >"$work/init"
  echo "$sources" >"$work/sources.list"
  chmod 755 "$work/init"
  local includes
  includes=$(IFS=,; echo "${guest_packages[*]}")
  if ! mmdebstrap --mode=root --variant=minbase --architectures=amd64,i386 \
      --include="$includes" \
      --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
      --dpkgopt='path-exclude=/usr/share/info/*' \
      --customize-hook='echo "zh_CN.UTF-8 UTF-8" >"$1/etc/locale.gen"' \
      --customize-hook='chroot "$1" locale-gen' \
      --customize-hook="install -m 755 '$work/init' \"\$1/sbin/orvane-init\"" \
      bookworm "$work/root" "$work/sources.list" >"$work/mmdebstrap.log" 2>&1; then
    tail -n 30 "$work/mmdebstrap.log"
    say "mmdebstrap failed (log: $work/mmdebstrap.log)"
    return 1
  fi
  cp -L "$work/root/vmlinuz" "$work/root/initrd.img" "$work/" || return 1
  say "root filesystem in $((SECONDS - started)) s: $(du -sh "$work/root" | cut -f1)"
  # Room for the prefix (both halves) and for what the runs write.
  local size_mb=$(( $(du -sm "$work/root" | cut -f1) + 2048 ))
  if ! mkfs.ext4 -q -F -L orvane -d "$work/root" "$work/rootfs.img" "${size_mb}M" >/dev/null; then
    say "mkfs.ext4 failed"
    return 1
  fi
  remove_tree "$work/root"
  say "image of ${size_mb} MB in $((SECONDS - started)) s; setting up Wine inside"

  setup_script >"$work/payload/guest.sh"
  local saved_dir=$guest_dir
  guest_dir=$work
  boot_guest "$work/payload" "$work/rootfs.img" 900
  local rc=$?
  guest_dir=$saved_dir
  if [ "$(cat "$work/payload/setup.status" 2>/dev/null)" != ok ]; then
    tail -n 40 "$work/payload/serial.log"
    say "the Wine set-up in the guest failed (qemu exit $rc)"
    return 1
  fi
  grep -E '^wineboot|prefix' "$work/payload/serial.log"
  rm -rf "$work/payload" "$work/init" "$work/sources.list"
  rm -rf "$guest_dir"
  mv "$work" "$guest_dir" || return 1
  # Older guests are of no further use.
  find "$cache_root" -mindepth 1 -maxdepth 1 -type d ! -name "$(basename "$guest_dir")" \
    ! -name 'building.*' -exec rm -rf {} +
  say "guest ready in $((SECONDS - started)) s: $guest_dir"
}

ensure_guest() {
  mkdir -p "$cache_root" || fail "can't create $cache_root"
  for tool in qemu-system-x86_64 mmdebstrap mkfs.ext4; do
    command -v "$tool" >/dev/null || fail "missing $tool (scripts/install-deps.sh installs it)"
  done
  # One build at a time; a second caller waits and then finds the guest ready.
  exec 9>"$cache_root/lock"
  flock 9
  if [ -f "$guest_dir/rootfs.img" ] && [ -f "$guest_dir/vmlinuz" ]; then
    say "guest cached: $guest_dir"
  else
    for old in "$cache_root"/building.*; do [ -e "$old" ] && remove_tree "$old"; done
    build_guest || { remove_tree "$cache_root/building.$$"; fail "the guest could not be built, so the shipped PE32 was not tested"; }
  fi
  flock -u 9
}

if [ "${1:-}" = --guest ]; then
  ensure_guest
  exit 0
fi

build=$(cd "${1:-$root/build/mingw32}" 2>/dev/null && pwd) || fail "no build directory ${1:-$root/build/mingw32}"
programs=(shell/orvane.exe shell/orvane_fault.exe tests/e2e/e2e_driver.exe
          tests/e2e/clipboard_adapter_test.exe)
for f in "${programs[@]}"; do
  [ -f "$build/$f" ] || fail "missing $build/$f (build the mingw32 preset first)"
done
command -v convert >/dev/null || fail "missing ImageMagick's convert (scripts/install-deps.sh installs it)"

ensure_guest

# The payload: the programs, the suite's scripts in their places, what the guest is to do.
results=$build/pe32-vm
payload=$(mktemp -d "${TMPDIR:-/tmp}/orvane-pe32-vm.XXXXXX") || fail "no temporary directory"
trap 'rm -rf "$payload"' EXIT
mkdir -p "$payload/build/shell" "$payload/build/tests/e2e" "$payload/scripts" "$payload/tests/e2e" \
  "$payload/out"
for f in "${programs[@]}"; do cp "$build/$f" "$payload/build/$f" || fail "can't copy $f"; done
cp "$root/scripts/e2e.sh" "$root/scripts/wine-env.sh" "$payload/scripts/"
cp "$root/tests/e2e/screenshot.sh" "$payload/tests/e2e/"
cp "$root/scripts/pe32-vm-guest.sh" "$payload/guest.sh"
echo "$time_scale" >"$payload/time_scale"
# The bytes under test are those of the build tree, the file the shape check reads and a release
# ships; the guest checks its copies against these hashes, and the host checks the guest's.
(cd "$build" && sha256sum "${programs[@]}") >"$payload/host.sha256"
say "testing $(sha256sum "$build/shell/orvane.exe" | cut -c1-16)... $build/shell/orvane.exe"

say "booting the guest (no KVM, limits scaled by $time_scale)"
started=$SECONDS
# -snapshot: the run's writes go to a throw-away overlay, and the cached guest stays as built.
boot_guest "$payload" "$guest_dir/rootfs.img" "$run_limit" -snapshot
qemu_rc=$?
elapsed=$((SECONDS - started))

rm -rf "$results"
mkdir -p "$results"
cp -r "$payload/out/." "$results/"
cp "$payload/serial.log" "$results/serial.log" 2>/dev/null
[ -f "$results/e2e.log" ] && cat "$results/e2e.log"

problems=()
[ $qemu_rc -eq 0 ] || problems+=("the machine did not power off by itself (qemu exit $qemu_rc after $elapsed s)")
status=$(cat "$results/status" 2>/dev/null)
[ "$status" = done ] || problems+=("the guest run did not finish (status '${status:-none}'; see $results/guest.log and serial.log)")
for phase in before after; do
  if [ ! -f "$results/$phase.sha256" ] || ! diff -q "$payload/host.sha256" "$results/$phase.sha256" >/dev/null; then
    problems+=("the programs run in the guest are not the ones hashed here ($phase the run)")
  fi
done

summary=$(sed -n 's/^# e2e total: \([0-9]* passed, [0-9]* failed\(, [0-9]* skipped\)\?\),.*/\1/p' \
  "$results/e2e.log" 2>/dev/null | tail -n1)
if [ -z "$summary" ]; then
  problems+=("the suite gave no tally")
  summary="0 passed, 0 failed"
fi
[ "$(cat "$results/e2e.status" 2>/dev/null)" = 0 ] || problems+=("e2e.sh failed in the guest")

if [ -f "$results/window.xwd" ] && convert "xwd:$results/window.xwd" "$results/window.png" 2>/dev/null; then
  rm -f "$results/window.xwd"
  say "screenshot: $results/window.png"
else
  problems+=("no screenshot of the window")
fi

for problem in "${problems[@]}"; do say "problem: $problem"; done
[[ $summary == *skipped ]] || summary="$summary, 0 skipped"
say "log: $results/e2e.log"
say "run took $elapsed s"
echo "pe32-vm: $summary"
[ ${#problems[@]} -eq 0 ]
