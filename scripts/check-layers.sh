#!/usr/bin/env bash
# Checks the library's layering and exits non-zero on the first violation.
#
#   base <- sys <- cli, config, archive <- stages <- collection_run
#
# A file includes project headers only from its own folder or a layer below;
# cli, config and archive never include one another. Raw system calls
# (::open(, ::pread(, ::mkdir( ...) appear only in sys/, which holds their
# typed wrappers.
set -euo pipefail
cd "$(dirname "$0")/../tools/diagpack/src/bin/common"

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

# Raw system calls: the C library's names called through the global scope.
calls='open|openat|creat|close|read|pread|pread64|write|pwrite|readv|writev|lseek|stat|lstat|fstat|fstatat|statx|mkdir|mkdirat|unlink|unlinkat|rmdir|rename|renameat|link|linkat|symlink|symlinkat|readlink|readlinkat|chmod|fchmod|fchmodat|chown|fchown|ftruncate|truncate|fsync|fdatasync|dup|dup2|dup3|pipe|pipe2|poll|ppoll|fcntl|ioctl|opendir|fdopendir|readdir|closedir|kill|waitpid|sigaction|sigprocmask|pthread_sigmask|posix_spawn|posix_spawnp|sendfile|copy_file_range|sched_getaffinity|isatty|umask'
if grep -nE "(^|[^A-Za-z0-9_])::($calls)\(" --include='*.cpp' --include='*.hpp' -r . \
    | grep -v '^\./sys/'; then
  echo "check-layers: raw system calls outside sys/ (above)" >&2
  status=1
fi
exit $status
