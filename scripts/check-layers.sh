#!/usr/bin/env bash
# Checks the library's layering and exits non-zero on any violation.
# Usage: scripts/check-layers.sh [build-dir]   (default: build)
#
#   base <- sys <- cli, config, archive <- stages <- collection_run
#
# 1. Includes: a file includes project headers only from its own folder or a
#    layer below; cli, config and archive never include one another.
# 2. System calls: only sys/ calls the system. This is judged on what the
#    compiler made, not on how the source spells it: the undefined symbols
#    of every object file of the library outside sys/ must name no system
#    call wrapper (however it was called: ::open, open, a macro, a
#    fortified __open_2), and no object of the library at all may read the
#    process-global environment (environ): it is passed down from the entry
#    files. The objects come from the given build directory (make build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" 2>/dev/null && pwd) || {
  echo "check-layers: no build directory ${1:-$top/build}; run make build first" >&2
  exit 2
}
cd "$top/tools/diagpack/src/bin/common"

declare -A allowed=(
  [base]="base"
  [sys]="base sys"
  [cli]="base sys cli"
  [config]="base sys config"
  [archive]="base sys archive"
  [stages]="base sys cli config archive stages"
)

status=0
for layer in "${!allowed[@]}"; do
  for file in "$layer"/*.hpp "$layer"/*.cpp; do
    [ -e "$file" ] || continue
    while IFS= read -r included; do
      folder=${included%%/*}
      [ "$folder" = "$included" ] && folder=top
      if [[ " ${allowed[$layer]} " != *" $folder "* ]]; then
        echo "check-layers: $file includes \"$included\" from above its layer" >&2
        status=1
      fi
    done < <(grep -oP '^\s*#\s*include\s*"\K[^"]+' "$file" || true)
  done
done

# The C library's system call wrappers (and the calls that open files or
# directories, start processes or handle signals), with their 64-bit and
# fortified variants.
calls='open|openat|creat|close|close_range|read|pread|readv|preadv|write|pwrite|writev|pwritev|lseek|stat|lstat|fstat|fstatat|newfstatat|statx|__xstat|__lxstat|__fxstat|__fxstatat|access|faccessat|mkdir|mkdirat|mknod|mknodat|unlink|unlinkat|rmdir|rename|renameat|renameat2|link|linkat|symlink|symlinkat|readlink|readlinkat|chmod|fchmod|fchmodat|chown|fchown|lchown|fchownat|truncate|ftruncate|fallocate|fsync|fdatasync|sync|dup|dup2|dup3|pipe|pipe2|poll|ppoll|select|pselect|epoll_create|epoll_create1|epoll_wait|fcntl|ioctl|mmap|munmap|opendir|fdopendir|readdir|readdir_r|closedir|scandir|fopen|freopen|fdopen|popen|system|fork|vfork|clone|clone3|execl|execlp|execle|execv|execvp|execvpe|execve|fexecve|posix_spawn|posix_spawnp|wait|waitpid|waitid|wait3|wait4|kill|killpg|raise|signal|sigaction|sigprocmask|pthread_sigmask|signalfd|sigwait|sigtimedwait|sendfile|copy_file_range|splice|sched_getaffinity|sched_setaffinity|isatty|ttyname|umask|uname|chdir|fchdir|getcwd|getenv|secure_getenv|setenv|unsetenv|putenv|clearenv|socket|connect|bind|listen|accept|accept4|nanosleep|sleep|usleep|clock_nanosleep|setrlimit|getrlimit|prlimit|setpgid|setsid|syscall'
pattern="^(__)?($calls)(64)?(_2|_chk)?$"

objects=$(find "$build" -path '*diagpack_common.dir*' -name '*.o')
if [ -z "$objects" ]; then
  echo "check-layers: no objects of the library under $build; run make build first" >&2
  exit 2
fi
for object in $objects; do
  rel=${object#*/src/bin/common/}
  undefined=$(nm -u --format=posix "$object" | awk '{print $1}')
  if grep -qxE '_?_?environ' <<<"$undefined"; then
    echo "check-layers: ${rel%.o} reads the process-global environ" >&2
    status=1
  fi
  case "$rel" in sys/*) continue ;; esac
  if hits=$(grep -E "$pattern" <<<"$undefined"); then
    echo "check-layers: ${rel%.o} calls the system directly: $(tr '\n' ' ' <<<"$hits")" >&2
    status=1
  fi
done
exit $status
