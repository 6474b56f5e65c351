# Shared by the tests that boot Debian's kernel under QEMU: the kernel, and the modules an
# initramfs needs, each after its dependencies. Sourced; needs $root (the initramfs tree).

# The newest kernel in /boot (package linux-image-amd64); sets kernel and kernel_version.
guest_kernel() {
  kernel=$(find /boot -maxdepth 1 -name 'vmlinuz-*' | sort -V | tail -n 1)
  if [ -z "$kernel" ]; then
    echo "no kernel in /boot (package linux-image-amd64)" >&2
    return 1
  fi
  kernel_version=${kernel#/boot/vmlinuz-}
}

# Copies module $1 and what it needs into $root/modules, uncompressed, and appends each to
# module_order after its dependencies. A module built into the kernel is left out.
module_order=()
add_module() {
  local m=$1 d file
  file=$(modinfo -k "$kernel_version" -n "$m" 2>/dev/null) || return 0
  case $file in (*builtin*|"") return 0 ;; esac
  for d in $(modinfo -k "$kernel_version" -F depends "$m" | tr ',' ' '); do add_module "$d"; done
  for d in "${module_order[@]}"; do [ "$d" = "$m" ] && return 0; done
  module_order+=("$m")
  mkdir -p "$root/modules"
  case $file in
    *.xz) xz -dc "$file" >"$root/modules/$m.ko" ;;
    *.zst) zstd -qdc "$file" >"$root/modules/$m.ko" ;;
    *) cp "$file" "$root/modules/$m.ko" ;;
  esac
}

# The first lines of every guest's /init: busybox's applets, and the kernel's file systems.
guest_init_head='#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev'
